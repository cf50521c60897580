// An input's reading position: reading packets (a packet read ahead is handed out first), and
// moving to a packet the frame index names, checked by reading up to it instead of trusting
// the demuxer's seek.
#pragma once

#include <cstdint>
#include <functional>

#include "AVCodecStubs.h"
#include "AVFormatStubs.h"
#include "KivAVPtr.h"
#include "KivFrameIndex.h"

namespace kiv {

class TKivInputCursor {
 public:
  // AMark and AEnd bracket every call that may block on input (for the read time-out).
  TKivInputCursor(std::function<void()> AMark, std::function<void()> AEnd);

  // The next packet of AInput into APacket, the one held back by PositionAt first; the
  // library's result.
  int Read(AVFormatContext* AInput, AVPacket* APacket);
  // Moves AInput so that the next Read gives AKey, a packet of stream AStreamIndex: by byte
  // position or by time, whichever the demuxer does precisely, then the other, then from the
  // start of the input. False when no way got there.
  bool PositionAt(AVFormatContext* AInput, int32_t AStreamIndex, const TFrameIndexEntry& AKey);
  // Forgets a packet held back.
  void Drop();

 private:
  // Reads packets up to AKey: true when it is held back for the next Read.
  bool LandOn(AVFormatContext* AInput, int32_t AStreamIndex, const TFrameIndexEntry& AKey);

  std::function<void()> FMark;
  std::function<void()> FEnd;
  TPacketPtr FHeld;
  bool FHasHeld = false;
};

}  // namespace kiv
