// Readers and writers for the picture fields that later FFmpeg releases replaced: the key,
// interlaced and field-order marks moved into AVFrame.flags, and the reordered time tag
// moved to the packet's and the picture's opaque pointer. The decoder touches these fields
// only through this header, so a newer FFmpeg changes nothing but this file.
#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace kiv {

inline bool IsKeyFrame(const AVFrame* AFrame) {
#ifdef AV_FRAME_FLAG_KEY
  return (AFrame->flags & AV_FRAME_FLAG_KEY) != 0;
#else
  return AFrame->key_frame != 0;
#endif
}

inline bool IsInterlacedFrame(const AVFrame* AFrame) {
#ifdef AV_FRAME_FLAG_INTERLACED
  return (AFrame->flags & AV_FRAME_FLAG_INTERLACED) != 0;
#else
  return AFrame->interlaced_frame != 0;
#endif
}

inline bool IsTopFieldFirst(const AVFrame* AFrame) {
#ifdef AV_FRAME_FLAG_TOP_FIELD_FIRST
  return (AFrame->flags & AV_FRAME_FLAG_TOP_FIELD_FIRST) != 0;
#else
  return AFrame->top_field_first != 0;
#endif
}

// Tags the next packet sent to ACodec with its pts (AV_NOPTS_VALUE without a packet); the
// decoder hands the tag back in the picture that starts in that packet, after reordering.
inline void TagPacketForReorder(AVCodecContext* ACodec, AVPacket* APacket) {
#ifdef AV_CODEC_FLAG_COPY_OPAQUE
  static_assert(sizeof(void*) >= sizeof(int64_t), "the tag is carried in a pointer");
  ACodec->flags |= AV_CODEC_FLAG_COPY_OPAQUE;
  if (APacket) APacket->opaque = reinterpret_cast<void*>(static_cast<intptr_t>(APacket->pts));
#else
  ACodec->reordered_opaque = APacket ? APacket->pts : AV_NOPTS_VALUE;
#endif
}

// The tag TagPacketForReorder gave the packet this picture started in.
inline int64_t ReorderedTag(const AVFrame* AFrame) {
#ifdef AV_CODEC_FLAG_COPY_OPAQUE
  return static_cast<int64_t>(reinterpret_cast<intptr_t>(AFrame->opaque));
#else
  return AFrame->reordered_opaque;
#endif
}

}  // namespace kiv
