// The Frame Browser's own arithmetic and texts, free of widgets so that tests can call them:
// the time text, fitting a picture into the picture area, the slider's set-up and the
// conversions between slider positions and times.
#pragma once

#include <cstdint>
#include <string>

#include "KivBitmap.h"

extern "C" {
#include <libavutil/rational.h>
}

namespace framebrowser {

// Nearest integer, ties to even (the rounding used throughout the window).
int64_t RoundEven(double AValue);

// "hh:mm:ss.zzz" of a time in microseconds (more hour digits when needed); every part is
// truncated toward zero, so a negative time gives negative parts, e.g. "00:00:-01.-500".
std::string FormatPTS(int64_t APTS);

// The largest rectangle of ASource's shape that fits into ATarget, centred with equal margins
// on its two free sides. An empty source or target gives an empty rectangle at the target's
// top left corner: there is nothing to scale.
kiv::TRect FitRect(const kiv::TRect& ASource, const kiv::TRect& ATarget);

// The bounds of an AWidth x AHeight picture shown with square pixels: the width stretched by
// the sample aspect ratio ASampleAspect (rounded, at least 1), unchanged without a ratio.
kiv::TRect DisplayBounds(int AWidth, int AHeight, AVRational ASampleAspect);

// The slider after a change of the frame estimate: the maximum becomes AFrames when there is
// an estimate, the position keeps its share of the range.
struct TTrackBarSetup {
  int Max = 10;
  int Frequency = 1;
  int PageSize = 2;
  int Position = 0;
  bool operator==(const TTrackBarSetup&) const = default;
};
TTrackBarSetup UpdatedTrackBar(int APosition, int AMax, int AFrames);

// The slider position of a picture time: AMax * APTS / ADuration rounded, at most AMax.
int SliderPositionOf(int64_t APTS, int64_t ADuration, int AMax);

// The time a slider position stands for: APosition / AMax * ADuration rounded; 0 without a
// range.
int64_t SliderTargetTime(int APosition, int AMax, int64_t ADuration);

// The number of frames ADuration (microseconds) holds at AFrameRate, rounded; 0 when the rate
// has no positive denominator.
int EstimateFrameCount(int64_t ADuration, AVRational AFrameRate);

// The text without its leading and trailing blanks and control characters.
std::string TrimText(const std::string& AText);

// A file dialog filter written as "Description|*.A;*.B|..." in the form a Qt file dialog takes:
// "Description (*.A *.B);;...". Empty patterns are dropped, "*.*" becomes "*" (on this system
// a file name need not have an extension), and a description that already ends with its
// patterns in parentheses is not given them twice.
std::string QtDialogFilter(const std::string& AFilter);

// The address the web-site button opens: lower case of AAddress + "/?from=exe_" + the
// program's base name with "[" and "]" removed and blanks turned into "_".
std::string WebSiteUrl(const std::string& AAddress, const std::string& AExeFileName);

}  // namespace framebrowser

namespace framebrowser {

// The address the about box's link opens: lower case of AAddress + "/?from=" + the tag
// "qev " + ACaption with every blank turned into "_".
std::string AboutLinkUrl(const std::string& AAddress, const std::string& ACaption);

}  // namespace framebrowser
