// Drives the decoder over one input file as the Frame Browser does: open, report, stream
// records, some pictures, a bitmap, a step back, a seek, picture numbers, close. Shared by the fuzz target and
// the regression test that replays what fuzzing found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "KivDecode.h"

namespace kivfuzz {

// Settings an input picks with its last two bytes: a filter description, and a value for the
// option store (set through opt_default, or straight into the scaler dictionary as a program
// may do). Valid and invalid ones alike.
inline constexpr const char* FilterTable[] = {
    "",      "hflip",        "fps=60",       "reverse",        "tpad=stop=2:stop_mode=clone",
    "fps=7", "scale=17:9",   "nosuchfilter", "crop=9999:9999", "select='not(mod(n\\,3))'",
    "null,", "framerate=50", "format=gray",  "setpts=PTS*2",
};

struct TOptionSetting {
  const char* Key;
  const char* Value;
  bool ScalerDictionary;  // straight into sws_dict, bypassing opt_default's check
};
inline constexpr TOptionSetting OptionTable[] = {
    {nullptr, nullptr, false},        {"sws_flags", "nonsense", true},
    {"sws_flags", "bilinear", true},  {"sws_flags", "neighbor+full_chroma_int", false},
    {"probesize", "32", false},       {"analyzeduration", "0", false},
    {"threads", "2", false},          {"flags", "+gray", false},
    {"skip_frame", "nokey", false},   {"fflags", "+genpts+igndts", false},
    {"lowres", "1", false},           {"no_such_option", "1", false},
    {"err_detect", "explode", false}, {"ec", "0", false},
};

// How many bytes at the end of an input hold its settings.
inline constexpr size_t SettingsSize = 2;

// Applies the settings of an input's last bytes (none for a shorter input); the size of the
// file part that remains.
inline size_t ApplySettings(kiv::TKivDecoder& ADecoder, const uint8_t* AData, size_t ASize) {
  if (ASize < SettingsSize) return ASize;
  const uint8_t* settings = AData + ASize - SettingsSize;
  ADecoder.SetVideoFilters(FilterTable[settings[0] % std::size(FilterTable)]);
  const TOptionSetting& option = OptionTable[settings[1] % std::size(OptionTable)];
  if (option.Key && option.ScalerDictionary) {
    AVDictionary* dict = nullptr;
    kiv::av::av_dict_set(&dict, option.Key, option.Value, 0);
    ADecoder.Options().Setsws_dict(dict);
  } else if (option.Key) {
    ADecoder.opt_default(option.Key, option.Value);
  }
  return ASize - SettingsSize;
}

inline void DriveDecoder(kiv::TKivDecoder& ADecoder, const std::string& AFileName) {
  if (!ADecoder.LoadFile(AFileName)) return;
  ADecoder.FileInfoText();
  ADecoder.FileStreamInfo();
  for (int i = 0; i < ADecoder.StreamCount(); ++i) {
    ADecoder.GetVideoStreamInfos(i);
    ADecoder.GetAudioStreamInfos(i);
    ADecoder.GetSubtitleStreamInfos(i);
  }
  for (int i = 0; i < ADecoder.ProgramCount(); ++i) ADecoder.GetProgrames(i);
  if (ADecoder.VideoStreamCount() > 0) {
    for (int i = 0; i < 6 && ADecoder.Decode(-1); ++i) {
    }
    kiv::TBitmap bitmap;
    ADecoder.CopyToBitmap(bitmap);
    ADecoder.DecodePreviousFrame(-1);
    ADecoder.Seek(0);
    ADecoder.Decode(-1);
    // Exact navigation on the frame index, which is read meanwhile on a second input.
    ADecoder.DecodeFrame(3);
    ADecoder.DecodeNextKeyFrame(-1);
    ADecoder.DecodePreviousKeyFrame(-1);
    ADecoder.FrameCount();
  }
  ADecoder.CloseFile();
}

}  // namespace kivfuzz
