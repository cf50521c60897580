#include <gtest/gtest.h>

#include "FrameCrc.h"
#include "KivDecode.h"
#include "KivPictureCache.h"
#include "PictureTestSupport.h"
#include "TestSupport.h"

using namespace kiv;
using kivtest::MediaFile;

namespace {

const auto* const Environment =
    ::testing::AddGlobalTestEnvironment(new kivtest::AVLibrariesEnvironment);

// A frame whose buffers hold a known number of bytes.
kivtest::FramePtr Picture() { return kivtest::AllocFrame(AV_PIX_FMT_GRAY8, 64, 64); }

int64_t BytesOfOne() {
  TKivPictureCache cache;
  cache.Put(0, Picture().get(), {}, 0);
  return cache.Bytes();
}

std::vector<int64_t> Kept(const TKivPictureCache& ACache, int64_t AUpTo) {
  std::vector<int64_t> kept;
  for (int64_t n = 0; n <= AUpTo; ++n)
    if (ACache.Find(n)) kept.push_back(n);
  return kept;
}

TEST(PictureCacheTest, KeepsThePicturesNearestTheOneInUseWithinTheBudget) {
  const int64_t one = BytesOfOne();
  ASSERT_GT(one, 64 * 64 - 1);
  struct Case {
    const char* name;
    int64_t center;
    std::vector<int64_t> kept;
  } cases[] = {
      {"stepping back from the end", 9, {6, 7, 8, 9}},
      {"in the middle", 4, {3, 4, 5, 6}},  // a tie drops the lower one first
      {"at the start", 0, {0, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TKivPictureCache cache;
    cache.SetBudget(4 * one);
    for (int64_t n = 0; n < 10; ++n) cache.Put(n, Picture().get(), {}, c.center);
    EXPECT_EQ(Kept(cache, 20), c.kept);
    EXPECT_EQ(cache.Bytes(), 4 * one);
  }
}

TEST(PictureCacheTest, KeepsItsOwnReferenceAndTheStamp) {
  TKivPictureCache cache;
  kivtest::FramePtr frame = Picture();
  frame->data[0][0] = 42;
  TPictureStamp stamp;
  stamp.PTS = 1234;
  stamp.Position = 99;
  cache.Put(5, frame.get(), stamp, 5);
  cache.Put(5, Picture().get(), {}, 5);  // a picture already kept stays as it is
  frame.reset();
  const TKivPictureCache::TEntry* kept = cache.Find(5);
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->Frame->data[0][0], 42);
  EXPECT_EQ(kept->Stamp.PTS, 1234);
  EXPECT_EQ(kept->Stamp.Position, 99);
  EXPECT_EQ(cache.Count(), 1u);
}

TEST(PictureCacheTest, ABudgetOfZeroKeepsNothingAndALowerBudgetShrinksAtOnce) {
  const int64_t one = BytesOfOne();
  TKivPictureCache cache;
  for (int64_t n = 0; n < 6; ++n) cache.Put(n, Picture().get(), {}, 0);
  EXPECT_EQ(cache.Count(), 6u);
  cache.SetBudget(2 * one);
  EXPECT_EQ(cache.Count(), 2u);
  EXPECT_LE(cache.Bytes(), 2 * one);
  cache.SetBudget(0);
  EXPECT_EQ(cache.Count(), 0u);
  cache.Put(1, Picture().get(), {}, 1);
  EXPECT_EQ(cache.Count(), 0u);
}

class DecoderCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Decoder.LoadAVLib("")) << Decoder.LastErrMsg();
    ASSERT_TRUE(Decoder.LoadFile(MediaFile("nav_h264.ts"))) << Decoder.LastErrMsg();
  }
  TKivDecoder Decoder;
};

// Stepping back over pictures decoded on the way to another reads nothing from the input,
// and decoding on from there hands out the pictures that follow, in order.
TEST_F(DecoderCacheTest, SteppingBackToKeptPicturesReadsNothing) {
  ASSERT_TRUE(Decoder.DecodeFrame(11)) << Decoder.LastErrMsg();
  EXPECT_EQ(Decoder.PictureCache().Count(), 12u);
  const int64_t position = Decoder.Position();
  for (int64_t n = 10; n >= 3; --n) {
    ASSERT_TRUE(Decoder.DecodePreviousFrame(-1)) << Decoder.LastErrMsg();
    EXPECT_EQ(Decoder.FrameNumber(), n);
  }
  EXPECT_EQ(Decoder.Position(), position);
  for (int64_t n = 4; n < 20; ++n) {
    ASSERT_TRUE(Decoder.Decode(-1)) << Decoder.LastErrMsg();
    EXPECT_EQ(Decoder.FrameNumber(), n);
  }
}

// The kept pictures go with the file, the stream and the settings that made them.
TEST_F(DecoderCacheTest, KeptPicturesAreDroppedWhenTheyNoLongerMatchDecoding) {
  struct Case {
    const char* name;
    std::function<void(TKivDecoder&)> change;
  } cases[] = {
      {"a filter graph set", [](TKivDecoder& d) { d.SetVideoFilters("hflip"); }},
      {"the file closed", [](TKivDecoder& d) { d.CloseFile(); }},
      {"another file opened",
       [](TKivDecoder& d) { ASSERT_TRUE(d.LoadFile(MediaFile("nav_h264_30fps.mkv"))); }},
      {"another stream decoded",
       [](TKivDecoder& d) {
         ASSERT_TRUE(d.LoadFile(MediaFile("programs.ts")));
         ASSERT_TRUE(d.DecodeFrame(3, 0));
         ASSERT_GT(d.PictureCache().Count(), 0u);
         ASSERT_TRUE(d.Decode(2));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Decoder.SetVideoFilters("");
    ASSERT_TRUE(Decoder.LoadFile(MediaFile("nav_h264.ts")));
    ASSERT_TRUE(Decoder.DecodeFrame(4));
    ASSERT_EQ(Decoder.PictureCache().Count(), 5u);
    c.change(Decoder);
    EXPECT_EQ(Decoder.PictureCache().Count(), 0u);
  }
}

// A backward step has the group of pictures before the kept ones decoded ahead on another
// thread: crossing into it reads nothing from the decoder's own input, picture for picture
// what decoding gives.
TEST_F(DecoderCacheTest, SteppingBackIntoTheGroupBeforeFindsItDecodedAhead) {
  const kivtest::Reference ref = kivtest::ReadReference("nav_h264.ts");
  ASSERT_EQ(ref.Checksums.size(), 75u);  // key frames at 0, 25 and 50
  ASSERT_TRUE(Decoder.DecodeFrame(74)) << Decoder.LastErrMsg();
  ASSERT_TRUE(Decoder.DecodePreviousFrame(-1));
  ASSERT_NE(Decoder.Prefetcher(), nullptr);
  Decoder.Prefetcher()->WaitIdle();
  const int64_t position = Decoder.Position();
  for (int64_t n = 72; n >= 25; --n) {
    ASSERT_TRUE(Decoder.DecodePreviousFrame(-1)) << Decoder.LastErrMsg();
    ASSERT_EQ(Decoder.FrameNumber(), n);
    ASSERT_EQ(kivtest::HeldChecksum(Decoder.FrameInfo()), ref.Checksums[size_t(n)]) << n;
    ASSERT_EQ(Decoder.FrameInfo().PTS, ref.Time(size_t(n))) << n;
  }
  EXPECT_EQ(Decoder.Position(), position);
}

// A step back into pictures not kept is decoded on the decoding-ahead threads: the decoder's
// own input stays where plain decoding left it, and decoding on from there goes through the
// pictures in order, exact, without going back to a key frame.
TEST_F(DecoderCacheTest, AStepBackLeavesTheDecoderWhereItStood) {
  const kivtest::Reference ref = kivtest::ReadReference("nav_h264.ts");
  for (int n = 0; n <= 40; ++n) ASSERT_TRUE(Decoder.Decode(-1)) << Decoder.LastErrMsg();
  ASSERT_EQ(Decoder.FrameNumber(), 40);
  ASSERT_EQ(Decoder.PictureCache().Count(), 0u);
  const int64_t position = Decoder.Position();
  ASSERT_TRUE(Decoder.DecodePreviousFrame(-1)) << Decoder.LastErrMsg();
  EXPECT_EQ(Decoder.FrameNumber(), 39);
  EXPECT_EQ(kivtest::HeldChecksum(Decoder.FrameInfo()), ref.Checksums[39]);
  EXPECT_EQ(Decoder.Position(), position);
  for (int64_t n = 40; n < 50; ++n) {
    ASSERT_TRUE(Decoder.Decode(-1)) << Decoder.LastErrMsg();
    ASSERT_EQ(Decoder.FrameNumber(), n);
    ASSERT_EQ(kivtest::HeldChecksum(Decoder.FrameInfo()), ref.Checksums[size_t(n)]) << n;
    ASSERT_EQ(Decoder.FrameInfo().PTS, ref.Time(size_t(n))) << n;
    ASSERT_GE(Decoder.Position(), position) << "went back to a key frame at " << n;
  }
}

// Closing or opening a file while pictures are decoded ahead stops that work at once; nothing
// is left running or leaked (the sanitizer runs watch this test).
TEST_F(DecoderCacheTest, ClosingOrOpeningStopsTheDecodingAhead) {
  for (int i = 0; i < 12; ++i) {
    ASSERT_TRUE(Decoder.LoadFile(MediaFile("nav_h264_60fps.mkv")));
    ASSERT_TRUE(Decoder.DecodeFrame(170)) << Decoder.LastErrMsg();
    ASSERT_TRUE(Decoder.DecodePreviousFrame(-1));
    ASSERT_NE(Decoder.Prefetcher(), nullptr);
    if (i % 2) Decoder.CloseFile();
  }
}

}  // namespace
