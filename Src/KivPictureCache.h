// Decoded pictures kept by number (presentation order), as references to the decoder's own
// frames, within a memory budget: the pictures farthest from the one in use go first.
#pragma once

#include <cstdint>
#include <map>

#include "AVCodecStubs.h"
#include "AVFormatStubs.h"
#include "AVUtilStubs.h"
#include "KivAVPtr.h"
#include "KivExport.h"

namespace kiv {

// Where and when a picture was decoded, as the held picture reports it.
struct TPictureStamp {
  int64_t PTS = AV_NOPTS_VALUE;  // microseconds from the stream's start
  int64_t OriginalDTS = AV_NOPTS_VALUE;
  int64_t OriginalPTS = AV_NOPTS_VALUE;
  int32_t StreamIndex = -1;
  int64_t Position = -1;
};

// The stamp of a decoded picture of AStream: the time of the packet that completed it (for a
// second picture from one packet, or one drained at the end, its own time), from the stream's
// start; no time when neither tells one.
TPictureStamp StampPicture(const AVFrame* AFrame, const AVPacket& ALastSent, bool AFirstFromPacket,
                           const AVStream* AStream);

class KIV_API TKivPictureCache {
 public:
  struct TEntry {
    TFramePtr Frame;
    TPictureStamp Stamp;
    int64_t Bytes = 0;
  };

  // The memory budget in bytes; 0 keeps nothing.
  int64_t Budget() const { return FBudget; }
  void SetBudget(int64_t ABytes);

  // Keeps a new reference to AFrame as picture ANumber (a picture already kept stays as it
  // is), then drops the pictures farthest from picture ACenter until the budget holds.
  void Put(int64_t ANumber, const AVFrame* AFrame, const TPictureStamp& AStamp, int64_t ACenter);
  // The same, keeping AFrame itself.
  void Put(int64_t ANumber, TFramePtr AFrame, const TPictureStamp& AStamp, int64_t ACenter);
  // The kept picture ANumber, or null.
  const TEntry* Find(int64_t ANumber) const;
  void Clear();

  int64_t Bytes() const { return FBytes; }
  size_t Count() const { return FEntries.size(); }

 private:
  // Whether picture ANumber would be kept: a budget, a number, and not kept yet.
  bool Wants(int64_t ANumber) const;
  void Shrink(int64_t ACenter);

  int64_t FBudget = int64_t(1) << 30;
  int64_t FBytes = 0;
  std::map<int64_t, TEntry> FEntries;
};

}  // namespace kiv
