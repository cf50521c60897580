// Drives the decoder over one input file as the Frame Browser does: open, report, stream
// records, some pictures, a bitmap, a step back, a seek, picture numbers, close. Shared by the fuzz target and
// the regression test that replays what fuzzing found.
#pragma once

#include <string>

#include "KivDecode.h"

namespace kivfuzz {

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
