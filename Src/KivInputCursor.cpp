#include "KivInputCursor.h"

#include <vector>

namespace kiv {

namespace {

// Whether a packet read after a seek is the indexed one. The byte position tells where the
// container gives one; times are the fall-back (a demuxer may guess decoding times
// differently right after a seek, so they come second).
bool SamePacket(const AVPacket& APacket, const TFrameIndexEntry& AEntry) {
  if (APacket.pos >= 0 && AEntry.Position >= 0 && APacket.pos == AEntry.Position) return true;
  if (APacket.dts != AV_NOPTS_VALUE && APacket.dts == AEntry.DTS)
    return AEntry.PTSDerived || APacket.pts == AEntry.PTS;
  return !AEntry.PTSDerived && APacket.pts != AV_NOPTS_VALUE && APacket.pts == AEntry.PTS;
}

// Whether a packet read after a seek comes later in the file than the indexed one.
bool PacketAfter(const AVPacket& APacket, const TFrameIndexEntry& AEntry) {
  if (APacket.pos >= 0 && AEntry.Position >= 0) return APacket.pos > AEntry.Position;
  if (APacket.dts != AV_NOPTS_VALUE && AEntry.DTS != AV_NOPTS_VALUE)
    return APacket.dts > AEntry.DTS;
  return false;
}

}  // namespace

TKivInputCursor::TKivInputCursor(std::function<void()> AMark, std::function<void()> AEnd)
    : FMark(std::move(AMark)), FEnd(std::move(AEnd)) {}

int TKivInputCursor::Read(AVFormatContext* AInput, AVPacket* APacket) {
  if (FHasHeld) {
    FHasHeld = false;
    av::av_packet_move_ref(APacket, FHeld.get());
    return 0;
  }
  FMark();
  int ret = av::av_read_frame(AInput, APacket);
  FEnd();
  return ret;
}

void TKivInputCursor::Drop() {
  if (FHasHeld) av::av_packet_unref(FHeld.get());
  FHasHeld = false;
}

bool TKivInputCursor::LandOn(AVFormatContext* AInput, int32_t AStreamIndex,
                             const TFrameIndexEntry& AKey) {
  if (!FHeld) FHeld.reset(av::av_packet_alloc());
  TPacketPtr packet(av::av_packet_alloc());
  if (!FHeld || !packet) return false;
  while (true) {
    int ret = Read(AInput, packet.get());
    if (ret == AVERROR(EAGAIN)) continue;
    if (ret < 0) return false;
    if (packet->stream_index == AStreamIndex) {
      if (SamePacket(*packet, AKey)) {
        av::av_packet_move_ref(FHeld.get(), packet.get());
        FHasHeld = true;
        return true;
      }
      if (PacketAfter(*packet, AKey)) return false;
    }
    av::av_packet_unref(packet.get());
  }
}

bool TKivInputCursor::PositionAt(AVFormatContext* AInput, int32_t AStreamIndex,
                                 const TFrameIndexEntry& AKey) {
  Drop();
  const int formatFlags = AInput->iformat->flags;
  const bool byteSeekable = AKey.Position >= 0 && !(formatFlags & AVFMT_NO_BYTE_SEEK);
  const int64_t time = AKey.DTS != AV_NOPTS_VALUE ? AKey.DTS : AKey.PTS;
  // Demuxers of streams without an index (transport and program streams) search by decoding
  // time and land on any packet, so the key frame's byte position comes first there; others
  // know their key frames by time.
  enum class TWay { Bytes, Time, Start };
  std::vector<TWay> ways;
  if (byteSeekable && (formatFlags & AVFMT_TS_DISCONT)) ways.push_back(TWay::Bytes);
  if (time != AV_NOPTS_VALUE) ways.push_back(TWay::Time);
  if (byteSeekable && !(formatFlags & AVFMT_TS_DISCONT)) ways.push_back(TWay::Bytes);
  ways.push_back(TWay::Start);  // the last resort: read on from the start of the input
  for (TWay way : ways) {
    FMark();
    int ret = -1;
    switch (way) {
      case TWay::Bytes:
        ret = av::av_seek_frame(AInput, AStreamIndex, AKey.Position, AVSEEK_FLAG_BYTE);
        break;
      case TWay::Time:
        ret = av::avformat_seek_file(AInput, AStreamIndex, INT64_MIN, time, time, 0);
        break;
      case TWay::Start:
        ret = av::av_seek_frame(AInput, -1,
                                AInput->start_time != AV_NOPTS_VALUE ? AInput->start_time : 0,
                                AVSEEK_FLAG_BACKWARD);
        if (ret < 0 && !(formatFlags & AVFMT_NO_BYTE_SEEK))
          ret = av::av_seek_frame(AInput, -1, 0, AVSEEK_FLAG_BYTE);
        break;
    }
    FEnd();
    if (ret >= 0 && LandOn(AInput, AStreamIndex, AKey)) return true;
  }
  return false;
}

}  // namespace kiv
