#include "KivUtilsConverter.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "AVUtilStubs.h"
#include "KivMainThread.h"
#include "KivTypes.h"
#include "SwScaleStubs.h"

namespace kiv {

namespace {

constexpr const char* Unit = "KivUtils";

struct TBMPFormatRow {
  TBMPPixelFormat BMPPixFmt;
  int BitsPixel;  // as the bitmap counts it: 16 for pf15bit
  int Requested;  // the BitsPixel value that selects the row
  AVPixelFormat AVPixFmt;
};

constexpr std::array<TBMPFormatRow, 5> BMPFormats = {{
    {pf8bit, 8, 8, AV_PIX_FMT_BGR8},
    // A 16-bit bitmap keeps red in the high bits, which FFmpeg names RGB555 and RGB565.
    {pf15bit, 16, 15, AV_PIX_FMT_RGB555LE},
    {pf16bit, 16, 16, AV_PIX_FMT_RGB565LE},
    {pf24bit, 24, 24, AV_PIX_FMT_BGR24},
    {pf32bit, 32, 32, AV_PIX_FMT_BGRA},
}};

// swscale's fast YUV-to-RGB path leaves the last pixels of packed rows unconverted when the
// width is not a multiple of 8, and writes whole blocks past it; its exact path does neither.
// Widths of whole 16-pixel blocks (1280, 1920 ...) keep the fast path, several times quicker.
int ExactRowsFlag(int AWidth) { return AWidth % 16 == 0 ? 0 : SWS_ACCURATE_RND; }

// swscale may still write a pixel pair or so past a picture's last pixel, as FFmpeg's own
// padded buffers allow: the RGB buffer keeps that much room behind the picture.
constexpr int RGBBufferSlack = 64;

const TBMPFormatRow& RowOf(TBMPPixelFormat AFormat) { return BMPFormats[AFormat - pf8bit]; }

}  // namespace

TFormatConverter::TFormatConverter() {
  FBitmap.SetBrushStyle(bsClear);
  ApplyPixelFormat();
}

void TFormatConverter::SetBitsPixel(int AValue) {
  if (AValue == FBitsPixel) return;
  auto row = std::find_if(BMPFormats.begin(), BMPFormats.end(),
                          [AValue](const TBMPFormatRow& ARow) { return ARow.Requested == AValue; });
  if (row == BMPFormats.end())
    throw EFormatConverterError("Invalid BitsPixel " + std::to_string(AValue));
  FBMPPixFmt = row->BMPPixFmt;
  ApplyPixelFormat();
}

void TFormatConverter::SetBMPPixFmt(TBMPPixelFormat AValue) {
  if (AValue == FBMPPixFmt) return;
  if (AValue < pf8bit || AValue > pf32bit)
    throw EFormatConverterError("Invalid PixelFormat " + std::to_string(int(AValue)));
  FBMPPixFmt = AValue;
  ApplyPixelFormat();
}

void TFormatConverter::ApplyPixelFormat() {
  FDIB = {};
  FRGBPicture = {};
  FRGBPictureRef = nullptr;
  FBitsPixel = RowOf(FBMPPixFmt).BitsPixel;
  FAVPixFmt = RowOf(FBMPPixFmt).AVPixFmt;
  FBitmap.SetPixelFormat(FBMPPixFmt);
}

bool TFormatConverter::PictureToRGB(const uint8_t* const* AData, const int* ALineSize,
                                    AVPixelFormat ASrcFormat, int AWidth, int AHeight,
                                    bool ACopyToBitmap) {
  auto fail = [this](const char* AText) {
    FRGBPictureRef = nullptr;
    FLastErrMsg = AText;
    return false;
  };
  const char* const contextFailed = "Cannot initialize the toRGB conversion context";

  // Dimensions no picture can have (not positive, or too large) fail before the bitmap is
  // resized to them, since there is no conversion for them either.
  const int size = av::av_image_get_buffer_size(FAVPixFmt, AWidth, AHeight, 1);
  if (size < 0) return fail(contextFailed);
  FBitmap.SetSize(AWidth, AHeight);

  // The context comes before the buffer so that a failure keeps the previous RGB picture,
  // which the descriptor still describes, intact. The format is checked first because
  // swscale stops the process on one it has no description of (AV_PIX_FMT_NONE, say).
  if (!av::sws_isSupportedInput(ASrcFormat)) return fail(contextFailed);
  FtoRGB_convert_ctx.reset(av::sws_getCachedContext(
      FtoRGB_convert_ctx.release(), AWidth, AHeight, ASrcFormat, AWidth, AHeight, FAVPixFmt,
      Fsws_flags | ExactRowsFlag(AWidth), nullptr, nullptr, nullptr));
  if (!FtoRGB_convert_ctx) return fail(contextFailed);

  if (!FRGBBuffer || size > FRGBBufSize) {
    FRGBBuffer.reset();
    FRGBBufSize = 0;
    FRGBBuffer.reset(static_cast<uint8_t*>(av::av_malloc(size_t(size) + RGBBufferSlack)));
    if (!FRGBBuffer) {
      FDIB = {};
      FRGBPicture = {};
      return fail("Cannot allocate the RGB buffer");
    }
    FRGBBufSize = size;
  }
  av::av_image_fill_arrays(FRGBPicture.data, FRGBPicture.linesize, FRGBBuffer.get(), FAVPixFmt,
                           AWidth, AHeight, 1);

  av::sws_scale(FtoRGB_convert_ctx.get(), AData, ALineSize, 0, AHeight, FRGBPicture.data,
                FRGBPicture.linesize);
  FRGBPictureRef = &FRGBPicture;
  FDIB = {
      0, AWidth, AHeight, FRGBPicture.linesize[0], 1, uint16_t(FBitsPixel), FRGBPicture.data[0]};
  if (ACopyToBitmap) RGBToBitmap();
  return true;
}

void TFormatConverter::FetchScanLine() {
  FScanLine = FBitmap.Height() > 0 ? FBitmap.ScanLine(0) : nullptr;
}

template <typename TRowCopy>
void TFormatConverter::WalkRows(TRowCopy ARowCopy) {
  KivAssert(FRGBPictureRef != nullptr, Unit);
  RunInMainThread([this] { FetchScanLine(); });
  // The bitmap steps by its own padded row length, the RGB picture by its packed one; only
  // what both hold is copied, even when someone resized the bitmap since the conversion.
  const ptrdiff_t bitmapStride = FBitmap.Stride();
  const ptrdiff_t rgbStride = FRGBPicture.linesize[0];
  const int rows = std::min(FBitmap.Height(), FDIB.bmHeight);
  const size_t bytes = size_t(std::min<ptrdiff_t>(FBitmap.RowBytes(), rgbStride));
  for (int row = 0; row < rows; ++row)
    ARowCopy(FScanLine - row * bitmapStride, FRGBPicture.data[0] + row * rgbStride, bytes);
}

void TFormatConverter::RGBToBitmap() {
  WalkRows([](uint8_t* ABitmapRow, const uint8_t* ARGBRow, size_t ABytes) {
    std::copy_n(ARGBRow, ABytes, ABitmapRow);
  });
}

void TFormatConverter::BitmapToRGB() {
  WalkRows([](const uint8_t* ABitmapRow, uint8_t* ARGBRow, size_t ABytes) {
    std::copy_n(ABitmapRow, ABytes, ARGBRow);
  });
}

bool TFormatConverter::RGBToPicture(uint8_t* const* AData, const int* ALineSize,
                                    AVPixelFormat ADstFormat, int AWidth, int AHeight) {
  KivAssert(FRGBPictureRef != nullptr, Unit);
  // A larger picture would read past the RGB picture.
  KivAssert(AWidth <= FDIB.bmWidth && AHeight <= FDIB.bmHeight, Unit);
  // swscale stops the process on a format it has no description of.
  const bool supported = av::sws_isSupportedOutput(ADstFormat) > 0;
  if (supported)
    FfromRGB_convert_ctx.reset(av::sws_getCachedContext(
        FfromRGB_convert_ctx.release(), AWidth, AHeight, FAVPixFmt, AWidth, AHeight, ADstFormat,
        Fsws_flags | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
  if (!supported || !FfromRGB_convert_ctx) {
    FLastErrMsg = "Cannot initialize the fromRGB conversion context";
    return false;
  }
  av::sws_scale(FfromRGB_convert_ctx.get(), FRGBPictureRef->data, FRGBPictureRef->linesize, 0,
                AHeight, AData, ALineSize);
  return true;
}

}  // namespace kiv
