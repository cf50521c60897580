#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "FrameCrc.h"
#include "KivDecode.h"
#include "LogCapture.h"
#include "TestSupport.h"

using namespace kiv;
using kivtest::HeldChecksum;
using kivtest::MediaFile;
using kivtest::ReadReference;
using kivtest::Reference;

namespace {

class VideoTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Decoder.LoadAVLib("")) << Decoder.LastErrMsg(); }
  void Open(const std::string& AFile, const std::string& AFormat = "") {
    ASSERT_TRUE(Decoder.LoadFile(MediaFile(AFile), AFormat)) << Decoder.LastErrMsg();
  }
  TKivDecoder Decoder;
};

// Each clip with the frame index and with the search by time that files without one use.
class ExactnessTest : public VideoTest,
                      public ::testing::WithParamInterface<std::tuple<const char*, bool>> {
 protected:
  void SetUp() override {
    VideoTest::SetUp();
    Decoder.SetUseFrameIndex(std::get<1>(GetParam()));
  }
  static std::string Clip() { return std::get<0>(GetParam()); }
};

// Every picture the ffmpeg tool decodes, in its order, and back again step by step.
TEST_P(ExactnessTest, ForwardAndBackwardVisitEveryPictureInOrder) {
  const Reference ref = ReadReference(Clip());
  ASSERT_FALSE(ref.Checksums.empty());
  Open(Clip());

  std::vector<uint32_t> forward;
  std::vector<int64_t> times;
  while (Decoder.Decode(-1)) {
    forward.push_back(HeldChecksum(Decoder.FrameInfo()));
    times.push_back(Decoder.FrameInfo().PTS);
  }
  EXPECT_TRUE(Decoder.Eof());
  EXPECT_EQ(Decoder.LastErrMsg(), "TKivDecoder.Decode() for video: stream eof reached.");
  ASSERT_EQ(forward, ref.Checksums);
  for (size_t i = 0; i < times.size(); ++i) {
    EXPECT_EQ(times[i], av::av_rescale_q(ref.Times[i] - ref.Times[0], ref.TimeBase, {1, 1000000}))
        << "picture " << i;
  }
  EXPECT_FALSE(Decoder.Decode(-1));  // the stream stays ended

  // From the last picture, still held at the end, back to the first.
  ASSERT_TRUE(Decoder.FrameInfo().Ready);
  ASSERT_EQ(Decoder.FrameInfo().PTS, times.back());
  for (size_t i = times.size() - 1; i-- > 0;) {
    ASSERT_TRUE(Decoder.DecodePreviousFrame(-1))
        << "before picture " << i + 1 << ": " << Decoder.LastErrMsg();
    ASSERT_EQ(Decoder.FrameInfo().PTS, times[i]) << "picture " << i;
    ASSERT_EQ(HeldChecksum(Decoder.FrameInfo()), ref.Checksums[i]) << "picture " << i;
  }
}

TEST_P(ExactnessTest, KeyFrameStepsLandOnKeyFramesInOrder) {
  Open(Clip());
  std::vector<int64_t> keys;
  while (Decoder.Decode(-1))
    if (Decoder.FrameInfo().IsKeyFrame) keys.push_back(Decoder.FrameInfo().PTS);
  ASSERT_FALSE(keys.empty());

  ASSERT_TRUE(Decoder.Seek(0));
  ASSERT_TRUE(Decoder.Decode(-1));
  std::vector<int64_t> forward{Decoder.FrameInfo().PTS};
  // Past the last key frame the seek falls back to the other direction and lands on it again.
  while (Decoder.DecodeNextKeyFrame(-1) && Decoder.FrameInfo().PTS > forward.back()) {
    EXPECT_TRUE(Decoder.FrameInfo().IsKeyFrame) << Decoder.FrameInfo().PTS;
    forward.push_back(Decoder.FrameInfo().PTS);
  }
  EXPECT_EQ(forward, keys);

  // Backward from the end: nothing decoded yet starts from the file's duration.
  ASSERT_TRUE(Decoder.LoadFile(MediaFile(Clip())));
  std::vector<int64_t> backward;
  while (Decoder.DecodePreviousKeyFrame(-1)) {
    EXPECT_TRUE(Decoder.FrameInfo().IsKeyFrame) << Decoder.FrameInfo().PTS;
    if (!backward.empty() && Decoder.FrameInfo().PTS >= backward.back()) break;
    backward.push_back(Decoder.FrameInfo().PTS);
    if (Decoder.FrameInfo().PTS <= 0) break;
  }
  EXPECT_EQ(std::vector<int64_t>(backward.rbegin(), backward.rend()), keys);
}

INSTANTIATE_TEST_SUITE_P(Clips, ExactnessTest,
                         ::testing::Combine(::testing::Values("h264_bframes.mp4",
                                                              "h264_bframes.mkv", "mpeg2.ts",
                                                              "mjpeg.avi"),
                                            ::testing::Bool()),
                         [](const auto& AInfo) {
                           std::string name = std::string(std::get<0>(AInfo.param)) +
                                              (std::get<1>(AInfo.param) ? "_indexed" : "_by_time");
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

TEST_F(VideoTest, StreamSelectionFailures) {
  struct Case {
    const char* file;
    int index;
    std::string message;
  } cases[] = {
      {"audio.mp3", -1, "no video stream."},
      {"two_audio.mkv", 1, "stream #1 is not video stream."},
      {"two_audio.mkv", 7, "stream index #7 is invalid."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Open(c.file);
    EXPECT_FALSE(Decoder.Decode(c.index));
    EXPECT_EQ(Decoder.LastErrMsg(), c.message);
  }
  Decoder.CloseFile();
  EXPECT_FALSE(Decoder.Decode(-1));
  EXPECT_EQ(Decoder.LastErrMsg(), "file not loaded.");
  EXPECT_FALSE(Decoder.Seek(0));
  EXPECT_EQ(Decoder.Position(), -1);
}

TEST_F(VideoTest, AnAdoptedContextIsNeverDecoded) {
  AVFormatContext* context = nullptr;
  ASSERT_EQ(
      av::avformat_open_input(&context, MediaFile("h264_bframes.mp4").c_str(), nullptr, nullptr),
      0);
  ASSERT_GE(av::avformat_find_stream_info(context, nullptr), 0);
  Decoder.SetFileHandle(context);
  for (auto call : std::vector<std::function<void()>>{
           [&] { Decoder.Decode(-1); }, [&] { Decoder.Seek(0); },
           [&] { Decoder.DecodePreviousFrame(-1); }, [&] { Decoder.DecodeNextKeyFrame(-1); }}) {
    try {
      call();
      ADD_FAILURE() << "no error raised";
    } catch (const EReadOnlyHandle& e) {
      EXPECT_STREQ(e.what(), "file cannot be seeked, handle is readonly.");
    }
  }
  EXPECT_GE(Decoder.Position(), 0);  // reading the position is fine
  Decoder.CloseFile();
  av::avformat_close_input(&context);
}

TEST_F(VideoTest, APictureFileKeepsDeliveringItsOnePicture) {
  Open("picture.png", "image2");
  ASSERT_TRUE(Decoder.Decode(-1));
  const uint32_t first = HeldChecksum(Decoder.FrameInfo());
  EXPECT_TRUE(Decoder.Decode(-1));
  EXPECT_EQ(HeldChecksum(Decoder.FrameInfo()), first);
  EXPECT_FALSE(Decoder.Seek(0));
  EXPECT_EQ(Decoder.LastErrMsg(), "\"image2\" format cannot to be seeked.");
  EXPECT_FALSE(Decoder.DecodeNextKeyFrame(-1));
  EXPECT_TRUE(Decoder.DecodePreviousKeyFrame(-1));
  EXPECT_TRUE(Decoder.DecodePreviousFrame(-1));
  EXPECT_EQ(HeldChecksum(Decoder.FrameInfo()), first);
}

TEST_F(VideoTest, AJpegXLStreamShowsItsPictureAgainAfterASeek) {
  // Its decoder is opened afresh after the seek, not flushed.
  Open("picture_jxl.bin", "jpegxl_pipe");
  ASSERT_TRUE(Decoder.Decode(-1)) << Decoder.LastErrMsg();
  const uint32_t first = HeldChecksum(Decoder.FrameInfo());
  EXPECT_FALSE(Decoder.Decode(-1));
  ASSERT_TRUE(Decoder.Seek(0)) << Decoder.LastErrMsg();
  ASSERT_TRUE(Decoder.Decode(-1)) << Decoder.LastErrMsg();
  EXPECT_EQ(HeldChecksum(Decoder.FrameInfo()), first);
}

TEST_F(VideoTest, AVideoStreamWithoutASizeIsRefused) {
  Open("h264_bframes.mp4");
  Decoder.FileHandle()->streams[0]->codecpar->width = 0;
  EXPECT_FALSE(Decoder.Decode(-1));
  EXPECT_EQ(Decoder.LastErrMsg(), "frame size of codec is invalid.");
}

TEST_F(VideoTest, PicturesGoOutAsBitmaps) {
  Open("h264_bframes.mp4");
  TBitmap bitmap;
  EXPECT_FALSE(Decoder.CopyToBitmap(bitmap));
  EXPECT_EQ(Decoder.LastErrMsg(), "picture not ready, please decode first");
  EXPECT_EQ(bitmap.Width(), 0);
  EXPECT_EQ(Decoder.GetBitmapPtr(), nullptr);

  ASSERT_TRUE(Decoder.Decode(-1));
  ASSERT_TRUE(Decoder.CopyToBitmap(bitmap)) << Decoder.LastErrMsg();
  EXPECT_EQ(bitmap.Width(), 320);
  EXPECT_EQ(bitmap.Height(), 240);
  EXPECT_EQ(bitmap.PixelFormat(), pf32bit);
  const TDIBDescriptor* dib = Decoder.GetBitmapPtr();
  ASSERT_NE(dib, nullptr);
  EXPECT_EQ(dib->bmWidth, 320);
  EXPECT_EQ(dib->bmHeight, 240);
  EXPECT_EQ(dib->bmBitsPixel, 32);
  // The descriptor's top row is the bitmap's scan line 0.
  EXPECT_EQ(std::memcmp(dib->bmBits, bitmap.ScanLine(0), 320 * 4), 0);

  Decoder.SetBitmapBitsPixel(24);
  ASSERT_TRUE(Decoder.CopyToBitmap(bitmap));
  EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
}

// Puts every block that the library allocates through av_malloc right before a page that
// cannot be read, so that the libraries reading past the end of one stop the process.
class GuardedAllocations {
 public:
  GuardedAllocations() {
    RealFree = av::av_free;
    RealMalloc = av::av_malloc;
    av::av_malloc = &Malloc;
    av::av_free = &Free;
  }
  ~GuardedAllocations() {
    av::av_malloc = RealMalloc;
    av::av_free = RealFree;
  }
  GuardedAllocations(const GuardedAllocations&) = delete;
  GuardedAllocations& operator=(const GuardedAllocations&) = delete;

 private:
  struct Mapping {
    void* Base;
    size_t Length;
  };
  static void* Malloc(size_t ASize) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t data = (ASize + page - 1) / page * page;
    void* base =
        mmap(nullptr, data + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    uint8_t* guard = static_cast<uint8_t*>(base) + data;
    mprotect(guard, page, PROT_NONE);
    // The block ends at the guard page, at the alignment av_malloc promises (which the
    // picture sizes used here are multiples of).
    auto* block = reinterpret_cast<uint8_t*>(uintptr_t(guard - ASize) & ~uintptr_t(63));
    Blocks[block] = {base, data + page};
    return block;
  }
  static void Free(void* ABlock) {
    auto found = Blocks.find(ABlock);
    if (found == Blocks.end()) return RealFree(ABlock);
    munmap(found->second.Base, found->second.Length);
    Blocks.erase(found);
  }
  static inline decltype(av::av_malloc) RealMalloc = nullptr;
  static inline decltype(av::av_free) RealFree = nullptr;
  static inline std::map<void*, Mapping> Blocks;
};

// The converter reads the held picture, and converts back from its RGB picture, with the
// scaler's vector code, which reads a few bytes past the last pixel.
TEST(BitmapReadsTest, PicturesOfEveryFormatGoOutAtEveryDepthWithinTheirBuffers) {
  GuardedAllocations guarded;
  for (const char* file : {"picture.png", "picture.jpg", "h264_bframes.mp4"}) {
    TKivDecoder decoder;
    ASSERT_TRUE(decoder.LoadAVLib(""));
    ASSERT_TRUE(decoder.LoadFile(MediaFile(file))) << decoder.LastErrMsg();
    ASSERT_TRUE(decoder.Decode(-1)) << decoder.LastErrMsg();
    for (int depth : {8, 15, 16, 24, 32}) {
      SCOPED_TRACE(std::string(file) + " at " + std::to_string(depth) + " bits");
      decoder.SetBitmapBitsPixel(depth);
      TBitmap bitmap;
      ASSERT_TRUE(decoder.CopyToBitmap(bitmap)) << decoder.LastErrMsg();
      EXPECT_EQ(bitmap.Width(), 320);
      EXPECT_EQ(bitmap.Height(), 240);
      ASSERT_NE(decoder.GetBitmapPtr(), nullptr) << decoder.LastErrMsg();
    }
  }
}

TEST_F(VideoTest, SeekDropsThePictureAndRemembersItsTime) {
  Open("h264_bframes.mp4");
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(Decoder.Decode(-1));
  const int64_t shown = Decoder.FrameInfo().PTS;
  EXPECT_EQ(shown, 360000);
  ASSERT_TRUE(Decoder.Seek(0));
  EXPECT_FALSE(Decoder.FrameInfo().Ready);
  EXPECT_EQ(Decoder.FrameInfo().PTS, AV_NOPTS_VALUE);
  ASSERT_TRUE(Decoder.Decode(-1));
  EXPECT_EQ(Decoder.FrameInfo().PTS, 0);
  EXPECT_TRUE(Decoder.FrameInfo().IsKeyFrame);
  // Stepping back from the first picture stays on it.
  ASSERT_TRUE(Decoder.DecodePreviousKeyFrame(-1));
  EXPECT_LE(Decoder.FrameInfo().PTS, 0);
  // MP4 has no byte seeking; a transport stream has.
  EXPECT_FALSE(Decoder.Seek(0, TSeekFlags{sfByte}));
  EXPECT_EQ(Decoder.LastErrMsg(), "TKivDecoder.Seek(): could not seek to position 0 bytes");
  Open("mpeg2.ts");
  ASSERT_TRUE(Decoder.Seek(0, TSeekFlags{sfByte}));
  EXPECT_TRUE(Decoder.Decode(-1));
}

TEST_F(VideoTest, NextKeyFrameWithoutAPictureGoesToTheFirstAfterOneFrame) {
  Open("h264_bframes.mp4");
  ASSERT_TRUE(Decoder.DecodeNextKeyFrame(-1));
  EXPECT_TRUE(Decoder.FrameInfo().IsKeyFrame);
  EXPECT_EQ(Decoder.FrameInfo().PTS, 480000);  // key frames every 12 pictures at 25 fps
}

}  // namespace
