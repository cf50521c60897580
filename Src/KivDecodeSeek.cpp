#include <cstring>

#include "KivDecode.h"
#include "KivDecodeInternal.h"
#include "KivLog.h"
#include "KivUtils.h"

namespace kiv {

namespace {

constexpr AVRational MicrosecondBase{1, AV_TIME_BASE};

// Passes the backward key-frame search may make once its target has gone below the start of
// the stream, before it gives up: every later pass can only land on the same first key frame.
constexpr int MaxPassesBeforeStart = 64;
// Passes it may make in all: each steps back one frame, so this covers groups of pictures of
// up to this many frames even where seeking ignores key frames, while a damaged time stamp
// (hours away from the real pictures) cannot keep it seeking for hours.
constexpr int64_t MaxPasses = 1024;

}  // namespace

int64_t TKivDecoder::Position() {
  if (!FFileHandle) {
    ReportError(AV_LOG_WARNING, "file not loaded.");
    return -1;
  }
  if (!FFileHandle->pb) {
    ReportError(AV_LOG_WARNING, "cannot get position");
    return -1;
  }
  return av::avio_seek(FFileHandle->pb, 0, SEEK_CUR);
}

bool TKivDecoder::CanSeek() {
  if (!CheckOwnHandle()) return false;
  if (IsImage2(FFileHandle)) {
    ReportError(AV_LOG_INFO, "\"image2\" format cannot to be seeked.");
    return false;
  }
  return true;
}

bool TKivDecoder::Seek(int64_t APTS, TSeekFlags ASeekFlags) {
  if (!CanSeek()) return false;
  BeginOperation();
  const std::string where = Where("Seek()");
  AVIOContext* pb = FFileHandle->pb;
  if (pb)
    CurrentLogger().Log(this, llDebug,
                        Format("%s: current position %lld bytes", where.c_str(),
                               (long long)av::avio_seek(pb, 0, SEEK_CUR)));

  const bool byBytes = ASeekFlags.Contains(sfByte);
  int64_t target = APTS;
  if (!byBytes && APTS == 0 && FFrameRate.den != 0 && FSeekIndex >= 0 &&
      FSeekIndex < int32_t(FFileHandle->nb_streams) &&
      FFileHandle->streams[FSeekIndex]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
    target = -(FrameRateToDuration(FFrameRate) / 2);  // half a frame before the start
    // The start is reached backwards: demuxers that search by decoding time and not by key
    // frame (transport streams) would land after the first key frame going forward, whose
    // decoding time lies before the stream's first presentation time.
    ASeekFlags = ASeekFlags + TSeekFlags{sfBackward};
  }
  if (!byBytes) {
    int64_t start;
    if (FSeekIndex >= 0) {
      const AVStream* st = FFileHandle->streams[FSeekIndex];
      target = av::av_rescale_q(target, MicrosecondBase, st->time_base);
      start = st->start_time;
    } else {
      start = FFileHandle->start_time;
    }
    if (start != AV_NOPTS_VALUE) target += start;
  }

  // A time seek on a video stream goes to the key frame the index names, and checks where it
  // landed: demuxers that search by decoding time land a group of pictures late or early.
  const bool indexed = !byBytes && !ASeekFlags.Contains(sfAny) && !ASeekFlags.Contains(sfFrame) &&
                       IndexNavigable(FSeekIndex);
  int ret = 0;
  if (indexed) {
    ret = IndexSeek(target, ASeekFlags, where) ? 0 : -1;
  } else {
    ResetForSeek();
    ret = SeekInput(target, ASeekFlags);
  }

  bool result = ret >= 0;
  if (!result) {
    if (byBytes)
      ReportErrorFmt(AV_LOG_ERROR, "%s: could not seek to position %lld bytes", where.c_str(),
                     (long long)APTS);
    else
      ReportErrorFmt(AV_LOG_ERROR, "%s: could not seek to position %0.3f seconds", where.c_str(),
                     APTS / 1000000.0);
  }
  if (pb)
    CurrentLogger().Log(this, llDebug,
                        Format("%s: seek to position %lld bytes", where.c_str(),
                               (long long)av::avio_seek(pb, 0, SEEK_CUR)));
  return result;
}

int TKivDecoder::SeekInput(int64_t ATarget, TSeekFlags ASeekFlags) {
  const int flags = ToAVSeekFlags(ASeekFlags);
  int ret;
  if (FFileHandle->iformat->read_seek2) {
    MarkRead();
    ret = av::avformat_seek_file(FFileHandle, FSeekIndex, INT64_MIN, ATarget, INT64_MAX, flags);
    if (ret < 0) {
      MarkRead();
      ret = av::avformat_seek_file(FFileHandle, FSeekIndex, INT64_MIN, ATarget, INT64_MAX,
                                   flags ^ AVSEEK_FLAG_BACKWARD);
    }
  } else {
    MarkRead();
    ret = av::av_seek_frame(FFileHandle, FSeekIndex, ATarget, flags);
    if (ret < 0) {
      MarkRead();
      ret = av::av_seek_frame(FFileHandle, FSeekIndex, ATarget, flags ^ AVSEEK_FLAG_BACKWARD);
    }
  }
  EndRead();
  return ret;
}

bool TKivDecoder::UsesIndexFor(int32_t AStreamIndex) {
  // A held picture whose number is unknown (a seek the index did not make) leaves the stepping
  // to the search by time.
  return IndexNavigable(AStreamIndex) && (!FPicture.Ready || FPictureNumber >= 0);
}

bool TKivDecoder::DecodeNextKeyFrame(int32_t AStreamIndex) {
  int32_t idx = SelectVideoStream(AStreamIndex);
  if (idx < 0) return false;
  if (UsesIndexFor(idx)) return IndexNextKeyFrame(idx);
  int64_t d = FrameRateToDuration(FFrameRate);
  int64_t target = FPicture.PTS != AV_NOPTS_VALUE && FPicture.PTS > 0 ? FPicture.PTS + d : d;
  if (!Seek(target)) return false;
  return Decode(idx);
}

bool TKivDecoder::DecodePreviousKeyFrame(int32_t AStreamIndex) {
  int32_t idx = SelectVideoStream(AStreamIndex);
  if (idx < 0) return false;
  if (UsesIndexFor(idx)) return IndexPreviousKeyFrame(idx);
  const int64_t d = FrameRateToDuration(FFrameRate);
  int64_t cur = 0;
  bool fromPicture = true;
  if (FPicture.PTS != AV_NOPTS_VALUE)
    cur = FPicture.PTS;
  else if (FLastPTS != AV_NOPTS_VALUE)
    cur = FLastPTS;
  else if ((fromPicture = false), FFileHandle->duration != AV_NOPTS_VALUE)
    cur = FFileHandle->duration;

  AVIOContext* pb = FFileHandle->pb;
  auto bytePosition = [&] { return av::avio_seek(pb, 0, SEEK_CUR); };
  // The read position stands for where the command starts only when a picture was read
  // there; with nothing decoded yet it is where probing stopped, near the file's start.
  const int64_t startpos = pb && fromPicture ? bytePosition() : -1;
  int64_t before = -1, after = -1, ref = -2;
  int passesBeforeStart = 0;

  for (int64_t n = 1;; ++n) {
    if (pb) before = bytePosition();
    Seek(cur - n * d, TSeekFlags{sfBackward});
    const bool far = cur < n * d;
    if ((far && ++passesBeforeStart > MaxPassesBeforeStart) || n > MaxPasses) {
      FLastErrMsg = Format(
          "Could not seek to the previous key-frame. No earlier key frame found in %d steps.",
          int(n));
      return false;
    }
    if (pb) {
      after = bytePosition();
      // The seek did not land before where the command started.
      if (after >= startpos && startpos > 0 && after != before && !far) continue;
      if (ref == -1)
        ref = after;
      else if (ref > 0 && after >= ref && !far)
        continue;  // no earlier than the reference position
    }
    if (ref == -2) ref = -1;

    if (Decode(idx)) {
      const int64_t p = FPicture.PTS;
      if (p < cur) return true;
      if (p <= 0) return true;
      if (p == cur && far) return true;
      if (after < ref) ref = -1;
      continue;
    }
    // The end of the stream after a seek that is not yet below the start only means the seek
    // landed after the last key frame (demuxers that search by decoding time land on any
    // packet): the next pass seeks further back.
    if (far) {
      FLastErrMsg = "Could not seek to the previous key-frame. " + FLastErrMsg;
      return false;
    }
  }
}

bool TKivDecoder::DecodePreviousFrame(int32_t AStreamIndex) {
  int32_t idx = SelectVideoStream(AStreamIndex);
  if (idx < 0) return false;
  if (UsesIndexFor(idx)) return IndexPreviousFrame(idx);
  const int64_t d = FrameRateToDuration(FFrameRate);
  int64_t cur = 0;
  if (FPicture.PTS != AV_NOPTS_VALUE)
    cur = FPicture.PTS;
  else if (FLastPTS != AV_NOPTS_VALUE)
    cur = FLastPTS;
  const int64_t limit = cur - 2 * d;
  int64_t best = AV_NOPTS_VALUE;

  if (!DecodePreviousKeyFrame(idx)) return false;
  while (true) {
    if (FPicture.PTS > limit) return true;
    if (!Decode(idx)) return false;
    if (FPicture.PTS < cur) best = FPicture.PTS;
    if (FPicture.PTS != cur) continue;
    // Decoding came back to the starting picture without passing the limit.
    if (!DecodePreviousKeyFrame(idx)) continue;
    if (best != AV_NOPTS_VALUE)
      while (Decode(idx) && FPicture.PTS < best) {
      }
    return true;
  }
}

}  // namespace kiv
