#include "GoToTarget.h"

#include <cctype>
#include <vector>

#include "FrameLogic.h"

namespace framebrowser {

namespace {

constexpr int64_t Limit = int64_t(1) << 62;  // far beyond any file, far from overflow

bool AllDigits(const std::string& AText) {
  if (AText.empty() || AText.size() > 18) return false;
  for (char c : AText)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

}  // namespace

TGoToTarget ParseGoTo(const std::string& AText) {
  const std::string text = TrimText(AText);
  if (AllDigits(text)) {
    const int64_t number = std::stoll(text);
    return number < Limit ? TGoToTarget{TGoToTarget::gkFrame, number} : TGoToTarget{};
  }
  std::vector<std::string> fields;
  for (size_t start = 0;;) {
    const size_t colon = text.find(':', start);
    fields.push_back(text.substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (fields.size() > 3) return {};
  // The seconds may carry decimals.
  std::string& last = fields.back();
  std::string decimals;
  if (const size_t dot = last.find('.'); dot != std::string::npos) {
    decimals = last.substr(dot + 1);
    last.resize(dot);
    if (decimals.empty() || decimals.size() > 6 || !AllDigits(decimals)) return {};
  }
  int64_t seconds = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (!AllDigits(fields[i])) return {};
    const int64_t value = std::stoll(fields[i]);
    if (i > 0 && value >= 60) return {};
    seconds = seconds * 60 + value;
    if (seconds >= Limit / 1000000) return {};
  }
  int64_t micro = 0;
  if (!decimals.empty()) micro = std::stoll((decimals + "00000").substr(0, 6));
  return {TGoToTarget::gkTime, seconds * 1000000 + micro};
}

}  // namespace framebrowser
