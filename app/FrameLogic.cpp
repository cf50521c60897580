#include "FrameLogic.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "MyUtils.h"

namespace framebrowser {

int64_t RoundEven(double AValue) {
  // nearbyint rounds in the current mode, which is to-nearest-even unless someone changed it.
  return static_cast<int64_t>(std::nearbyint(AValue));
}

std::string FormatPTS(int64_t APTS) {
  const int64_t seconds = APTS / 1000000;
  const long long hours = seconds / 3600;
  const long long minutes = (seconds / 60) % 60;
  const long long secs = seconds % 60;
  const long long millis = (APTS % 1000000) * 1000 / 1000000;
  return kiv::Format("%.2lld:%.2lld:%.2lld.%.3lld", hours, minutes, secs, millis);
}

kiv::TRect FitRect(const kiv::TRect& ASource, const kiv::TRect& ATarget) {
  const int sw = ASource.Right - ASource.Left, sh = ASource.Bottom - ASource.Top;
  const int tw = ATarget.Right - ATarget.Left, th = ATarget.Bottom - ATarget.Top;
  if (sw <= 0 || sh <= 0 || tw <= 0 || th <= 0)
    return {ATarget.Left, ATarget.Top, ATarget.Left, ATarget.Top};
  const double rw = double(sw) / tw, rh = double(sh) / th;
  kiv::TRect result = ATarget;
  if (rh > rw) {
    const int h = int(RoundEven((tw - sw / rh) / 2));
    result.Left = ATarget.Left + h;
    result.Right = ATarget.Right - h;
  } else {
    const int h = int(RoundEven((th - sh / rw) / 2));
    result.Top = ATarget.Top + h;
    result.Bottom = ATarget.Bottom - h;
  }
  return result;
}

kiv::TRect DisplayBounds(int AWidth, int AHeight, AVRational ASampleAspect) {
  int width = AWidth;
  if (ASampleAspect.num > 0 && ASampleAspect.den > 0 && AWidth > 0)
    width = int(std::clamp<int64_t>(
        RoundEven(double(AWidth) * ASampleAspect.num / ASampleAspect.den), 1, INT32_MAX));
  return {0, 0, width, AHeight};
}

TTrackBarSetup UpdatedTrackBar(int APosition, int AMax, int AFrames) {
  const double ratio = AMax >= 1 ? double(APosition) / AMax : 0.0;
  TTrackBarSetup setup;
  setup.Max = AFrames > 0 ? AFrames : AMax;
  setup.Frequency = setup.Max > 10 ? setup.Max / 10 : 1;
  setup.PageSize = setup.Max < 10 ? 2 : setup.Max < 100 ? 5 : setup.Max / 20;
  setup.Position = int(RoundEven(setup.Max * ratio));
  return setup;
}

int SliderPositionOf(int64_t APTS, int64_t ADuration, int AMax) {
  if (ADuration <= 0) return 0;
  const int64_t product = int64_t(AMax) * APTS;
  const int64_t position = RoundEven(double(product) / double(ADuration));
  return int(std::min<int64_t>(position, AMax));
}

int64_t SliderTargetTime(int APosition, int AMax, int64_t ADuration) {
  if (AMax <= 0) return 0;
  return RoundEven(double(APosition) / AMax * double(ADuration));
}

int EstimateFrameCount(int64_t ADuration, AVRational AFrameRate) {
  if (AFrameRate.den <= 0) return 0;
  return int(RoundEven(double(ADuration) / 1000000 * AFrameRate.num / AFrameRate.den));
}

std::string TrimText(const std::string& AText) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  auto first = std::find_if_not(AText.begin(), AText.end(), blank);
  auto last = std::find_if_not(AText.rbegin(), AText.rend(), blank).base();
  return first < last ? std::string(first, last) : std::string();
}

namespace {

std::string QtPatterns(const std::string& APatterns) {
  std::string out, rest = APatterns;
  while (!rest.empty()) {
    std::string pattern = kiv::FetchToken(rest, ";", true);
    if (pattern.empty()) continue;
    if (pattern == "*.*") pattern = "*";
    if (!out.empty()) out += ' ';
    out += pattern;
  }
  return out;
}

bool EndsWith(const std::string& AText, const std::string& AEnd) {
  return AText.size() >= AEnd.size() &&
         AText.compare(AText.size() - AEnd.size(), AEnd.size(), AEnd) == 0;
}

}  // namespace

std::string QtDialogFilter(const std::string& AFilter) {
  std::string out, rest = AFilter;
  while (!rest.empty()) {
    const std::string description = TrimText(kiv::FetchToken(rest, "|", true));
    const std::string patterns = QtPatterns(kiv::FetchToken(rest, "|", true));
    if (!out.empty()) out += ";;";
    const std::string suffix = "(" + patterns + ")";
    out += EndsWith(description, suffix) ? description : description + " " + suffix;
  }
  return out;
}

namespace {

std::string LowerCase(std::string AText) {
  std::transform(AText.begin(), AText.end(), AText.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return AText;
}

}  // namespace

std::string WebSiteUrl(const std::string& AAddress, const std::string& AExeFileName) {
  std::string name = AExeFileName.substr(AExeFileName.find_last_of('/') + 1);
  if (size_t dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) name.resize(dot);
  std::erase_if(name, [](char c) { return c == '[' || c == ']'; });
  std::replace(name.begin(), name.end(), ' ', '_');
  return LowerCase(AAddress + "/?from=exe_" + name);
}

std::string AboutLinkUrl(const std::string& AAddress, const std::string& ACaption) {
  std::string tag = "qev " + ACaption;
  std::replace(tag.begin(), tag.end(), ' ', '_');
  return LowerCase(AAddress + "/?from=" + tag);
}

}  // namespace framebrowser
