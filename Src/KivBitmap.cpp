#include "KivBitmap.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include "KivTypes.h"

namespace kiv {

namespace {

constexpr const char* Unit = "KivBitmap";

// The BGR8 value of a colour: blue in the top two bits, then three of green, three of red.
uint8_t BGR8Of(TColor AColor) {
  unsigned r = (AColor >> 16) & 0xFF, g = (AColor >> 8) & 0xFF, b = AColor & 0xFF;
  return uint8_t((b >> 6) << 6 | (g >> 5) << 3 | (r >> 5));
}

// Spreads an n-bit level over 0..255 so that the top level is full intensity.
uint8_t Expand(unsigned ALevel, unsigned ABits) {
  return uint8_t(ALevel * 255 / ((1u << ABits) - 1));
}

std::vector<TRGBQuad> BGR8Palette() {
  std::vector<TRGBQuad> palette(256);
  for (unsigned i = 0; i < 256; ++i)
    palette[i] = {Expand(i >> 6, 2), Expand((i >> 3) & 7, 3), Expand(i & 7, 3), 0};
  return palette;
}

void PutLE(std::vector<uint8_t>& AOut, uint32_t AValue, int ABytes) {
  for (int i = 0; i < ABytes; ++i) AOut.push_back(uint8_t(AValue >> (8 * i)));
}

}  // namespace

int TBitmap::BitsPerPixelOf(TPixelFormat AFormat) {
  switch (AFormat) {
    case pf8bit:
      return 8;
    case pf15bit:
    case pf16bit:
      return 16;
    case pf24bit:
      return 24;
    default:
      return 32;
  }
}

std::array<uint8_t, 4> TBitmap::PixelOf(TColor AColor, TPixelFormat AFormat) {
  uint8_t r = (AColor >> 16) & 0xFF, g = (AColor >> 8) & 0xFF, b = AColor & 0xFF;
  switch (AFormat) {
    case pf8bit:
      return {BGR8Of(AColor), 0, 0, 0};
    case pf15bit: {
      unsigned w = (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
      return {uint8_t(w), uint8_t(w >> 8), 0, 0};
    }
    case pf16bit: {
      unsigned w = (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3);
      return {uint8_t(w), uint8_t(w >> 8), 0, 0};
    }
    case pf24bit:
      return {b, g, r, 0};
    default:
      return {b, g, r, 0xFF};
  }
}

void TBitmap::SetSize(int AWidth, int AHeight) {
  KivAssert(AWidth >= 0 && AHeight >= 0, Unit);
  if (AWidth == FWidth && AHeight == FHeight) return;
  FWidth = AWidth;
  FHeight = AHeight;
  Reallocate();
}

void TBitmap::SetPixelFormat(TPixelFormat AValue) {
  KivAssert(AValue == pfDevice || (AValue >= pf8bit && AValue <= pf32bit), Unit);
  if (AValue == FPixelFormat) return;
  FPixelFormat = AValue;
  FPalette = AValue == pf8bit ? BGR8Palette() : std::vector<TRGBQuad>{};
  Reallocate();
}

void TBitmap::Reallocate() {
  int64_t stride = (int64_t(FWidth) * BitsPerPixel() + 31) / 32 * 4;
  KivAssert(stride <= INT_MAX, Unit);
  FStride = int(stride);
  // Zero bytes are black at every depth, palette index 0 included.
  FPixels.assign(size_t(stride) * size_t(FHeight), 0);
}

uint8_t* TBitmap::ScanLine(int ARow) {
  return const_cast<uint8_t*>(std::as_const(*this).ScanLine(ARow));
}

const uint8_t* TBitmap::ScanLine(int ARow) const {
  KivAssert(ARow >= 0 && ARow < FHeight, Unit);
  return FPixels.data() + size_t(FHeight - 1 - ARow) * size_t(FStride);
}

void TBitmap::FillRect(const TRect& ARect) {
  if (FBrushStyle == bsClear) return;
  int left = std::max(ARect.Left, 0), right = std::min(ARect.Right, FWidth);
  int top = std::max(ARect.Top, 0), bottom = std::min(ARect.Bottom, FHeight);
  if (left >= right || top >= bottom) return;
  const int bytes = BitsPerPixel() / 8;
  const std::array<uint8_t, 4> pixel = PixelOf(FBrushColor, FPixelFormat);
  for (int row = top; row < bottom; ++row) {
    uint8_t* p = ScanLine(row) + size_t(left) * bytes;
    for (int x = left; x < right; ++x, p += bytes) std::memcpy(p, pixel.data(), bytes);
  }
}

void TBitmap::Assign(const TBitmap& AOther) {
  if (&AOther == this) return;
  FWidth = AOther.FWidth;
  FHeight = AOther.FHeight;
  FPixelFormat = AOther.FPixelFormat;
  FStride = AOther.FStride;
  FPixels = AOther.FPixels;
  FPalette = AOther.FPalette;
}

std::vector<uint8_t> BMPFileHeader(const TBitmap& ABitmap) {
  constexpr uint32_t FileHeaderSize = 14, InfoHeaderSize = 40, BI_RGB = 0, BI_BITFIELDS = 3;
  const bool masks = ABitmap.PixelFormat() == pf16bit;
  const uint32_t tableSize = uint32_t(ABitmap.Palette().size() * 4) + (masks ? 12 : 0);
  const uint32_t offBits = FileHeaderSize + InfoHeaderSize + tableSize;

  std::vector<uint8_t> out;
  out.reserve(offBits);
  out.push_back('B');
  out.push_back('M');
  PutLE(out, uint32_t(offBits + ABitmap.ImageSize()), 4);
  PutLE(out, 0, 4);  // reserved
  PutLE(out, offBits, 4);

  PutLE(out, InfoHeaderSize, 4);
  PutLE(out, uint32_t(ABitmap.Width()), 4);
  PutLE(out, uint32_t(ABitmap.Height()), 4);  // positive: bottom row first
  PutLE(out, 1, 2);                           // planes
  PutLE(out, uint32_t(ABitmap.BitsPerPixel()), 2);
  PutLE(out, masks ? BI_BITFIELDS : BI_RGB, 4);
  PutLE(out, uint32_t(ABitmap.ImageSize()), 4);
  PutLE(out, 2835, 4);  // 72 dots per inch, in dots per metre
  PutLE(out, 2835, 4);
  PutLE(out, uint32_t(ABitmap.Palette().size()), 4);  // colours used
  PutLE(out, 0, 4);                                   // colours important: all

  if (masks) {
    PutLE(out, 0xF800, 4);
    PutLE(out, 0x07E0, 4);
    PutLE(out, 0x001F, 4);
  }
  for (const TRGBQuad& q : ABitmap.Palette()) {
    out.push_back(q.Blue);
    out.push_back(q.Green);
    out.push_back(q.Red);
    out.push_back(q.Reserved);
  }
  return out;
}

}  // namespace kiv
