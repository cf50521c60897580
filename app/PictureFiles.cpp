#include "PictureFiles.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

extern "C" {
#include <jpeglib.h>
}

namespace framebrowser {

namespace {

QImage::Format ImageFormatOf(kiv::TPixelFormat AFormat) {
  switch (AFormat) {
    case kiv::pf8bit:
      return QImage::Format_Indexed8;
    case kiv::pf15bit:
      return QImage::Format_RGB555;
    case kiv::pf16bit:
      return QImage::Format_RGB16;
    case kiv::pf24bit:
      return QImage::Format_BGR888;
    default:  // pf32bit and pfDevice: bytes B, G, R, A, i.e. 0xAARRGGBB words
      return QImage::Format_RGB32;
  }
}

}  // namespace

QImage BitmapToImage(const kiv::TBitmap& ABitmap) {
  if (ABitmap.Width() <= 0 || ABitmap.Height() <= 0) return {};
  const QImage::Format format = ImageFormatOf(ABitmap.PixelFormat());
  QImage image(ABitmap.Width(), ABitmap.Height(), format);
  const size_t rowBytes = size_t(ABitmap.RowBytes());
  for (int row = 0; row < ABitmap.Height(); ++row) {
    uchar* line = image.scanLine(row);
    std::memcpy(line, ABitmap.ScanLine(row), rowBytes);
    // Format_RGB32 wants its fourth byte opaque; the converter may leave it 0.
    if (format == QImage::Format_RGB32)
      for (size_t i = 3; i < rowBytes; i += 4) line[i] = 0xFF;
  }
  if (format == QImage::Format_Indexed8) {
    QList<QRgb> table;
    for (const kiv::TRGBQuad& q : ABitmap.Palette()) table.push_back(qRgb(q.Red, q.Green, q.Blue));
    image.setColorTable(table);
  }
  return image;
}

bool SaveBitmapAsBMP(const kiv::TBitmap& ABitmap, const std::string& AFileName,
                     std::string& AError) {
  const std::vector<uint8_t> header = kiv::BMPFileHeader(ABitmap);
  std::ofstream out(AFileName, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
  out.write(reinterpret_cast<const char*>(ABitmap.Bits()), std::streamsize(ABitmap.ImageSize()));
  out.close();
  if (!out) {
    AError = "cannot write " + AFileName + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

namespace {

// libjpeg reports a fatal error through error_exit, which must not return: it jumps back to
// the setjmp in WriteJPEG with the message saved.
struct TJPEGErrorManager {
  jpeg_error_mgr Public;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

void JPEGErrorExit(j_common_ptr AInfo) {
  auto* manager = reinterpret_cast<TJPEGErrorManager*>(AInfo->err);
  (*AInfo->err->format_message)(AInfo, manager->Message);
  std::longjmp(manager->Jump, 1);
}

// Plain C data only between setjmp and longjmp: no destructor may be skipped.
bool WriteJPEG(std::FILE* AFile, const uchar* ABits, int AStride, int AWidth, int AHeight,
               int AQuality, char* AMessage) {
  jpeg_compress_struct info;
  TJPEGErrorManager errors;
  info.err = jpeg_std_error(&errors.Public);
  errors.Public.error_exit = JPEGErrorExit;
  errors.Message[0] = 0;
  if (setjmp(errors.Jump)) {
    jpeg_destroy_compress(&info);
    std::snprintf(AMessage, JMSG_LENGTH_MAX, "%s", errors.Message);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, AFile);
  info.image_width = JDIMENSION(AWidth);
  info.image_height = JDIMENSION(AHeight);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, AQuality, TRUE);  // baseline: quantisation tables of 8-bit values
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(ABits + size_t(info.next_scanline) * size_t(AStride));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

struct TFileCloser {
  void operator()(std::FILE* AFile) const { std::fclose(AFile); }
};

}  // namespace

bool SaveImageAsJPEG(const QImage& AImage, const std::string& AFileName, int AQuality,
                     std::string& AError) {
  if (AImage.isNull()) {
    AError = "no picture to save";
    return false;
  }
  const QImage rgb = AImage.convertToFormat(QImage::Format_RGB888);
  std::unique_ptr<std::FILE, TFileCloser> file(std::fopen(AFileName.c_str(), "wb"));
  if (!file) {
    AError = "cannot write " + AFileName + ": " + std::strerror(errno);
    return false;
  }
  char message[JMSG_LENGTH_MAX] = {};
  if (!WriteJPEG(file.get(), rgb.constBits(), int(rgb.bytesPerLine()), rgb.width(), rgb.height(),
                 AQuality, message)) {
    AError = "cannot write " + AFileName + ": " + message;
    return false;
  }
  if (std::fclose(file.release()) != 0) {
    AError = "cannot write " + AFileName + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace framebrowser
