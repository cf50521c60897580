// Text helpers of the media utilities: times, frame durations, codec names, picture types and
// the file names handed to and read back from the media libraries.
#pragma once

#include <cstdint>
#include <string>

#include "KivExport.h"
#include "KivTypes.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/rational.h>
}

namespace kiv {

// "hh:mm:ss.zzz" of a time in microseconds, "N/A" for AV_NOPTS_VALUE. The time is rounded up
// by 5 ms before it is cut to milliseconds, so one second reads 00:00:01.005.
KIV_API std::string DurationToStr(int64_t ATime);

// DurationToStr of a time stamp counted in ATimeBase.
KIV_API std::string TimestampToStr(int64_t ATimestamp, AVRational ATimeBase);

// Microseconds one frame lasts at AFrameRate; 40000 (25 frames per second) when the rate has a
// zero part.
KIV_API int64_t FrameRateToDuration(AVRational AFrameRate);

// The codec id of a still image or image sequence named by its extension, 0 for other names.
KIV_API int32_t GuessImageCodec(const char* AFileName);

// The bytes to hand a media library for AFileName: UTF-8, or the locale's character set for
// image names. The result lives in one process-wide buffer, valid until the next call; two
// threads must not call this at the same time.
KIV_API const char* EncodeFileName(const TPathFileName& AFileName);

// The inverse of EncodeFileName for a name a media library returns.
KIV_API TPathFileName DecodeFileName(const char* AFileName);

// The value of AKey in ADict (which may be null), or ADefault when there is none.
KIV_API std::string DictValue(const AVDictionary* ADict, const std::string& AKey,
                              const std::string& ADefault);

// The name of the codec that decodes (or with AEncoder, encodes) the stream, "name(long name)"
// with ALongName; without such a codec a name made from the codec tag.
KIV_API std::string GetCodecName(const AVCodecParameters* APar, bool AEncoder, bool ALongName);
KIV_API std::string GetCodecName(const AVCodecContext* ACodecCtx, bool AEncoder, bool ALongName);

// "Intra", "Predicted" ... for an AVPictureType, "Unknown" for any other value.
KIV_API std::string PictureTypeName(int32_t APictureType);

}  // namespace kiv
