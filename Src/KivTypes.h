// Types shared by every unit of the library.
#pragma once

#include <stdexcept>
#include <string>

#include "KivExport.h"

namespace kiv {

// File and directory names: UTF-8 text.
using TPathFileName = std::string;

// A programming error caught at run time: the text names the unit that found it.
class KIV_API EAssertionFailed : public std::logic_error {
 public:
  explicit EAssertionFailed(const std::string& AUnit)
      : std::logic_error("Assertion failure (" + AUnit + ")") {}
  // An assertion that carries its own message instead of the generic one.
  EAssertionFailed(const std::string& /*AUnit*/, const std::string& AMessage)
      : std::logic_error(AMessage) {}
};

// Checks a precondition that only a programming error can break.
inline void KivAssert(bool ACondition, const char* AUnit) {
  if (!ACondition) throw EAssertionFailed(AUnit);
}

}  // namespace kiv
