// The library's bitmap: pixels in memory exactly as a BMP file stores them (rows padded to four
// bytes, bottom row first), so a program draws it by wrapping the memory and writes it as a BMP
// file with one header and one write of Bits().
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "KivExport.h"

namespace kiv {

// The ordinals are those of the desktop toolkit's bitmap formats; messages show them.
enum TPixelFormat : int {
  pfDevice,  // no format chosen yet: stored like pf32bit, the depth of today's desktops
  pf1bit,
  pf4bit,
  pf8bit,   // one byte per pixel, an index into Palette()
  pf15bit,  // 16-bit words, 5-5-5 (x1 R5 G5 B5)
  pf16bit,  // 16-bit words, 5-6-5 (R5 G6 B5)
  pf24bit,  // bytes B, G, R
  pf32bit,  // bytes B, G, R, A
  pfCustom,
};

// Colours are 0x00RRGGBB.
using TColor = uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;

enum TBrushStyle : int { bsSolid, bsClear };

// A rectangle in pixels; Right and Bottom lie just outside it.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  bool operator==(const TRect&) const = default;
};

// One palette entry in the byte order of a BMP file's colour table.
struct TRGBQuad {
  uint8_t Blue = 0;
  uint8_t Green = 0;
  uint8_t Red = 0;
  uint8_t Reserved = 0;
  bool operator==(const TRGBQuad&) const = default;
};

class KIV_API TBitmap {
 public:
  TBitmap() = default;

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // A new size or pixel format starts with black pixels; setting the current value keeps them.
  void SetWidth(int AWidth) { SetSize(AWidth, FHeight); }
  void SetHeight(int AHeight) { SetSize(FWidth, AHeight); }
  void SetSize(int AWidth, int AHeight);

  TPixelFormat PixelFormat() const { return FPixelFormat; }
  // pfDevice and pf8bit to pf32bit; pf1bit, pf4bit and pfCustom are not supported.
  void SetPixelFormat(TPixelFormat AValue);

  // What a BMP writer needs: bits per pixel as a BMP file counts them (16 for pf15bit),
  // the padded row length, the pixel memory (its first byte starts the bottom row) and size.
  int BitsPerPixel() const { return BitsPerPixelOf(FPixelFormat); }
  int Stride() const { return FStride; }
  uint8_t* Bits() { return FPixels.data(); }
  const uint8_t* Bits() const { return FPixels.data(); }
  size_t ImageSize() const { return FPixels.size(); }
  // Bytes of a row that hold pixels (Stride() less the padding).
  int RowBytes() const { return int((int64_t(FWidth) * BitsPerPixel() + 7) / 8); }

  // Row ARow counted from the top; the row below lies Stride() bytes lower in memory.
  uint8_t* ScanLine(int ARow);
  const uint8_t* ScanLine(int ARow) const;

  // The colour table: 256 entries at pf8bit, empty otherwise. Index i shows the colour of the
  // value i in FFmpeg's BGR8 layout (bits BBGGGRRR), the 8-bit format the converter produces.
  const std::vector<TRGBQuad>& Palette() const { return FPalette; }

  TBrushStyle BrushStyle() const { return FBrushStyle; }
  void SetBrushStyle(TBrushStyle AValue) { FBrushStyle = AValue; }
  TColor BrushColor() const { return FBrushColor; }
  void SetBrushColor(TColor AValue) { FBrushColor = AValue; }

  // The whole bitmap.
  TRect ClipRect() const { return {0, 0, FWidth, FHeight}; }
  // Paints ARect (clipped to the bitmap) with the brush colour; a clear brush paints nothing.
  void FillRect(const TRect& ARect);

  // Takes a copy of AOther's picture: size, pixel format, palette and pixels (not the brush).
  void Assign(const TBitmap& AOther);

  static int BitsPerPixelOf(TPixelFormat AFormat);
  // The bytes of one pixel of AColor at AFormat (the nearest palette index at pf8bit).
  static std::array<uint8_t, 4> PixelOf(TColor AColor, TPixelFormat AFormat);

 private:
  void Reallocate();

  int FWidth = 0;
  int FHeight = 0;
  TPixelFormat FPixelFormat = pfDevice;
  int FStride = 0;
  std::vector<uint8_t> FPixels;
  std::vector<TRGBQuad> FPalette;
  TBrushStyle FBrushStyle = bsSolid;
  TColor FBrushColor = clWhite;
};

// The file header, information header and (at pf8bit the colour table, at pf16bit the 5-6-5
// masks) of a BMP file holding ABitmap; its pixels follow as ABitmap.Bits().
KIV_API std::vector<uint8_t> BMPFileHeader(const TBitmap& ABitmap);

}  // namespace kiv
