#include "KivBitmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "AVCodecStubs.h"
#include "KivTypes.h"
#include "PictureTestSupport.h"
#include "SwScaleStubs.h"

using namespace kiv;
using kivtest::PixelColor;
using kivtest::RGB;

namespace {

const auto* const Environment =
    ::testing::AddGlobalTestEnvironment(new kivtest::AVLibrariesEnvironment);

struct FormatCase {
  const char* Name;
  TPixelFormat Format;
  int BitsPerPixel;
};

void PrintTo(const FormatCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

const FormatCase Formats[] = {
    {"8bit", pf8bit, 8},    {"15bit", pf15bit, 16}, {"16bit", pf16bit, 16},
    {"24bit", pf24bit, 24}, {"32bit", pf32bit, 32},
};

class BitmapFormatTest : public ::testing::TestWithParam<FormatCase> {};

std::string FormatName(const ::testing::TestParamInfo<FormatCase>& AInfo) {
  return AInfo.param.Name;
}

// A bitmap whose every pixel byte differs from its neighbours and from the padding.
TBitmap PatternBitmap(TPixelFormat AFormat, int AWidth, int AHeight) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(AFormat);
  bitmap.SetSize(AWidth, AHeight);
  for (int y = 0; y < AHeight; ++y)
    for (int i = 0; i < bitmap.RowBytes(); ++i)
      bitmap.ScanLine(y)[i] = uint8_t(1 + (i * 7 + y * 13) % 250);
  return bitmap;
}

TEST_P(BitmapFormatTest, RowsArePaddedToFourBytesAndStoredBottomUp) {
  for (int width : {1, 2, 3, 4, 5, 321}) {
    SCOPED_TRACE("width " + std::to_string(width));
    TBitmap bitmap;
    bitmap.SetPixelFormat(GetParam().Format);
    bitmap.SetSize(width, 3);
    const int rowBytes = (width * GetParam().BitsPerPixel + 7) / 8;
    EXPECT_EQ(bitmap.BitsPerPixel(), GetParam().BitsPerPixel);
    EXPECT_EQ(bitmap.RowBytes(), rowBytes);
    EXPECT_EQ(bitmap.Stride(), (rowBytes + 3) / 4 * 4);
    EXPECT_EQ(bitmap.ImageSize(), size_t(bitmap.Stride()) * 3);
    EXPECT_EQ(bitmap.ScanLine(2), bitmap.Bits());
    EXPECT_EQ(bitmap.ScanLine(1), bitmap.Bits() + bitmap.Stride());
    EXPECT_EQ(bitmap.ScanLine(0), bitmap.Bits() + 2 * bitmap.Stride());
  }
}

TEST_P(BitmapFormatTest, FillRectPaintsTheBrushColourInsideTheClippedRectOnly) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(GetParam().Format);
  bitmap.SetSize(7, 5);
  bitmap.SetBrushColor(0xFF0000);
  bitmap.FillRect({-3, 2, 4, 99});  // clipped to columns 0..3, rows 2..4
  const int bytes = GetParam().BitsPerPixel / 8;
  const auto red = TBitmap::PixelOf(0xFF0000, GetParam().Format);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      const bool inside = x < 4 && y >= 2;
      const uint8_t* p = bitmap.ScanLine(y) + x * bytes;
      EXPECT_EQ(std::memcmp(p, red.data(), bytes) == 0, inside) << x << "," << y;
      if (inside) {
        EXPECT_TRUE(kivtest::ColorNear(PixelColor(bitmap, x, y), {255, 0, 0}, 0));
      }
    }
  for (int y = 0; y < 5; ++y)  // the padding keeps its zeros
    for (int i = bitmap.RowBytes(); i < bitmap.Stride(); ++i) EXPECT_EQ(bitmap.ScanLine(y)[i], 0);
}

TEST_P(BitmapFormatTest, AClearBrushPaintsNothing) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(GetParam().Format);
  bitmap.SetSize(4, 4);
  bitmap.SetBrushColor(clWhite);
  bitmap.SetBrushStyle(bsClear);
  bitmap.FillRect(bitmap.ClipRect());
  EXPECT_EQ(std::vector<uint8_t>(bitmap.Bits(), bitmap.Bits() + bitmap.ImageSize()),
            std::vector<uint8_t>(bitmap.ImageSize(), 0));
}

// An independent reader of BMP files (FFmpeg's decoder) sees the same pixels, rows and colours.
TEST_P(BitmapFormatTest, BMPHeaderAndBitsMakeAFileThatDecodesToTheSamePicture) {
  const int width = 13, height = 4;  // rows padded at every depth below 32 bits
  TBitmap bitmap = PatternBitmap(GetParam().Format, width, height);
  std::vector<uint8_t> file = BMPFileHeader(bitmap);
  file.insert(file.end(), bitmap.Bits(), bitmap.Bits() + bitmap.ImageSize());

  const AVCodec* codec = av::avcodec_find_decoder(AV_CODEC_ID_BMP);
  ASSERT_NE(codec, nullptr);
  AVCodecContext* ctx = av::avcodec_alloc_context3(codec);
  ASSERT_EQ(av::avcodec_open2(ctx, codec, nullptr), 0);
  AVPacket* pkt = av::av_packet_alloc();
  ASSERT_EQ(av::av_new_packet(pkt, int(file.size())), 0);
  std::memcpy(pkt->data, file.data(), file.size());
  kivtest::FramePtr frame(av::av_frame_alloc());
  ASSERT_EQ(av::avcodec_send_packet(ctx, pkt), 0);
  ASSERT_EQ(av::avcodec_receive_frame(ctx, frame.get()), 0);
  av::av_packet_free(&pkt);
  av::avcodec_free_context(&ctx);

  ASSERT_EQ(frame->width, width);
  ASSERT_EQ(frame->height, height);
  for (int y = 0; y < height; ++y)
    EXPECT_EQ(
        std::memcmp(frame->data[0] + y * frame->linesize[0], bitmap.ScanLine(y), bitmap.RowBytes()),
        0)
        << "row " << y;
  if (GetParam().Format == pf8bit) {
    const auto* palette = reinterpret_cast<const uint32_t*>(frame->data[1]);
    for (int i = 0; i < 256; ++i) {
      const TRGBQuad& q = bitmap.Palette()[i];
      EXPECT_EQ(palette[i] & 0xFFFFFF, uint32_t(q.Red << 16 | q.Green << 8 | q.Blue)) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, BitmapFormatTest, ::testing::ValuesIn(Formats), FormatName);

TEST(BitmapTest, ANewBitmapIsEmptyWithoutAPixelFormat) {
  TBitmap bitmap;
  EXPECT_EQ(bitmap.Width(), 0);
  EXPECT_EQ(bitmap.Height(), 0);
  EXPECT_EQ(bitmap.PixelFormat(), pfDevice);
  EXPECT_EQ(bitmap.ImageSize(), 0u);
  EXPECT_TRUE(bitmap.Palette().empty());
  EXPECT_EQ(bitmap.ClipRect(), (TRect{0, 0, 0, 0}));
}

TEST(BitmapTest, ANewSizeOrFormatStartsBlackTheSameOneKeepsThePixels) {
  TBitmap bitmap = PatternBitmap(pf24bit, 5, 3);
  const std::vector<uint8_t> before(bitmap.Bits(), bitmap.Bits() + bitmap.ImageSize());
  bitmap.SetSize(5, 3);
  bitmap.SetPixelFormat(pf24bit);
  EXPECT_EQ(std::vector<uint8_t>(bitmap.Bits(), bitmap.Bits() + bitmap.ImageSize()), before);

  bitmap.SetWidth(6);
  EXPECT_EQ(bitmap.Width(), 6);
  EXPECT_EQ(bitmap.Height(), 3);
  EXPECT_EQ(std::vector<uint8_t>(bitmap.Bits(), bitmap.Bits() + bitmap.ImageSize()),
            std::vector<uint8_t>(bitmap.ImageSize(), 0));

  bitmap = PatternBitmap(pf24bit, 5, 3);
  bitmap.SetPixelFormat(pf32bit);
  EXPECT_EQ(bitmap.Stride(), 20);
  EXPECT_EQ(std::vector<uint8_t>(bitmap.Bits(), bitmap.Bits() + bitmap.ImageSize()),
            std::vector<uint8_t>(bitmap.ImageSize(), 0));
}

// The palette shows each 8-bit value as swscale reads a BGR8 pixel (swscale tops a 3-bit level
// out at 252, the palette at full intensity).
TEST(BitmapTest, The8BitPaletteMatchesFFmpegsBGR8Colours) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf8bit);
  ASSERT_EQ(bitmap.Palette().size(), 256u);
  uint8_t values[256];
  for (int i = 0; i < 256; ++i) values[i] = uint8_t(i);
  uint8_t rgb[256 * 3];
  const uint8_t* src[4] = {values};
  int srcStride[4] = {256};
  uint8_t* dst[4] = {rgb};
  int dstStride[4] = {256 * 3};
  SwsContext* ctx = av::sws_getContext(256, 1, AV_PIX_FMT_BGR8, 256, 1, AV_PIX_FMT_RGB24, SWS_POINT,
                                       nullptr, nullptr, nullptr);
  ASSERT_NE(ctx, nullptr);
  av::sws_scale(ctx, src, srcStride, 0, 1, dst, dstStride);
  av::sws_freeContext(ctx);
  for (int i = 0; i < 256; ++i) {
    const TRGBQuad& q = bitmap.Palette()[i];
    EXPECT_TRUE(kivtest::ColorNear({q.Red, q.Green, q.Blue},
                                   {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]}, 3))
        << "value " << i;
  }
  bitmap.SetPixelFormat(pf24bit);
  EXPECT_TRUE(bitmap.Palette().empty());
}

TEST(BitmapTest, AssignCopiesThePictureButNotTheBrush) {
  TBitmap source = PatternBitmap(pf8bit, 9, 4);
  TBitmap copy;
  copy.SetBrushStyle(bsClear);
  copy.SetBrushColor(0x123456);
  copy.Assign(source);
  EXPECT_EQ(copy.Width(), 9);
  EXPECT_EQ(copy.Height(), 4);
  EXPECT_EQ(copy.PixelFormat(), pf8bit);
  EXPECT_EQ(copy.Palette(), source.Palette());
  EXPECT_EQ(std::vector<uint8_t>(copy.Bits(), copy.Bits() + copy.ImageSize()),
            std::vector<uint8_t>(source.Bits(), source.Bits() + source.ImageSize()));
  EXPECT_EQ(copy.BrushStyle(), bsClear);
  EXPECT_EQ(copy.BrushColor(), 0x123456u);
  copy.ScanLine(0)[0] ^= 0xFF;  // a copy, not a share
  EXPECT_NE(copy.ScanLine(0)[0], source.ScanLine(0)[0]);
}

TEST(BitmapTest, MisuseIsAnAssertionFailure) {
  TBitmap bitmap;
  bitmap.SetSize(2, 2);
  EXPECT_THROW(bitmap.SetSize(-1, 2), EAssertionFailed);
  EXPECT_THROW(bitmap.SetHeight(-5), EAssertionFailed);
  EXPECT_EQ(bitmap.Height(), 2);
  for (TPixelFormat format : {pf1bit, pf4bit, pfCustom})
    EXPECT_THROW(bitmap.SetPixelFormat(format), EAssertionFailed) << format;
  EXPECT_EQ(bitmap.PixelFormat(), pfDevice);
  EXPECT_THROW(bitmap.ScanLine(2), EAssertionFailed);
  EXPECT_THROW(bitmap.ScanLine(-1), EAssertionFailed);
}

}  // namespace
