// The picture format converter: any FFmpeg picture to an RGB picture of 8, 15, 16, 24 or 32
// bits per pixel and into a bitmap, and back from the bitmap to any FFmpeg picture.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "KivAVPtr.h"
#include "KivBitmap.h"
#include "KivExport.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

struct SwsContext;

namespace kiv {

// The bitmap depths the converter supports: pf8bit to pf32bit of TPixelFormat.
using TBMPPixelFormat = TPixelFormat;

// Plane pointers and line sizes of a picture, laid out like AVFrame's data and linesize.
struct AVPicture {
  uint8_t* data[8] = {};
  int linesize[8] = {};
};

// Describes an RGB picture, top row first, bmWidthBytes apart (the GDI BITMAP record).
struct TDIBDescriptor {
  int32_t bmType = 0;
  int32_t bmWidth = 0;
  int32_t bmHeight = 0;
  int32_t bmWidthBytes = 0;
  uint16_t bmPlanes = 0;
  uint16_t bmBitsPixel = 0;
  void* bmBits = nullptr;
  bool operator==(const TDIBDescriptor&) const = default;
};

// Raised for invalid converter settings: "Invalid BitsPixel %d", "Invalid PixelFormat %d".
class KIV_API EFormatConverterError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

class KIV_API TFormatConverter {
 public:
  // Default SWS_BICUBIC.
  static constexpr int DefaultSwsFlags = 4;

  TFormatConverter();
  TFormatConverter(const TFormatConverter&) = delete;
  TFormatConverter& operator=(const TFormatConverter&) = delete;

  int BitsPixel() const { return FBitsPixel; }
  // 8, 15, 16, 24 or 32; anything else raises "Invalid BitsPixel %d".
  void SetBitsPixel(int AValue);
  TBMPPixelFormat BMPPixFmt() const { return FBMPPixFmt; }
  // pf8bit to pf32bit; any other ordinal raises "Invalid PixelFormat %d".
  void SetBMPPixFmt(TBMPPixelFormat AValue);
  // The RGB pixel format that goes with BMPPixFmt.
  AVPixelFormat AVPixFmt() const { return FAVPixFmt; }

  TBitmap& Bitmap() { return FBitmap; }
  const TBitmap& Bitmap() const { return FBitmap; }
  const TDIBDescriptor* DIB() const { return &FDIB; }
  AVPicture* RGBPicture() { return &FRGBPicture; }
  // The RGB picture after a successful PictureToRGB; null before and after a failed one.
  const AVPicture* RGBPictureRef() const { return FRGBPictureRef; }
  int RGBBufSize() const { return FRGBBufSize; }
  const std::string& LastErrMsg() const { return FLastErrMsg; }
  int sws_flags() const { return Fsws_flags; }
  void Setsws_flags(int AValue) { Fsws_flags = AValue; }

  // Converts a picture (eight planes and line sizes, as in AVFrame) of AWidth x AHeight to
  // the RGB picture; with ACopyToBitmap then copies it into Bitmap(). Bitmap() takes the
  // picture's size in both modes.
  bool PictureToRGB(const uint8_t* const* AData, const int* ALineSize, AVPixelFormat ASrcFormat,
                    int AWidth, int AHeight, bool ACopyToBitmap);
  // The RGB picture into Bitmap(), its top row on scan line 0.
  void RGBToBitmap();
  // Bitmap() back into the RGB picture.
  void BitmapToRGB();
  // The RGB picture into a caller's picture of ADstFormat; AWidth x AHeight may not exceed
  // the RGB picture.
  bool RGBToPicture(uint8_t* const* AData, const int* ALineSize, AVPixelFormat ADstFormat,
                    int AWidth, int AHeight);

 private:
  void ApplyPixelFormat();
  void FetchScanLine();
  // Fetches scan line 0 and calls ARow(bitmap row, RGB row) for every row both pictures hold,
  // with the number of bytes both rows hold.
  template <typename TRowCopy>
  void WalkRows(TRowCopy ARow);

  AVPixelFormat FAVPixFmt = AV_PIX_FMT_NONE;
  int FBitsPixel = 0;
  TBitmap FBitmap;
  uint8_t* FScanLine = nullptr;
  TBMPPixelFormat FBMPPixFmt = pf32bit;
  TDIBDescriptor FDIB;
  TAVBufferPtr FRGBBuffer;
  int FRGBBufSize = 0;
  AVPicture FRGBPicture;
  const AVPicture* FRGBPictureRef = nullptr;
  int Fsws_flags = DefaultSwsFlags;
  TSwsContextPtr FtoRGB_convert_ctx;
  TSwsContextPtr FfromRGB_convert_ctx;
  std::string FLastErrMsg;
};

}  // namespace kiv
