#include "KivPictureCache.h"

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

void TKivPictureCache::SetBudget(int64_t ABytes) {
  FBudget = ABytes > 0 ? ABytes : 0;
  if (FEntries.empty()) return;
  // With no picture in use to measure from, the middle of what is kept stays longest.
  Shrink((FEntries.begin()->first + FEntries.rbegin()->first) / 2);
}

void TKivPictureCache::Put(int64_t ANumber, const AVFrame* AFrame, const TPictureStamp& AStamp,
                           int64_t ACenter) {
  if (FBudget == 0 || ANumber < 0 || FEntries.count(ANumber)) return;
  TEntry entry;
  entry.Frame.reset(av::av_frame_clone(AFrame));
  if (!entry.Frame) return;  // out of memory: the picture is simply not kept
  entry.Stamp = AStamp;
  entry.Bytes = FrameBytes(AFrame);
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
