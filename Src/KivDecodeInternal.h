// Pieces shared by the decoder's sources; not part of the library's interface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace kiv {

// The size of an open input: 0 for formats without a file, otherwise the I/O context's size,
// and for inputs that report none the size on disk of the file the context names.
int64_t OpenFileSize(AVFormatContext* AContext);

// The input is a single picture file read by the "image2" format, which cannot be seeked.
bool IsImage2(const AVFormatContext* AContext);

namespace fileinfo {

using TLines = std::vector<std::string>;

// The start of a time in seconds with six decimals ("-0.500000"); empty for a missing time.
std::string StartText(int64_t ATime, AVRational ATimeBase);
// A rate with its unit word and as many decimals as it needs ("29.97 fps", "90k tbn").
std::string RateText(double ARate, const char* AUnit);
// The "Metadata:" block of a dictionary, one line per entry and per line of a value.
void MetadataBlock(TLines& ALines, AVDictionary* AMeta, const std::string& AIndent);

}  // namespace fileinfo

// A product of two sizes as 32-bit arithmetic gives it (wrapping, never undefined).
inline int32_t Product32(int32_t A, int32_t B) { return int32_t(uint32_t(A) * uint32_t(B)); }

}  // namespace kiv
