#include "PictureFiles.h"

#include <gtest/gtest.h>

#include <QImage>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "KivDecode.h"
#include "PictureTestSupport.h"
#include "TestSupport.h"

extern "C" {
#include <jpeglib.h>
}

using namespace framebrowser;
using kivtest::MediaFile;

namespace {

const auto* const Environment =
    ::testing::AddGlobalTestEnvironment(new kivtest::AVLibrariesEnvironment);

std::vector<uint8_t> ReadFile(const std::string& AName) {
  std::ifstream in(AName, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t LE(const std::vector<uint8_t>& AData, size_t AOffset, int ABytes) {
  uint32_t value = 0;
  for (int i = ABytes - 1; i >= 0; --i) value = value << 8 | AData.at(AOffset + i);
  return value;
}

// The first picture of the test clip at a bitmap depth.
kiv::TBitmap DecodedPicture(int ABitsPixel) {
  kiv::TKivDecoder decoder;
  decoder.SetBitmapBitsPixel(ABitsPixel);
  kiv::TBitmap bitmap;
  EXPECT_TRUE(decoder.LoadFile(MediaFile("h264_bframes.mp4")));
  EXPECT_TRUE(decoder.Decode(-1)) << decoder.LastErrMsg();
  EXPECT_TRUE(decoder.CopyToBitmap(bitmap)) << decoder.LastErrMsg();
  return bitmap;
}

// The largest difference of one colour channel between two pictures of one size.
int LargestDifference(const QImage& A, const QImage& B) {
  const QImage a = A.convertToFormat(QImage::Format_RGB32);
  const QImage b = B.convertToFormat(QImage::Format_RGB32);
  int largest = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      largest = std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q))});
    }
  return largest;
}

// The largest difference of one channel between the average colours of two pictures.
int AverageDifference(const QImage& A, const QImage& B) {
  auto average = [](const QImage& AImage) {
    const QImage image = AImage.convertToFormat(QImage::Format_RGB32);
    double sum[3] = {};
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QRgb p = image.pixel(x, y);
        sum[0] += qRed(p);
        sum[1] += qGreen(p);
        sum[2] += qBlue(p);
      }
    const double n = double(image.width()) * image.height();
    return std::array<double, 3>{sum[0] / n, sum[1] / n, sum[2] / n};
  };
  const auto a = average(A), b = average(B);
  double largest = 0;
  for (int i = 0; i < 3; ++i) largest = std::max(largest, std::abs(a[i] - b[i]));
  return int(std::lround(largest));
}

struct DepthCase {
  const char* Name;
  int BitsPixel;
  uint16_t BitCount;  // as the file counts it
  uint32_t Compression;
  uint32_t ColorTableBytes;
};

void PrintTo(const DepthCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

constexpr uint32_t BI_RGB = 0, BI_BITFIELDS = 3;
const DepthCase Depths[] = {
    {"8bit", 8, 8, BI_RGB, 256 * 4},        {"15bit", 15, 16, BI_RGB, 0},
    {"16bit", 16, 16, BI_BITFIELDS, 3 * 4}, {"24bit", 24, 24, BI_RGB, 0},
    {"32bit", 32, 32, BI_RGB, 0},
};

class SaveBMPTest : public ::testing::TestWithParam<DepthCase> {};

TEST_P(SaveBMPTest, WritesTheBitmapsOwnFormatThatReadersDecode) {
  const DepthCase& depth = GetParam();
  const kiv::TBitmap bitmap = DecodedPicture(depth.BitsPixel);
  ASSERT_EQ(bitmap.Width(), 320);
  kivtest::TempDir dir;
  const std::string file = dir.File("picture.bmp");
  std::string error;
  ASSERT_TRUE(SaveBitmapAsBMP(bitmap, file, error)) << error;

  const std::vector<uint8_t> data = ReadFile(file);
  const uint32_t offBits = 14 + 40 + depth.ColorTableBytes;
  ASSERT_GE(data.size(), offBits);
  EXPECT_EQ(data[0], 'B');
  EXPECT_EQ(data[1], 'M');
  EXPECT_EQ(LE(data, 2, 4), data.size()) << "file size";
  EXPECT_EQ(LE(data, 10, 4), offBits) << "pixel offset";
  EXPECT_EQ(LE(data, 14, 4), 40u) << "information header size";
  EXPECT_EQ(LE(data, 18, 4), 320u);
  EXPECT_EQ(LE(data, 22, 4), 240u) << "positive height: bottom row first";
  EXPECT_EQ(LE(data, 26, 2), 1u) << "planes";
  EXPECT_EQ(LE(data, 28, 2), depth.BitCount);
  EXPECT_EQ(LE(data, 30, 4), depth.Compression);
  EXPECT_EQ(LE(data, 34, 4), bitmap.ImageSize());
  if (depth.Compression == BI_BITFIELDS) {
    EXPECT_EQ(LE(data, 54, 4), 0xF800u) << "red mask";
    EXPECT_EQ(LE(data, 58, 4), 0x07E0u) << "green mask";
    EXPECT_EQ(LE(data, 62, 4), 0x001Fu) << "blue mask";
  }
  ASSERT_EQ(data.size(), offBits + bitmap.ImageSize());
  EXPECT_EQ(std::memcmp(data.data() + offBits, bitmap.Bits(), bitmap.ImageSize()), 0);

  // An independent reader sees the same colours as the window draws.
  const QImage read(QString::fromStdString(file), "BMP");
  ASSERT_FALSE(read.isNull());
  ASSERT_EQ(read.size(), QSize(320, 240));
  EXPECT_LE(LargestDifference(read, BitmapToImage(bitmap)), 8);
}

INSTANTIATE_TEST_SUITE_P(Depths, SaveBMPTest, ::testing::ValuesIn(Depths),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(SaveBMPFailureTest, AFolderThatDoesNotExistFailsWithTheReason) {
  const kiv::TBitmap bitmap = DecodedPicture(24);
  std::string error;
  EXPECT_FALSE(SaveBitmapAsBMP(bitmap, "/nonexistent-folder/picture.bmp", error));
  EXPECT_NE(error.find("/nonexistent-folder/picture.bmp"), std::string::npos) << error;
}

// What libjpeg reads back from a file.
struct DecodedJPEG {
  int Width = 0, Height = 0, Components = 0;
  bool Progressive = true;
  J_COLOR_SPACE ColorSpace = JCS_UNKNOWN;
  unsigned FirstLuminanceQuantum = 0;
  unsigned LargestQuantum = 0;
  QImage Picture;
};

DecodedJPEG ReadJPEG(const std::string& AFileName) {
  DecodedJPEG result;
  std::FILE* file = std::fopen(AFileName.c_str(), "rb");
  if (!file) return result;
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  result.Components = info.num_components;
  result.ColorSpace = info.jpeg_color_space;
  result.Progressive = info.progressive_mode;
  result.FirstLuminanceQuantum = info.quant_tbl_ptrs[0]->quantval[0];
  for (JQUANT_TBL* table : info.quant_tbl_ptrs)
    if (table)
      for (UINT16 q : table->quantval)
        result.LargestQuantum = std::max<unsigned>(result.LargestQuantum, q);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  result.Width = int(info.output_width);
  result.Height = int(info.output_height);
  result.Picture = QImage(result.Width, result.Height, QImage::Format_RGB888);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = result.Picture.scanLine(int(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  std::fclose(file);
  return result;
}

TEST(SaveJPEGTest, WritesBaselineColourAtQuality90FromEveryDepth) {
  for (int bits : {8, 15, 16, 24, 32}) {
    SCOPED_TRACE(std::to_string(bits) + " bits");
    const kiv::TBitmap bitmap = DecodedPicture(bits);
    kivtest::TempDir dir;
    const std::string file = dir.File("picture.jpg");
    std::string error;
    ASSERT_TRUE(SaveImageAsJPEG(BitmapToImage(bitmap), file, JPEGQuality, error)) << error;

    const DecodedJPEG jpeg = ReadJPEG(file);
    EXPECT_EQ(jpeg.Width, 320);
    EXPECT_EQ(jpeg.Height, 240);
    EXPECT_EQ(jpeg.Components, 3) << "24-bit colour";
    EXPECT_EQ(jpeg.ColorSpace, JCS_YCbCr);
    EXPECT_FALSE(jpeg.Progressive);
    EXPECT_LE(jpeg.LargestQuantum, 255u) << "baseline tables hold 8-bit values";
    // Quality 90 scales the standard luminance table to 20 %: its first value 16 becomes 3.
    EXPECT_EQ(jpeg.FirstLuminanceQuantum, 3u);
    // The colours survive: compared as averages over blocks, since JPEG smooths the dither
    // of the 8-bit picture and the hard edges of the test picture.
    const QImage original = BitmapToImage(bitmap);
    for (int y = 0; y + 16 <= 240; y += 16)
      for (int x = 0; x + 16 <= 320; x += 16) {
        const QRect block(x, y, 16, 16);
        EXPECT_LE(AverageDifference(jpeg.Picture.copy(block), original.copy(block)), 12)
            << "block at " << x << ", " << y;
      }
  }
}

TEST(SaveJPEGTest, FailuresReportTheirReason) {
  std::string error;
  EXPECT_FALSE(SaveImageAsJPEG(QImage(), "/tmp/never.jpg", JPEGQuality, error));
  EXPECT_FALSE(error.empty());
  error.clear();
  QImage picture(16, 16, QImage::Format_RGB32);
  picture.fill(Qt::red);
  EXPECT_FALSE(SaveImageAsJPEG(picture, "/nonexistent-folder/x.jpg", JPEGQuality, error));
  EXPECT_NE(error.find("/nonexistent-folder/x.jpg"), std::string::npos) << error;
}

}  // namespace
