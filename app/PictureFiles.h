// The current picture as a Qt image and as files: BMP in the bitmap's own pixel format, JPEG
// through libjpeg.
#pragma once

#include <QImage>
#include <string>

#include "KivBitmap.h"

namespace framebrowser {

// A copy of ABitmap, top row first, in the QImage format with the same pixel layout (indexed
// with the bitmap's palette at 8 bits). A bitmap without pixels gives a null image.
QImage BitmapToImage(const kiv::TBitmap& ABitmap);

// Writes ABitmap as a BMP file: the header of its own pixel format, then its rows as they lie
// in memory. False, with the reason in AError, when the file cannot be written.
bool SaveBitmapAsBMP(const kiv::TBitmap& ABitmap, const std::string& AFileName,
                     std::string& AError);

// Writes AImage as a baseline JPEG file of 24-bit colour at the quality given (0 to 100).
// False, with the reason in AError, when the image is empty or the file cannot be written.
bool SaveImageAsJPEG(const QImage& AImage, const std::string& AFileName, int AQuality,
                     std::string& AError);

inline constexpr int JPEGQuality = 90;

}  // namespace framebrowser
