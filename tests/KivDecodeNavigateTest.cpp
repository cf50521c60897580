// Exact navigation: every step lands on the picture the ffmpeg tool decodes at that place,
// forward, backward, by key frame, by number in random order and by time, on one clip per
// container quirk.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FrameCrc.h"
#include "KivDecode.h"
#include "NavigationClips.h"
#include "TestSupport.h"

using namespace kiv;
using kivtest::HeldChecksum;
using kivtest::MediaFile;
using kivtest::NavigationClips;
using kivtest::Reference;

namespace {

int KeyFrameCount(const std::string& AClip) {
  std::ifstream in(MediaFile(AClip + ".keys"));
  int count = -1;
  in >> count;
  return count;
}

// Budgets of the decoded-picture cache each clip runs with: the default, none, and less than
// one group of pictures (a few small pictures), which evicts all the time.
constexpr int64_t DefaultBudget = -1;
constexpr int64_t SmallBudget = 200000;
const int64_t CacheBudgets[] = {DefaultBudget, 0, SmallBudget};

class NavigationTest : public ::testing::TestWithParam<std::tuple<const char*, int64_t>> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Decoder.LoadAVLib("")) << Decoder.LastErrMsg();
    if (std::get<1>(GetParam()) != DefaultBudget)
      Decoder.SetPictureCacheBudget(std::get<1>(GetParam()));
    Ref = kivtest::ReadReference(Clip());
    ASSERT_FALSE(Ref.Checksums.empty());
    ASSERT_TRUE(Decoder.LoadFile(MediaFile(Clip()))) << Decoder.LastErrMsg();
  }

  static std::string Clip() { return std::get<0>(GetParam()); }

  int64_t Pictures() const { return int64_t(Ref.Checksums.size()); }

  // The held picture is picture ANumber of the reference.
  void ExpectPicture(int64_t ANumber, const std::string& AStep) {
    ASSERT_TRUE(Decoder.FrameInfo().Ready) << AStep;
    EXPECT_EQ(Decoder.FrameNumber(), ANumber) << AStep;
    ASSERT_EQ(HeldChecksum(Decoder.FrameInfo()), Ref.Checksums[size_t(ANumber)])
        << AStep << ": not picture " << ANumber;
  }

  TKivDecoder Decoder;
  Reference Ref;
};

TEST_P(NavigationTest, ForwardThenBackwardPictureByPicture) {
  for (int64_t n = 0; n < Pictures(); ++n) {
    ASSERT_TRUE(Decoder.Decode(-1)) << "picture " << n << ": " << Decoder.LastErrMsg();
    ExpectPicture(n, "Decode");
  }
  EXPECT_FALSE(Decoder.Decode(-1));
  // The count is known once the background reading has ended, which decoding does not wait for.
  Decoder.FrameIndex()->WaitComplete();
  EXPECT_EQ(Decoder.FrameCount(), Pictures());
  // The last picture is held at the end; back from it to the first, which stays the first.
  for (int64_t n = Pictures() - 1; n-- > 0;) {
    ASSERT_TRUE(Decoder.DecodePreviousFrame(-1)) << "to " << n << ": " << Decoder.LastErrMsg();
    ExpectPicture(n, "DecodePreviousFrame");
  }
  ASSERT_TRUE(Decoder.DecodePreviousFrame(-1)) << Decoder.LastErrMsg();
  ExpectPicture(0, "DecodePreviousFrame on the first picture");
}

TEST_P(NavigationTest, KeyFrameStepsVisitEveryKeyFrameBothWays) {
  ASSERT_TRUE(Decoder.Decode(-1));
  std::vector<int64_t> forward{Decoder.FrameNumber()};
  while (Decoder.DecodeNextKeyFrame(-1)) {
    ASSERT_GT(Decoder.FrameNumber(), forward.back()) << "a key-frame step went backwards";
    forward.push_back(Decoder.FrameNumber());
    ExpectPicture(forward.back(), "DecodeNextKeyFrame");
    TFrameIndexEntry entry;
    ASSERT_TRUE(Decoder.FrameIndexEntry(forward.back(), entry));
    EXPECT_TRUE(entry.IsKeyFrame);
  }
  // At the last key frame the step fails and keeps the picture.
  EXPECT_EQ(Decoder.LastErrMsg(),
            "TKivDecoder.DecodeNextKeyFrame(): no key frame after the current picture.");
  ExpectPicture(forward.back(), "after the last key frame");
  EXPECT_EQ(int(forward.size()), KeyFrameCount(Clip()));

  // From the last picture back: every key frame before it, then the first one stays.
  ASSERT_TRUE(Decoder.DecodeFrame(Pictures() - 1)) << Decoder.LastErrMsg();
  std::vector<int64_t> expected;
  for (int64_t key : forward)
    if (key < Pictures() - 1) expected.insert(expected.begin(), key);
  std::vector<int64_t> backward;
  while (backward.size() < expected.size()) {
    ASSERT_TRUE(Decoder.DecodePreviousKeyFrame(-1)) << Decoder.LastErrMsg();
    backward.push_back(Decoder.FrameNumber());
    ExpectPicture(backward.back(), "DecodePreviousKeyFrame");
  }
  EXPECT_EQ(backward, expected);
  ASSERT_TRUE(Decoder.DecodePreviousKeyFrame(-1));
  ExpectPicture(forward.front(), "DecodePreviousKeyFrame on the first key frame");
}

TEST_P(NavigationTest, DecodeFrameInShuffledOrder) {
  std::vector<int64_t> numbers(static_cast<size_t>(Pictures()));
  for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = int64_t(i);
  std::shuffle(numbers.begin(), numbers.end(), std::mt19937(20261211));
  for (int64_t n : numbers) {
    ASSERT_TRUE(Decoder.DecodeFrame(n)) << "picture " << n << ": " << Decoder.LastErrMsg();
    ExpectPicture(n, "DecodeFrame");
  }
  EXPECT_FALSE(Decoder.DecodeFrame(Pictures()));
  EXPECT_EQ(Decoder.LastErrMsg(), "TKivDecoder.DecodeFrame(): picture " +
                                      std::to_string(Pictures()) + " does not exist.");
}

// The window's slider: a seek (backward first), then decoding on to the first picture at or
// after the target.
TEST_P(NavigationTest, SliderTargetsShowTheFirstPictureAtOrAfterThem) {
  ASSERT_TRUE(Decoder.Decode(-1));
  const int64_t last = Ref.Time(size_t(Pictures() - 1));
  std::vector<int64_t> targets;
  for (int i = 0; i <= 16; ++i) targets.push_back(last * i / 16 + (i % 3) * 7000);
  targets.push_back(last);      // the last picture, after the last key frame
  targets.push_back(last - 1);  // just before it
  std::shuffle(targets.begin(), targets.end(), std::mt19937(7));
  for (int64_t target : targets) {
    SCOPED_TRACE("target " + std::to_string(target) + " us");
    bool sought = false;
    for (TSeekFlags flags : {TSeekFlags{sfBackward}, TSeekFlags{}, TSeekFlags{sfAny}})
      if ((sought = Decoder.Seek(target, flags))) break;
    ASSERT_TRUE(sought) << Decoder.LastErrMsg();
    // A target after the last picture ends at the end of the stream, on the last picture.
    ASSERT_TRUE(Decoder.Decode(-1)) << Decoder.LastErrMsg();
    while (target > 0 && Decoder.FrameInfo().PTS < target && Decoder.Decode(-1)) {
    }
    int64_t expected = 0;
    while (expected < Pictures() - 1 && Ref.Time(size_t(expected)) < target) ++expected;
    ExpectPicture(expected, "slider");
    EXPECT_EQ(Decoder.FrameInfo().PTS, Ref.Time(size_t(expected)));
  }
}

// Steps of every kind in random order, against the reference, whatever the cache holds.
TEST_P(NavigationTest, ARandomWalkOfStepsLandsOnEveryPictureExactly) {
  ASSERT_TRUE(Decoder.Decode(-1));
  std::vector<bool> isKey;
  for (int64_t n = 0; n < Pictures(); ++n) {
    TFrameIndexEntry entry;
    ASSERT_TRUE(Decoder.FrameIndexEntry(n, entry));
    isKey.push_back(entry.IsKeyFrame);
  }
  auto nextKey = [&](int64_t AFrom) {
    for (int64_t n = AFrom + 1; n < Pictures(); ++n)
      if (isKey[size_t(n)]) return n;
    return AFrom;  // none: the step fails and keeps the picture
  };
  auto previousKey = [&](int64_t AFrom) {
    for (int64_t n = AFrom - 1; n >= 0; --n)
      if (isKey[size_t(n)]) return n;
    return nextKey(-1);
  };
  std::mt19937 random(11);
  int64_t current = 0;
  for (int i = 0; i < 300; ++i) {
    const int kind = int(random() % 5);
    std::string step;
    switch (kind) {
      case 0:
        step = "Decode";
        if (Decoder.Decode(-1)) ++current;
        break;
      case 1:
        step = "DecodePreviousFrame";
        ASSERT_TRUE(Decoder.DecodePreviousFrame(-1)) << Decoder.LastErrMsg();
        current = std::max<int64_t>(current - 1, 0);
        break;
      case 2:
        step = "DecodeNextKeyFrame";
        Decoder.DecodeNextKeyFrame(-1);
        current = nextKey(current);
        break;
      case 3:
        step = "DecodePreviousKeyFrame";
        ASSERT_TRUE(Decoder.DecodePreviousKeyFrame(-1)) << Decoder.LastErrMsg();
        current = previousKey(current);
        break;
      default:
        current = int64_t(random() % uint64_t(Pictures()));
        step = "DecodeFrame(" + std::to_string(current) + ")";
        ASSERT_TRUE(Decoder.DecodeFrame(current)) << Decoder.LastErrMsg();
        break;
    }
    ExpectPicture(current, "step " + std::to_string(i) + ", " + step);
    if (HasFatalFailure()) return;
    EXPECT_LE(Decoder.PictureCache().Bytes(), Decoder.PictureCacheBudget());
  }
}

INSTANTIATE_TEST_SUITE_P(Clips, NavigationTest,
                         ::testing::Combine(::testing::ValuesIn(NavigationClips),
                                            ::testing::ValuesIn(CacheBudgets)),
                         [](const auto& AInfo) {
                           const int64_t budget = std::get<1>(AInfo.param);
                           std::string name = std::string(std::get<0>(AInfo.param)) +
                                              (budget == DefaultBudget ? "_cached"
                                               : budget == 0           ? "_uncached"
                                                                       : "_small_cache");
                           std::replace_if(
                               name.begin(), name.end(), [](char c) { return !isalnum(c); }, '_');
                           return name;
                         });

class FrameIndexTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Decoder.LoadAVLib("")) << Decoder.LastErrMsg(); }
  TKivDecoder Decoder;
};

TEST_F(FrameIndexTest, EntriesCarryTheContainersTimesKeyFlagsAndSizes) {
  const Reference ref = kivtest::ReadReference("nav_h264_pyramid.mp4");
  ASSERT_TRUE(Decoder.LoadFile(MediaFile("nav_h264_pyramid.mp4")));
  ASSERT_NE(Decoder.FrameIndex(), nullptr);
  Decoder.FrameIndex()->WaitComplete();
  ASSERT_EQ(Decoder.FrameCount(), int64_t(ref.Checksums.size()));
  const AVStream* stream = Decoder.FileHandle()->streams[Decoder.FirstVideoStreamIndex()];
  int keys = 0;
  for (int64_t n = 0; n < Decoder.FrameCount(); ++n) {
    TFrameIndexEntry entry;
    ASSERT_TRUE(Decoder.FrameIndexEntry(n, entry));
    EXPECT_EQ(av::av_rescale_q(entry.PTS - stream->start_time, stream->time_base, {1, 1000000}),
              ref.Time(size_t(n)))
        << "picture " << n;
    EXPECT_GT(entry.Size, 0);
    keys += entry.IsKeyFrame;
  }
  EXPECT_EQ(keys, KeyFrameCount("nav_h264_pyramid.mp4"));
  TFrameIndexEntry none;
  EXPECT_FALSE(Decoder.FrameIndexEntry(Decoder.FrameCount(), none));
  EXPECT_FALSE(Decoder.FrameIndexEntry(-1, none));
}

// Where no index is built or it cannot answer, the stepping calls keep working by time and the
// calls that need numbers say why they cannot.
TEST_F(FrameIndexTest, WithoutAnIndexSteppingGoesByTime) {
  struct Case {
    const char* name;
    std::function<void(TKivDecoder&)> prepare;
    bool indexBuilt;
    int64_t secondNumber;  // counted from the start without an index; none behind a filter
  } cases[] = {
      {"index switched off", [](TKivDecoder& d) { d.SetUseFrameIndex(false); }, false, 1},
      {"filter graph", [](TKivDecoder& d) { d.SetVideoFilters("hflip"); }, true, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TKivDecoder decoder;
    c.prepare(decoder);
    ASSERT_TRUE(decoder.LoadFile(MediaFile("h264_bframes.mp4")));
    EXPECT_EQ(decoder.FrameIndex() != nullptr, c.indexBuilt);
    ASSERT_TRUE(decoder.Decode(-1));
    ASSERT_TRUE(decoder.Decode(-1));
    EXPECT_EQ(decoder.FrameNumber(), c.secondNumber);
    EXPECT_FALSE(decoder.DecodeFrame(0));
    EXPECT_EQ(decoder.LastErrMsg(), "TKivDecoder.DecodeFrame(): no frame index for this stream.");
    ASSERT_TRUE(decoder.DecodePreviousFrame(-1)) << decoder.LastErrMsg();
    EXPECT_EQ(decoder.FrameInfo().PTS, 0);
  }
}

TEST_F(FrameIndexTest, APipeIsNotIndexed) {
  kivtest::TempDir dir;
  const std::string fifo = dir.File("clip.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    std::ifstream in(MediaFile("nav_h264.ts"), std::ios::binary);
    std::ofstream out(fifo, std::ios::binary);
    out << in.rdbuf();
  });
  ASSERT_TRUE(Decoder.LoadFile(fifo, "mpegts")) << Decoder.LastErrMsg();
  EXPECT_EQ(Decoder.FrameIndex(), nullptr);
  EXPECT_EQ(Decoder.FrameCount(), -1);
  int pictures = 0;
  while (Decoder.Decode(-1)) ++pictures;
  EXPECT_EQ(pictures, 75);
  Decoder.CloseFile();
  writer.join();
}

// Opening and closing at every stage of the background reading: it is cancelled and joined,
// nothing is left running or leaked (the sanitizer runs watch this test).
TEST_F(FrameIndexTest, ClosingOrReopeningStopsTheReading) {
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(Decoder.LoadFile(MediaFile(i % 2 ? "nav_h264.ts" : "nav_h264_60fps.mkv")));
    if (i % 3 == 0) {
      ASSERT_TRUE(Decoder.Decode(-1));
    }
    if (i % 4 == 0) Decoder.CloseFile();
  }
  ASSERT_TRUE(Decoder.LoadFile(MediaFile("nav_h264.ts")));
  ASSERT_TRUE(Decoder.DecodeFrame(40)) << Decoder.LastErrMsg();
  EXPECT_EQ(Decoder.FrameNumber(), 40);
}

}  // namespace
