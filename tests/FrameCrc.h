// What the ffmpeg tool made of a clip (its framecrc output, written by make-test-media) and the
// same checksum over a picture the decoder holds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "KivDecode.h"
#include "TestSupport.h"

namespace kivtest {

// One Adler-32 checksum and time per picture, in the tool's output order.
struct Reference {
  std::vector<uint32_t> Checksums;
  std::vector<int64_t> Times;  // in the reference's time base
  AVRational TimeBase{1, 1};

  // Microseconds of picture AIndex from the start of the file (the references are written
  // with the stream's own time base, so that these are the container's times).
  int64_t Time(size_t AIndex) const {
    return kiv::av::av_rescale_q(Times[AIndex], TimeBase, {1, 1000000});
  }
};

// The reference of a clip, "CLIP.framecrc", or of a clip through a filter, "CLIP.NAME.framecrc".
inline Reference ReadReference(const std::string& AClip, const std::string& AName = "") {
  Reference ref;
  std::ifstream in(MediaFile(AClip + (AName.empty() ? "" : "." + AName) + ".framecrc"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("#tb 0: ", 0) == 0) {
      std::sscanf(line.c_str(), "#tb 0: %d/%d", &ref.TimeBase.num, &ref.TimeBase.den);
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    long long dts, pts, duration, size;
    unsigned crc;
    if (std::sscanf(line.c_str(), "0, %lld, %lld, %lld, %lld, 0x%x", &dts, &pts, &duration, &size,
                    &crc) == 5) {
      ref.Checksums.push_back(crc);
      ref.Times.push_back(pts);
    }
  }
  return ref;
}

// Adler-32 as the reference computes it (starting from 0).
inline uint32_t Adler32(const uint8_t* AData, size_t ASize) {
  uint32_t a = 0, b = 0;
  for (size_t i = 0; i < ASize; ++i) {
    a = (a + AData[i]) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

// The checksum of the held picture, its planes packed as the reference packs them.
inline uint32_t HeldChecksum(const kiv::TFrameInfo& AInfo) {
  int size = kiv::av::av_image_get_buffer_size(AInfo.PixFmt, AInfo.Width, AInfo.Height, 1);
  return Adler32(AInfo.Buffer, size_t(size));
}

}  // namespace kivtest
