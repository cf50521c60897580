// Readable texts for the error codes FFmpeg returns, from a table of our own so that they are
// available whether or not the media libraries are loaded.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kiv {

// One row of the error table.
struct TErrorItem {
  int32_t err;           // the code exactly as FFmpeg returns it (negative)
  std::string_view msg;  // the text shown for it
};

// Every code occurs once: Windows Sockets errors, FFmpeg's tagged errors and the negated
// errno values of this platform.
extern const std::span<const TErrorItem> ErrorTable;

// The message for ACode ("Error number %d occurred" when the table has none), prefixed by
// APrefix and ": " when APrefix is not empty. Safe to call from any thread.
std::string ErrorText(const std::string& APrefix, int32_t ACode);

}  // namespace kiv
