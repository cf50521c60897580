// Helpers of the picture tests: the system's FFmpeg, synthetic frames with known colours and
// reading a pixel of a bitmap back as a colour.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "AVUtilStubs.h"
#include "KivBitmap.h"
#include "KivLoad.h"

namespace kivtest {

// Loads the system's FFmpeg once for a whole test program.
class AVLibrariesEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(kiv::KivLoader->Load(kiv::AVLibraries)); }
};

struct FrameDeleter {
  void operator()(AVFrame* AFrame) const {
    if (kiv::av::av_frame_free) kiv::av::av_frame_free(&AFrame);
  }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

inline FramePtr AllocFrame(AVPixelFormat AFormat, int AWidth, int AHeight) {
  FramePtr frame(kiv::av::av_frame_alloc());
  frame->format = AFormat;
  frame->width = AWidth;
  frame->height = AHeight;
  if (kiv::av::av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
  return frame;
}

struct RGB {
  int R, G, B;
};

inline std::ostream& operator<<(std::ostream& AOut, const RGB& AColor) {
  return AOut << "(" << AColor.R << ", " << AColor.G << ", " << AColor.B << ")";
}

inline RGB RGBOf(kiv::TColor AColor) {
  return {int(AColor >> 16 & 0xFF), int(AColor >> 8 & 0xFF), int(AColor & 0xFF)};
}

inline uint8_t Clip(double AValue) {
  return uint8_t(std::clamp(std::lround(AValue), long(0), long(255)));
}

// Y, Cb and Cr of a colour in BT.601 limited range, what swscale assumes for an untagged
// picture.
inline void YUVOf(RGB AColor, uint8_t& AY, uint8_t& AU, uint8_t& AV) {
  double r = AColor.R / 255.0, g = AColor.G / 255.0, b = AColor.B / 255.0;
  AY = Clip(16 + 65.481 * r + 128.553 * g + 24.966 * b);
  AU = Clip(128 - 37.797 * r - 74.203 * g + 112.0 * b);
  AV = Clip(128 + 112.0 * r - 93.786 * g - 18.214 * b);
}

// A YUV420P frame of vertical bars ABarWidth wide (even), one colour each, left to right,
// over a top half and a bottom half of ATop and ABottom colours.
inline FramePtr BarsFrame(const std::vector<kiv::TColor>& ATop,
                          const std::vector<kiv::TColor>& ABottom, int ABarWidth, int AHeight) {
  const int width = int(ATop.size()) * ABarWidth;
  FramePtr frame = AllocFrame(AV_PIX_FMT_YUV420P, width, AHeight);
  for (int y = 0; y < AHeight; ++y)
    for (int x = 0; x < width; ++x) {
      const auto& bars = y < AHeight / 2 ? ATop : ABottom;
      uint8_t Y, U, V;
      YUVOf(RGBOf(bars[x / ABarWidth]), Y, U, V);
      frame->data[0][y * frame->linesize[0] + x] = Y;
      frame->data[1][y / 2 * frame->linesize[1] + x / 2] = U;
      frame->data[2][y / 2 * frame->linesize[2] + x / 2] = V;
    }
  return frame;
}

// The colour of pixel (AX, AY) of a bitmap, read by the layout of its pixel format.
inline RGB PixelColor(const kiv::TBitmap& ABitmap, int AX, int AY) {
  const uint8_t* row = ABitmap.ScanLine(AY);
  auto expand = [](unsigned ALevel, unsigned ABits) {
    return int(ALevel * 255 / ((1u << ABits) - 1));
  };
  switch (ABitmap.PixelFormat()) {
    case kiv::pf8bit: {
      const kiv::TRGBQuad& q = ABitmap.Palette()[row[AX]];
      return {q.Red, q.Green, q.Blue};
    }
    case kiv::pf15bit: {
      unsigned w = row[2 * AX] | row[2 * AX + 1] << 8;
      return {expand(w >> 10 & 31, 5), expand(w >> 5 & 31, 5), expand(w & 31, 5)};
    }
    case kiv::pf16bit: {
      unsigned w = row[2 * AX] | row[2 * AX + 1] << 8;
      return {expand(w >> 11 & 31, 5), expand(w >> 5 & 63, 6), expand(w & 31, 5)};
    }
    case kiv::pf24bit:
      return {row[3 * AX + 2], row[3 * AX + 1], row[3 * AX]};
    default:
      return {row[4 * AX + 2], row[4 * AX + 1], row[4 * AX]};
  }
}

inline ::testing::AssertionResult ColorNear(RGB AActual, RGB AExpected, int ATolerance) {
  if (std::abs(AActual.R - AExpected.R) <= ATolerance &&
      std::abs(AActual.G - AExpected.G) <= ATolerance &&
      std::abs(AActual.B - AExpected.B) <= ATolerance)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << AActual << " is not within " << ATolerance << " of " << AExpected;
}

}  // namespace kivtest
