#include "KivUtilsConverter.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KivMainThread.h"
#include "KivTypes.h"
#include "PictureTestSupport.h"
#include "SwScaleStubs.h"

using namespace kiv;
using kivtest::BarsFrame;
using kivtest::ColorNear;
using kivtest::FramePtr;
using kivtest::PixelColor;
using kivtest::RGB;
using kivtest::RGBOf;

namespace {

const auto* const Environment =
    ::testing::AddGlobalTestEnvironment(new kivtest::AVLibrariesEnvironment);

const std::vector<TColor> Bars = {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00,
                                  0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF};
const std::vector<TColor> BarsReversed(Bars.rbegin(), Bars.rend());
constexpr int BarWidth = 16;

bool Convert(TFormatConverter& AConverter, const AVFrame& AFrame, bool ACopy = true) {
  return AConverter.PictureToRGB(AFrame.data, AFrame.linesize, AVPixelFormat(AFrame.format),
                                 AFrame.width, AFrame.height, ACopy);
}

std::vector<uint8_t> BitmapBytes(const TBitmap& ABitmap) {
  return {ABitmap.Bits(), ABitmap.Bits() + ABitmap.ImageSize()};
}

// --- settings -------------------------------------------------------------------------------

TEST(FormatConverterSettings, ANewConverterConvertsTo32BitsWithNoRGBPictureYet) {
  TFormatConverter conv;
  EXPECT_EQ(conv.BitsPixel(), 32);
  EXPECT_EQ(conv.BMPPixFmt(), pf32bit);
  EXPECT_EQ(conv.AVPixFmt(), AV_PIX_FMT_BGRA);
  EXPECT_EQ(conv.sws_flags(), SWS_BICUBIC);
  EXPECT_EQ(conv.RGBPictureRef(), nullptr);
  EXPECT_EQ(*conv.DIB(), TDIBDescriptor{});
  EXPECT_EQ(conv.Bitmap().PixelFormat(), pf32bit);
  EXPECT_EQ(conv.Bitmap().BrushStyle(), bsClear);
  EXPECT_EQ(conv.LastErrMsg(), "");
}

struct DepthCase {
  const char* Name;
  int Requested;
  TBMPPixelFormat Format;
  int BitsPixel;
  AVPixelFormat AVPixFmt;
  int BytesPerPixel;
  int Tolerance;  // of a converted saturated colour, from the depth's quantisation
};

void PrintTo(const DepthCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

const DepthCase Depths[] = {
    // Dithering may leave a channel one 2-bit or 3-bit level away.
    {"8bit", 8, pf8bit, 8, AV_PIX_FMT_BGR8, 1, 85},
    {"15bit", 15, pf15bit, 16, AV_PIX_FMT_RGB555LE, 2, 3},
    {"16bit", 16, pf16bit, 16, AV_PIX_FMT_RGB565LE, 2, 3},
    {"24bit", 24, pf24bit, 24, AV_PIX_FMT_BGR24, 3, 3},
    {"32bit", 32, pf32bit, 32, AV_PIX_FMT_BGRA, 4, 3},
};

class FormatConverterDepth : public ::testing::TestWithParam<DepthCase> {
 protected:
  void SetUp() override { Conv.SetBitsPixel(GetParam().Requested); }
  TFormatConverter Conv;
};

std::string DepthName(const ::testing::TestParamInfo<DepthCase>& AInfo) { return AInfo.param.Name; }

TEST_P(FormatConverterDepth, BitsPixelSelectsTheRowOfTheTable) {
  EXPECT_EQ(Conv.BMPPixFmt(), GetParam().Format);
  EXPECT_EQ(Conv.BitsPixel(), GetParam().BitsPixel);
  EXPECT_EQ(Conv.AVPixFmt(), GetParam().AVPixFmt);
  EXPECT_EQ(Conv.Bitmap().PixelFormat(), GetParam().Format);

  TFormatConverter byFormat;
  byFormat.SetBMPPixFmt(GetParam().Format);
  EXPECT_EQ(byFormat.BitsPixel(), GetParam().BitsPixel);
  EXPECT_EQ(byFormat.AVPixFmt(), GetParam().AVPixFmt);
  EXPECT_EQ(byFormat.Bitmap().PixelFormat(), GetParam().Format);
}

TEST_P(FormatConverterDepth, TheDescriptorDescribesTheRGBPictureTopRowFirst) {
  FramePtr frame = BarsFrame(Bars, BarsReversed, BarWidth, 6);
  ASSERT_TRUE(Convert(Conv, *frame));
  const int width = int(Bars.size()) * BarWidth;
  const TDIBDescriptor expected{0,
                                width,
                                6,
                                width * GetParam().BytesPerPixel,
                                1,
                                uint16_t(GetParam().BitsPixel),
                                Conv.RGBPicture()->data[0]};
  EXPECT_EQ(*Conv.DIB(), expected);
  EXPECT_EQ(Conv.RGBPictureRef(), Conv.RGBPicture());
  EXPECT_EQ(Conv.RGBPicture()->linesize[0], width * GetParam().BytesPerPixel);
}

// A YUV frame of known colours comes out of the bitmap as those colours, top half on top.
TEST_P(FormatConverterDepth, AFrameOfKnownColoursComesOutAsThoseColours) {
  const int height = 8;
  FramePtr frame = BarsFrame(Bars, BarsReversed, BarWidth, height);
  ASSERT_TRUE(Convert(Conv, *frame));
  const TBitmap& bitmap = Conv.Bitmap();
  ASSERT_EQ(bitmap.Width(), frame->width);
  ASSERT_EQ(bitmap.Height(), height);
  ASSERT_EQ(bitmap.PixelFormat(), GetParam().Format);
  for (int y : {0, height / 2 - 2, height / 2 + 1, height - 1})
    for (size_t bar = 0; bar < Bars.size(); ++bar) {
      const TColor expected = (y < height / 2 ? Bars : BarsReversed)[bar];
      // Away from the bar's edges, where chroma is interpolated.
      for (int x = int(bar) * BarWidth + 4; x < int(bar + 1) * BarWidth - 4; ++x)
        ASSERT_TRUE(ColorNear(PixelColor(bitmap, x, y), RGBOf(expected), GetParam().Tolerance))
            << "pixel " << x << "," << y;
    }
}

// Rows are copied one by one into the bitmap's padded rows: each equals what swscale makes of
// the same frame row. Widths 321..323 pad the rows of every depth below 32 bits.
TEST_P(FormatConverterDepth, PaddedRowsMatchSwscaleRowByRow) {
  for (int width : {321, 322, 323}) {
    SCOPED_TRACE("width " + std::to_string(width));
    const int height = 7;
    FramePtr frame = kivtest::AllocFrame(AV_PIX_FMT_YUV420P, width, height);
    for (int p = 0; p < 3; ++p)
      for (int y = 0; y < (p ? (height + 1) / 2 : height); ++y)
        for (int x = 0; x < (p ? (width + 1) / 2 : width); ++x)
          frame->data[p][y * frame->linesize[p] + x] = uint8_t(x * (p + 1) + y * 37);
    ASSERT_TRUE(Convert(Conv, *frame));

    const int rowBytes = width * GetParam().BytesPerPixel;
    std::vector<uint8_t> reference(size_t(rowBytes) * height + 64);  // swscale may overshoot
    uint8_t* dst[4] = {reference.data()};
    int dstStride[4] = {rowBytes};
    SwsContext* ctx =
        av::sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height, GetParam().AVPixFmt,
                           SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    ASSERT_NE(ctx, nullptr);
    av::sws_scale(ctx, frame->data, frame->linesize, 0, height, dst, dstStride);
    av::sws_freeContext(ctx);

    const TBitmap& bitmap = Conv.Bitmap();
    ASSERT_EQ(bitmap.RowBytes(), rowBytes);
    for (int y = 0; y < height; ++y) {
      EXPECT_EQ(std::memcmp(bitmap.ScanLine(y), reference.data() + y * rowBytes, rowBytes), 0)
          << "row " << y;
      for (int i = rowBytes; i < bitmap.Stride(); ++i)
        EXPECT_EQ(bitmap.ScanLine(y)[i], 0) << "padding of row " << y;
    }
  }
}

// Every column is converted whatever the width, the last ones included.
TEST_P(FormatConverterDepth, EveryColumnIsConvertedAtEveryWidth) {
  FramePtr frame = BarsFrame({0xFFFF00}, {0xFFFF00}, 72, 4);
  for (int width = 1; width <= 72; ++width) {
    ASSERT_TRUE(
        Conv.PictureToRGB(frame->data, frame->linesize, AV_PIX_FMT_YUV420P, width, 4, true));
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < width; ++x)
        ASSERT_TRUE(ColorNear(PixelColor(Conv.Bitmap(), x, y), {255, 255, 0}, GetParam().Tolerance))
            << "pixel " << x << "," << y << " at width " << width;
  }
}

// Bitmap -> RGB picture -> caller's picture carries a drawing on the bitmap back out.
TEST_P(FormatConverterDepth, ABitmapGoesBackIntoAPictureOfAnyFormat) {
  const int width = 37, height = 10;  // padded rows below 32 bits
  FramePtr frame = BarsFrame({0xFFFFFF}, {0xFFFFFF}, width + 1, height);
  ASSERT_TRUE(
      Conv.PictureToRGB(frame->data, frame->linesize, AV_PIX_FMT_YUV420P, width, height, true));
  TBitmap& bitmap = Conv.Bitmap();
  bitmap.SetBrushStyle(bsSolid);
  bitmap.SetBrushColor(0x0000FF);
  bitmap.FillRect({0, 0, width, height / 2});  // top half blue, bottom half stays white
  Conv.BitmapToRGB();

  FramePtr out = kivtest::AllocFrame(AV_PIX_FMT_RGB24, width, height);
  ASSERT_TRUE(Conv.RGBToPicture(out->data, out->linesize, AV_PIX_FMT_RGB24, width, height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = out->data[0] + y * out->linesize[0] + 3 * x;
      const RGB expected = y < height / 2 ? RGB{0, 0, 255} : RGB{255, 255, 255};
      ASSERT_TRUE(ColorNear({p[0], p[1], p[2]}, expected, GetParam().Tolerance))
          << "pixel " << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, FormatConverterDepth, ::testing::ValuesIn(Depths), DepthName);

TEST(FormatConverterSettings, BitsPixel15ReadsBack16AndWriting16ThenChangesNothing) {
  TFormatConverter conv;
  conv.SetBitsPixel(15);
  EXPECT_EQ(conv.BMPPixFmt(), pf15bit);
  EXPECT_EQ(conv.BitsPixel(), 16);
  conv.SetBitsPixel(16);  // equals BitsPixel already
  EXPECT_EQ(conv.BMPPixFmt(), pf15bit);
  conv.SetBitsPixel(24);
  conv.SetBitsPixel(16);
  EXPECT_EQ(conv.BMPPixFmt(), pf16bit);
  EXPECT_EQ(conv.AVPixFmt(), AV_PIX_FMT_RGB565LE);
}

TEST(FormatConverterSettings, InvalidSettingsRaiseTheirTextsAndChangeNothing) {
  struct Case {
    std::function<void(TFormatConverter&)> Set;
    const char* Text;
  };
  const Case cases[] = {
      {[](TFormatConverter& c) { c.SetBitsPixel(12); }, "Invalid BitsPixel 12"},
      {[](TFormatConverter& c) { c.SetBitsPixel(0); }, "Invalid BitsPixel 0"},
      {[](TFormatConverter& c) { c.SetBitsPixel(-8); }, "Invalid BitsPixel -8"},
      {[](TFormatConverter& c) { c.SetBitsPixel(64); }, "Invalid BitsPixel 64"},
      {[](TFormatConverter& c) { c.SetBMPPixFmt(pf4bit); }, "Invalid PixelFormat 2"},
      {[](TFormatConverter& c) { c.SetBMPPixFmt(pfDevice); }, "Invalid PixelFormat 0"},
      {[](TFormatConverter& c) { c.SetBMPPixFmt(pf1bit); }, "Invalid PixelFormat 1"},
      {[](TFormatConverter& c) { c.SetBMPPixFmt(pfCustom); }, "Invalid PixelFormat 8"},
  };
  for (const Case& c : cases) {
    TFormatConverter conv;
    conv.SetBitsPixel(24);
    FramePtr frame = BarsFrame(Bars, Bars, BarWidth, 4);
    ASSERT_TRUE(Convert(conv, *frame));
    const TDIBDescriptor dib = *conv.DIB();
    try {
      c.Set(conv);
      ADD_FAILURE() << "no exception for " << c.Text;
    } catch (const EFormatConverterError& e) {
      EXPECT_STREQ(e.what(), c.Text);
    }
    EXPECT_EQ(conv.BMPPixFmt(), pf24bit) << c.Text;
    EXPECT_EQ(conv.BitsPixel(), 24) << c.Text;
    EXPECT_EQ(conv.Bitmap().PixelFormat(), pf24bit) << c.Text;
    EXPECT_EQ(*conv.DIB(), dib) << c.Text;
    EXPECT_NE(conv.RGBPictureRef(), nullptr) << c.Text;
  }
}

// --- conversions ----------------------------------------------------------------------------

TEST(FormatConverterConversion, A640x480PictureAt32BitsFillsDescriptorAndBitmap) {
  TFormatConverter conv;
  FramePtr frame = BarsFrame(Bars, BarsReversed, 80, 480);
  ASSERT_TRUE(Convert(conv, *frame));
  const TDIBDescriptor expected{0, 640, 480, 2560, 1, 32, conv.RGBPicture()->data[0]};
  EXPECT_EQ(*conv.DIB(), expected);
  EXPECT_EQ(conv.Bitmap().Width(), 640);
  EXPECT_EQ(conv.Bitmap().Height(), 480);
  EXPECT_EQ(conv.Bitmap().PixelFormat(), pf32bit);
  // Scan line 0 holds the picture's top row, the last scan line its bottom row.
  EXPECT_EQ(std::memcmp(conv.Bitmap().ScanLine(0), conv.DIB()->bmBits, 2560), 0);
  EXPECT_EQ(std::memcmp(conv.Bitmap().ScanLine(479),
                        static_cast<uint8_t*>(conv.DIB()->bmBits) + 479 * 2560, 2560),
            0);
  EXPECT_TRUE(ColorNear(PixelColor(conv.Bitmap(), 40, 0), {0, 0, 0}, 3));
  EXPECT_TRUE(ColorNear(PixelColor(conv.Bitmap(), 40, 479), {255, 0, 255}, 3));
}

TEST(FormatConverterConversion, TheRGBBufferGrowsButNeverShrinks) {
  TFormatConverter conv;
  FramePtr medium = BarsFrame(Bars, Bars, 8, 32);  // 64 x 32
  ASSERT_TRUE(Convert(conv, *medium));
  const int size = conv.RGBBufSize();
  EXPECT_EQ(size, 64 * 32 * 4);
  const void* buffer = conv.DIB()->bmBits;

  FramePtr small = BarsFrame(Bars, Bars, 2, 8);  // 16 x 8
  ASSERT_TRUE(Convert(conv, *small));
  EXPECT_EQ(conv.RGBBufSize(), size);
  EXPECT_EQ(conv.DIB()->bmBits, buffer);
  EXPECT_EQ(conv.Bitmap().Width(), 16);
  EXPECT_EQ(conv.DIB()->bmWidthBytes, 64);

  FramePtr large = BarsFrame(Bars, Bars, 16, 64);  // 128 x 64
  ASSERT_TRUE(Convert(conv, *large));
  EXPECT_EQ(conv.RGBBufSize(), 128 * 64 * 4);
  EXPECT_TRUE(ColorNear(PixelColor(conv.Bitmap(), 127, 63), {255, 0, 255}, 3));
}

TEST(FormatConverterConversion, ChangingTheDepthClearsTheRGBPictureUntilTheNextConversion) {
  TFormatConverter conv;
  FramePtr frame = BarsFrame(Bars, Bars, BarWidth, 4);
  ASSERT_TRUE(Convert(conv, *frame));
  conv.SetBitsPixel(16);
  EXPECT_EQ(conv.RGBPictureRef(), nullptr);
  EXPECT_EQ(*conv.DIB(), TDIBDescriptor{});
  EXPECT_THROW(conv.RGBToBitmap(), EAssertionFailed);
  ASSERT_TRUE(Convert(conv, *frame));
  EXPECT_EQ(conv.DIB()->bmBitsPixel, 16);
  EXPECT_EQ(conv.DIB()->bmWidthBytes, frame->width * 2);
}

TEST(FormatConverterConversion, WithoutCopyTheBitmapIsResizedButNotWritten) {
  TFormatConverter conv;
  FramePtr frame = BarsFrame({0xFFFFFF}, {0xFFFFFF}, 20, 6);
  ASSERT_TRUE(Convert(conv, *frame, false));
  EXPECT_EQ(conv.Bitmap().Width(), 20);
  EXPECT_EQ(conv.Bitmap().Height(), 6);
  EXPECT_EQ(BitmapBytes(conv.Bitmap()), std::vector<uint8_t>(conv.Bitmap().ImageSize(), 0));
  EXPECT_TRUE(ColorNear({static_cast<uint8_t*>(conv.DIB()->bmBits)[2], 0, 0}, {255, 0, 0}, 3));
  conv.RGBToBitmap();  // the copy can follow later
  EXPECT_TRUE(ColorNear(PixelColor(conv.Bitmap(), 3, 3), {255, 255, 255}, 3));
}

TEST(FormatConverterConversion, CopiesBeforeAnyConversionAreAssertionFailures) {
  TFormatConverter conv;
  uint8_t pixel[4];
  uint8_t* data[8] = {pixel};
  int linesize[8] = {4};
  EXPECT_THROW(conv.RGBToBitmap(), EAssertionFailed);
  EXPECT_THROW(conv.BitmapToRGB(), EAssertionFailed);
  EXPECT_THROW(conv.RGBToPicture(data, linesize, AV_PIX_FMT_BGRA, 1, 1), EAssertionFailed);
}

TEST(FormatConverterConversion, NoContextForTheSourceFormatFailsAndKeepsThePreviousDescriptor) {
  TFormatConverter conv;
  FramePtr frame = BarsFrame(Bars, Bars, BarWidth, 4);
  ASSERT_TRUE(Convert(conv, *frame));
  const TDIBDescriptor dib = *conv.DIB();
  const std::vector<uint8_t> rgb(static_cast<uint8_t*>(dib.bmBits),
                                 static_cast<uint8_t*>(dib.bmBits) + dib.bmWidthBytes * 4);

  // A hardware format swscale cannot read, and no format at all (which swscale itself would
  // answer by stopping the process); 256 x 16 needs a larger buffer than the last picture.
  for (AVPixelFormat format : {AV_PIX_FMT_VAAPI, AV_PIX_FMT_NONE}) {
    SCOPED_TRACE(format);
    EXPECT_FALSE(conv.PictureToRGB(frame->data, frame->linesize, format, 256, 16, true));
    EXPECT_EQ(conv.LastErrMsg(), "Cannot initialize the toRGB conversion context");
    EXPECT_EQ(conv.RGBPictureRef(), nullptr);
    EXPECT_EQ(conv.Bitmap().Width(), 256);  // resized before the failure
    EXPECT_EQ(conv.Bitmap().Height(), 16);
    EXPECT_EQ(*conv.DIB(), dib);
    EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t*>(dib.bmBits),
                                   static_cast<uint8_t*>(dib.bmBits) + dib.bmWidthBytes * 4),
              rgb);
  }

  ASSERT_TRUE(Convert(conv, *frame));  // a success afterwards does not clear the text
  EXPECT_EQ(conv.LastErrMsg(), "Cannot initialize the toRGB conversion context");
}

TEST(FormatConverterConversion, ImpossibleDimensionsFailWithoutResizingTheBitmap) {
  TFormatConverter conv;
  FramePtr frame = BarsFrame(Bars, Bars, BarWidth, 4);
  ASSERT_TRUE(Convert(conv, *frame));
  for (auto [w, h] : {std::pair{0, 4}, {128, 0}, {-5, 4}, {128, -1}, {1 << 20, 1 << 20}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    EXPECT_FALSE(conv.PictureToRGB(frame->data, frame->linesize, AV_PIX_FMT_YUV420P, w, h, true));
    EXPECT_EQ(conv.LastErrMsg(), "Cannot initialize the toRGB conversion context");
    EXPECT_EQ(conv.RGBPictureRef(), nullptr);
    EXPECT_EQ(conv.Bitmap().Width(), 128);
    EXPECT_EQ(conv.Bitmap().Height(), 4);
  }
}

TEST(FormatConverterConversion, RGBToPictureFailsWithoutAContextAndRefusesALargerPicture) {
  TFormatConverter conv;
  FramePtr frame = BarsFrame(Bars, Bars, BarWidth, 4);
  ASSERT_TRUE(Convert(conv, *frame));
  FramePtr out = kivtest::AllocFrame(AV_PIX_FMT_RGB24, 256, 8);
  for (AVPixelFormat format : {AV_PIX_FMT_VAAPI, AV_PIX_FMT_NONE}) {
    EXPECT_FALSE(conv.RGBToPicture(out->data, out->linesize, format, 128, 4)) << format;
    EXPECT_EQ(conv.LastErrMsg(), "Cannot initialize the fromRGB conversion context") << format;
  }
  EXPECT_THROW(conv.RGBToPicture(out->data, out->linesize, AV_PIX_FMT_RGB24, 129, 4),
               EAssertionFailed);
  EXPECT_THROW(conv.RGBToPicture(out->data, out->linesize, AV_PIX_FMT_RGB24, 128, 5),
               EAssertionFailed);
  EXPECT_TRUE(conv.RGBToPicture(out->data, out->linesize, AV_PIX_FMT_RGB24, 64, 2));
}

// Someone resized the converter's bitmap after the conversion: the copies move only what both
// pictures hold and never run past either.
TEST(FormatConverterConversion, ARowCopyStaysInsideABitmapResizedSinceTheConversion) {
  TFormatConverter conv;
  conv.SetBitsPixel(24);
  FramePtr frame = BarsFrame(Bars, BarsReversed, BarWidth, 8);  // 128 x 8
  ASSERT_TRUE(Convert(conv, *frame, false));
  const auto* rgb = static_cast<const uint8_t*>(conv.DIB()->bmBits);

  conv.Bitmap().SetSize(5, 3);
  conv.RGBToBitmap();
  for (int y = 0; y < 3; ++y)
    EXPECT_EQ(std::memcmp(conv.Bitmap().ScanLine(y), rgb + y * 128 * 3, 15), 0) << "row " << y;

  conv.Bitmap().SetSize(300, 20);
  conv.Bitmap().SetBrushStyle(bsSolid);
  conv.Bitmap().SetBrushColor(0x00FF00);
  conv.Bitmap().FillRect(conv.Bitmap().ClipRect());
  conv.BitmapToRGB();
  for (int x : {0, 127})
    EXPECT_TRUE(ColorNear({rgb[3 * x + 2], rgb[3 * x + 1], rgb[3 * x]}, {0, 255, 0}, 0));
}

// --- the main thread ------------------------------------------------------------------------

// Plays the program's event loop: work handed over by other threads runs on the test's main
// thread while it waits for the worker to finish.
class QueueDispatcher : public TMainThreadDispatcher {
 public:
  void RunAndWait(const std::function<void()>& AWork) override {
    std::unique_lock lock(FMutex);
    bool done = false;
    FQueue.push_back([&] {
      AWork();
      std::lock_guard doneLock(FMutex);
      done = true;
      FChanged.notify_all();
    });
    FChanged.notify_all();
    FChanged.wait(lock, [&] { return done; });
  }
  void Post(std::function<void()> AWork) override {
    std::lock_guard lock(FMutex);
    FQueue.push_back(std::move(AWork));
    FChanged.notify_all();
  }
  // Runs handed-over work on the calling thread until AFinished is true.
  void RunUntil(const bool& AFinished) {
    std::unique_lock lock(FMutex);
    for (;;) {
      FChanged.wait(lock, [&] { return AFinished || !FQueue.empty(); });
      if (FQueue.empty()) return;
      auto work = std::move(FQueue.front());
      FQueue.pop_front();
      lock.unlock();
      work();
      lock.lock();
    }
  }
  void Finish(bool& AFinished) {
    std::lock_guard lock(FMutex);
    AFinished = true;
    FChanged.notify_all();
  }

 private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::deque<std::function<void()>> FQueue;
};

// Counts the hand-overs and where they ran.
class CountingDispatcher : public QueueDispatcher {
 public:
  void RunAndWait(const std::function<void()>& AWork) override {
    QueueDispatcher::RunAndWait([&] {
      ++Calls;
      RanOnMainThread = RanOnMainThread && IsMainThread();
      AWork();
    });
  }
  int Calls = 0;
  bool RanOnMainThread = true;
};

TEST(FormatConverterMainThread, AnotherThreadFetchesTheScanLineThroughTheMainThread) {
  ASSERT_TRUE(IsMainThread());
  CountingDispatcher dispatcher;
  SetMainThreadDispatcher(&dispatcher);
  TFormatConverter conv;
  FramePtr frame = BarsFrame(Bars, BarsReversed, BarWidth, 8);
  bool converted = false, finished = false;
  std::thread worker([&] {
    converted = Convert(conv, *frame);  // copies into the bitmap
    conv.BitmapToRGB();
    dispatcher.Finish(finished);
  });
  dispatcher.RunUntil(finished);
  worker.join();
  SetMainThreadDispatcher(nullptr);

  EXPECT_TRUE(converted);
  EXPECT_EQ(dispatcher.Calls, 2);
  EXPECT_TRUE(dispatcher.RanOnMainThread);
  EXPECT_TRUE(ColorNear(PixelColor(conv.Bitmap(), 40, 0), RGBOf(Bars[2]), 3));
  EXPECT_TRUE(ColorNear(PixelColor(conv.Bitmap(), 40, 7), RGBOf(BarsReversed[2]), 3));

  // On the main thread the fetch runs directly, without the dispatcher.
  SetMainThreadDispatcher(&dispatcher);
  ASSERT_TRUE(Convert(conv, *frame));
  SetMainThreadDispatcher(nullptr);
  EXPECT_EQ(dispatcher.Calls, 2);
}

}  // namespace
