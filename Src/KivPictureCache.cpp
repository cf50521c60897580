#include "KivPictureCache.h"

#include "KivAVCompat.h"

namespace kiv {

namespace {

// What a frame's buffers hold (shared planes counted once per frame).
int64_t FrameBytes(const AVFrame* AFrame) {
  int64_t bytes = 0;
  for (const AVBufferRef* buffer : AFrame->buf)
    if (buffer) bytes += int64_t(buffer->size);
  return bytes;
}

}  // namespace

TPictureStamp StampPicture(const AVFrame* AFrame, const AVPacket& ALastSent, bool AFirstFromPacket,
                           const AVStream* AStream) {
  // The time in the stream's time base: the packet that completed the picture, or for a
  // picture the decoder gave back while draining, the packet it started in. A second picture
  // from one packet has no packet of its own and takes its frame's time.
  int64_t t;
  if (!AFirstFromPacket)
    t = AFrame->best_effort_timestamp;
  else if (ALastSent.dts == AV_NOPTS_VALUE && ReorderedTag(AFrame) != AV_NOPTS_VALUE)
    t = ReorderedTag(AFrame);
  else if (ALastSent.dts != AV_NOPTS_VALUE)
    t = ALastSent.dts;
  else
    t = ALastSent.pts;

  TPictureStamp stamp;
  if (t != AV_NOPTS_VALUE) {
    if (AStream->start_time != AV_NOPTS_VALUE) t -= AStream->start_time;
    stamp.PTS = av::av_rescale_q(t, AStream->time_base, {1, AV_TIME_BASE});
  }
  stamp.OriginalDTS = ALastSent.dts;
  stamp.OriginalPTS = ALastSent.pts;
  stamp.StreamIndex = ALastSent.stream_index;
  stamp.Position = ALastSent.pos;
  return stamp;
}

void TKivPictureCache::SetBudget(int64_t ABytes) {
  FBudget = ABytes > 0 ? ABytes : 0;
  if (FEntries.empty()) return;
  // With no picture in use to measure from, the middle of what is kept stays longest.
  Shrink((FEntries.begin()->first + FEntries.rbegin()->first) / 2);
}

bool TKivPictureCache::Wants(int64_t ANumber) const {
  return FBudget > 0 && ANumber >= 0 && !FEntries.count(ANumber);
}

void TKivPictureCache::Put(int64_t ANumber, const AVFrame* AFrame, const TPictureStamp& AStamp,
                           int64_t ACenter) {
  if (Wants(ANumber)) Put(ANumber, TFramePtr(av::av_frame_clone(AFrame)), AStamp, ACenter);
}

void TKivPictureCache::Put(int64_t ANumber, TFramePtr AFrame, const TPictureStamp& AStamp,
                           int64_t ACenter) {
  // Without a frame (out of memory) the picture is simply not kept.
  if (!AFrame || !Wants(ANumber)) return;
  TEntry entry;
  entry.Bytes = FrameBytes(AFrame.get());
  entry.Frame = std::move(AFrame);
  entry.Stamp = AStamp;
  FBytes += entry.Bytes;
  FEntries.emplace(ANumber, std::move(entry));
  Shrink(ACenter);
}

const TKivPictureCache::TEntry* TKivPictureCache::Find(int64_t ANumber) const {
  auto at = FEntries.find(ANumber);
  return at == FEntries.end() ? nullptr : &at->second;
}

void TKivPictureCache::Clear() {
  FEntries.clear();
  FBytes = 0;
}

void TKivPictureCache::Shrink(int64_t ACenter) {
  while (FBytes > FBudget && !FEntries.empty()) {
    // The farthest picture is at one end of the numbers.
    auto first = FEntries.begin();
    auto last = std::prev(FEntries.end());
    auto victim = ACenter - first->first >= last->first - ACenter ? first : last;
    FBytes -= victim->second.Bytes;
    FEntries.erase(victim);
  }
}

}  // namespace kiv
