#include "FrameStatus.h"

#include "MyUtils.h"

namespace framebrowser {

std::string FrameCountText(int64_t ANumber, int64_t ACount, int64_t AEstimate) {
  std::string text = "Frame ";
  text += ANumber >= 0 ? std::to_string(ANumber) : "?";
  if (ACount >= 0)
    text += " of " + std::to_string(ACount);
  else if (AEstimate > 0)
    text += " of ~" + std::to_string(AEstimate);
  return text;
}

char PictureTypeLetter(AVPictureType AType) {
  switch (AType) {
    case AV_PICTURE_TYPE_I:
      return 'I';
    case AV_PICTURE_TYPE_P:
      return 'P';
    case AV_PICTURE_TYPE_B:
      return 'B';
    case AV_PICTURE_TYPE_S:
      return 'S';
    case AV_PICTURE_TYPE_SI:
      return 'i';
    case AV_PICTURE_TYPE_SP:
      return 'p';
    case AV_PICTURE_TYPE_BI:
      return 'b';
    default:
      return '?';
  }
}

int TimeBaseDecimals(AVRational ATimeBase) {
  if (ATimeBase.num <= 0 || ATimeBase.den <= 0) return 0;
  // The smallest d with 10^d ticks per second at least: one tick then moves the last digit.
  int decimals = 0;
  for (__int128 scale = 1; decimals < 9 && scale * ATimeBase.num < ATimeBase.den; scale *= 10)
    ++decimals;
  return decimals;
}

std::string StreamTimeText(int64_t APTS, AVRational ATimeBase) {
  if (APTS == AV_NOPTS_VALUE || ATimeBase.num <= 0 || ATimeBase.den <= 0) return {};
  const bool negative = APTS < 0;
  const __int128 micro = negative ? -__int128(APTS) : __int128(APTS);
  // Back to the stream's ticks, to the nearest one.
  const __int128 perTick = __int128(ATimeBase.num) * 1000000;
  const __int128 ticks = (micro * ATimeBase.den + perTick / 2) / perTick;
  const int decimals = TimeBaseDecimals(ATimeBase);
  __int128 scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  // Whole units of the last decimal, truncated.
  const __int128 units = ticks * ATimeBase.num * scale / ATimeBase.den;
  const long long seconds = static_cast<long long>(units / scale);
  const long long fraction = static_cast<long long>(units % scale);
  std::string text = kiv::Format("%s%.2lld:%.2lld:%.2lld", negative ? "-" : "", seconds / 3600,
                                 (seconds / 60) % 60, seconds % 60);
  if (decimals > 0) text += kiv::Format(".%.*lld", decimals, fraction);
  return text;
}

std::string FrameStatusText(const TFrameStatus& AStatus) {
  std::string text = FrameCountText(AStatus.Number, AStatus.Count, AStatus.Estimate);
  text += "  |  ";
  text += PictureTypeLetter(AStatus.PictureType);
  if (AStatus.IsKeyFrame) text += "  key frame";
  const std::string time = StreamTimeText(AStatus.PTS, AStatus.TimeBase);
  if (!time.empty()) text += "  |  " + time;
  return text;
}

std::string WindowCaption(const std::string& ACaption, const std::string& AFileName) {
  if (AFileName.empty()) return ACaption;
  return AFileName.substr(AFileName.find_last_of('/') + 1) + " - " + ACaption;
}

}  // namespace framebrowser
