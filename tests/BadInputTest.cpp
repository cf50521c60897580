// What users point the decoder at besides good media: each case ends in a clear result, never
// a crash or a hang, and the decoder opens the next good file as if nothing had happened.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "KivDecode.h"
#include "KivLoad.h"
#include "KivLog.h"
#include "TestDispatcher.h"
#include "TestSupport.h"

using namespace kiv;
using kivtest::MediaFile;
using kivtest::TempDir;

namespace {

std::string ReadAll(const std::string& AFile) {
  std::ifstream in(AFile, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class BadInputTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Decoder.LoadAVLib("")) << Decoder.LastErrMsg(); }

  // The decoder still works for a good file.
  void ExpectUsable() {
    ASSERT_TRUE(Decoder.LoadFile(MediaFile("h264_bframes.mp4"))) << Decoder.LastErrMsg();
    EXPECT_TRUE(Decoder.Decode(-1)) << Decoder.LastErrMsg();
    TBitmap bitmap;
    EXPECT_TRUE(Decoder.CopyToBitmap(bitmap));
  }

  // Everything the window would do with whatever opened; the calls may fail, not crash.
  void Exercise() {
    Decoder.FileInfoText();
    for (int i = 0; i < 200 && Decoder.Decode(-1); ++i) {
    }
    TBitmap bitmap;
    Decoder.CopyToBitmap(bitmap);
    Decoder.DecodePreviousFrame(-1);
    Decoder.Seek(0);
    Decoder.Decode(-1);
  }

  // A path of ALength bytes naming a copy of AClip, in folders of at most 200-byte names.
  std::string LongPath(const TempDir& ADir, size_t ALength, const std::string& AClip) {
    std::string path = ADir.Path();
    while (path.size() + 1 + 200 + 1 + 16 < ALength) {
      path += "/" + std::string(200, 'd');
      std::filesystem::create_directory(path);
    }
    std::string name = "/" + std::string(ALength - path.size() - 1 - 4, 'f') + ".mp4";
    path += name;
    std::filesystem::copy_file(AClip, path);
    EXPECT_EQ(path.size(), ALength);
    return path;
  }

  TKivDecoder Decoder;
};

TEST_F(BadInputTest, FilesThatCannotOpenSayWhy) {
  TempDir dir;
  const std::string clip = ReadAll(MediaFile("h264_bframes.mp4"));
  dir.Write("cut-100.mp4", clip.substr(0, 100));
  dir.Write("cut-half.mp4", clip.substr(0, clip.size() / 2));  // the index is at the end
  struct Case {
    std::string file;
    std::string message;
  } cases[] = {
      {MediaFile("empty.bin"), ": Invalid data found when processing input"},
      {MediaFile("random.bin"), ": Invalid data found when processing input"},
      {dir.File("cut-100.mp4"), ": "},
      {dir.File("cut-half.mp4"), ": "},
      {dir.Path(), ": "},
      {dir.File("missing.mp4"), ": No such file or directory"},
      {dir.File(std::string(300, 'n') + ".mp4"), ": File name too long"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.substr(0, 120));
    EXPECT_FALSE(Decoder.LoadFile(c.file));
    EXPECT_EQ(Decoder.LastErrMsg().rfind(c.file + c.message, 0), 0u)
        << Decoder.LastErrMsg().substr(0, 200);
    EXPECT_EQ(Decoder.FileHandle(), nullptr);
    EXPECT_EQ(Decoder.StreamCount(), -1);
    ExpectUsable();
  }
}

TEST_F(BadInputTest, DamagedFilesThatOpenDecodeWhatTheyCan) {
  TempDir dir;
  for (const char* clip : {"h264_bframes.mkv", "mpeg2.ts", "two_audio.mkv", "mjpeg.avi"}) {
    const std::string data = ReadAll(MediaFile(clip));
    for (size_t cut : {size_t(4096), data.size() / 3, data.size() - 777}) {
      SCOPED_TRACE(std::string(clip) + " cut at " + std::to_string(cut));
      std::string damaged = data.substr(0, cut);
      for (size_t i = cut / 2; i < damaged.size(); i += 1499) damaged[i] = char(~damaged[i]);
      dir.Write("damaged", damaged);
      if (Decoder.LoadFile(dir.File("damaged"))) Exercise();
      ExpectUsable();
    }
  }
}

TEST_F(BadInputTest, LongAndOddNamesPassUnchanged) {
  TempDir dir;
  const std::string clip = MediaFile("h264_bframes.mp4");
  std::string odd = dir.File("clip-\xff\xfe-\xc3-.mp4");  // bytes that are no UTF-8
  std::filesystem::copy_file(clip, odd);
  for (const std::string& name : {LongPath(dir, 2047, clip), LongPath(dir, 3000, clip), odd}) {
    SCOPED_TRACE(name.size());
    ASSERT_TRUE(Decoder.LoadFile(name)) << Decoder.LastErrMsg().substr(0, 200);
    EXPECT_EQ(Decoder.FileName(), name);
    EXPECT_TRUE(Decoder.Decode(-1));
  }
}

TEST_F(BadInputTest, AFileCutShortWhileOpenEndsCleanly) {
  TempDir dir;
  std::filesystem::copy_file(MediaFile("h264_bframes.mkv"), dir.File("shrinking.mkv"));
  ASSERT_TRUE(Decoder.LoadFile(dir.File("shrinking.mkv")));
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(Decoder.Decode(-1));
  ASSERT_EQ(truncate(dir.File("shrinking.mkv").c_str(), 3000), 0);
  int more = 0;
  while (Decoder.Decode(-1) && more < 1000) ++more;
  EXPECT_LT(more, 1000);
  EXPECT_FALSE(Decoder.LastErrMsg().empty());
  Exercise();
  ExpectUsable();
}

TEST_F(BadInputTest, APictureBeyondTheLibrariesLimitIsRefused) {
  ASSERT_TRUE(Decoder.LoadFile(MediaFile("huge.png"))) << Decoder.LastErrMsg();
  EXPECT_FALSE(Decoder.Decode(-1));
  EXPECT_EQ(Decoder.LastErrMsg(), "frame size of codec is invalid.");
  TBitmap bitmap;
  EXPECT_FALSE(Decoder.CopyToBitmap(bitmap));
  ExpectUsable();
}

size_t ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stoul(line.substr(6));
  return 0;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool UnderAddressSanitizer = true;  // freed memory is held back on purpose
#else
constexpr bool UnderAddressSanitizer = false;
#endif

// Opening and closing a thousand times leaks nothing (the leak checker sees the rest) and the
// resident size stays flat.
TEST_F(BadInputTest, AThousandOpensKeepTheResidentSizeFlat) {
  const char* clips[] = {"h264_bframes.mp4", "mpeg2.ts", "two_audio.mkv", "audio.mp3",
                         "picture.png"};
  size_t afterWarmUp = 0;
  for (int round = 0; round < 1000; ++round) {
    ASSERT_TRUE(Decoder.LoadFile(MediaFile(clips[round % 5]))) << clips[round % 5];
    if (Decoder.VideoStreamCount() > 0) {
      Decoder.Decode(-1);
      Decoder.Decode(-1);
      if (round % 10 == 0) Decoder.DecodePreviousFrame(-1);
    }
    Decoder.CloseFile();
    if (round == 99) afterWarmUp = ResidentKiB();
  }
  if (!UnderAddressSanitizer) {
    EXPECT_LT(ResidentKiB(), afterWarmUp + 16 * 1024);
  }
}

// Eight library threads logging at once while the main thread serves the log handler: every
// line arrives once and whole, on the main thread.
TEST(LoggerStress, EightThreadsOfTenThousandLines) {
  ASSERT_TRUE(KivLoader->Load(AVLibraries));
  kivtest::TWatchdog watchdog(std::chrono::seconds(240), "the logger stress test");
  kivtest::TQueueDispatcher dispatcher;
  TKivLogger& logger = CurrentLogger();
  logger.SetLogLevel(llInfo);
  constexpr int Threads = 8, Lines = 10000;
  std::vector<std::vector<int>> seen(Threads, std::vector<int>(Lines, 0));
  std::atomic<int> received{0}, wrong{0}, offMain{0};
  logger.SetOnLog([&](TComponent*, int32_t, TLogLevel, const std::string& AText) {
    if (!IsMainThread()) ++offMain;
    int t, n;
    char tail;
    if (std::sscanf(AText.c_str(), "stress %d line %d en%c", &t, &n, &tail) == 3 && tail == 'd' &&
        t >= 0 && t < Threads && n >= 0 && n < Lines)
      ++seen[t][n];
    else
      ++wrong;
    ++received;
  });
  std::atomic<int> finished{0};
  std::vector<std::thread> producers;
  for (int t = 0; t < Threads; ++t)
    producers.emplace_back([t, &finished] {
      for (int n = 0; n < Lines; ++n) {
        // Half of the lines arrive in two pieces.
        if (n % 2) {
          av::av_log(nullptr, AV_LOG_INFO, "stress %d line %d ", t, n);
          av::av_log(nullptr, AV_LOG_INFO, "end\n");
        } else {
          av::av_log(nullptr, AV_LOG_INFO, "stress %d line %d end\n", t, n);
        }
      }
      ++finished;
    });
  ASSERT_TRUE(dispatcher.RunUntil(
      [&] { return finished == Threads && received == Threads * Lines; }, std::chrono::seconds(200)))
      << received << " lines arrived";
  for (auto& p : producers) p.join();
  logger.SetOnLog(nullptr);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(offMain, 0);
  for (int t = 0; t < Threads; ++t)
    for (int n = 0; n < Lines; ++n) ASSERT_EQ(seen[t][n], 1) << "thread " << t << " line " << n;
}

}  // namespace
