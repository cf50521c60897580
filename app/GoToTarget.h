// What the user typed into the go-to box: a time (hh:mm:ss.mmm, mm:ss, ss.mmm) or a picture
// number (digits alone).
#pragma once

#include <cstdint>
#include <string>

namespace framebrowser {

struct TGoToTarget {
  enum TKind { gkInvalid, gkTime, gkFrame };
  TKind Kind = gkInvalid;
  int64_t Value = 0;  // microseconds for a time, the picture number for a picture
  bool operator==(const TGoToTarget&) const = default;
};

// Blanks around the text are ignored. Digits alone are a picture number ("90" is picture 90;
// "90.0" or "1:30" is a time). A time has up to three fields separated by ":", the seconds
// with up to six decimals; a field after a ":" is below 60, the first field has no limit.
// Anything else, or a value too large to count in microseconds, is invalid.
TGoToTarget ParseGoTo(const std::string& AText);

}  // namespace framebrowser
