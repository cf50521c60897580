#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "AVFilterStubs.h"
#include "KivAVCompat.h"
#include "KivDecode.h"
#include "KivDecodeInternal.h"
#include "KivLog.h"
#include "KivUtils.h"

namespace kiv {

namespace {

constexpr AVRational MicrosecondBase{1, AV_TIME_BASE};

}  // namespace

TKivDecoder::TKivDecoder(TComponent* AOwner)
    : TCustomDecoder(AOwner), FFormatConv(std::make_unique<TFormatConverter>()) {}

TKivDecoder::~TKivDecoder() {
  TKivDecoder::CloseFile();
  if (FPicture.Buffer && av::av_free) av::av_free(FPicture.Buffer);
  FPicture.Buffer = nullptr;
}

std::string TKivDecoder::Where(const char* AOperation) const {
  return ClassName() + "." + AOperation;
}

void TKivDecoder::SwsFlagsFetched(uint32_t ASwsFlags) { FFormatConv->Setsws_flags(int(ASwsFlags)); }

void TKivDecoder::CloseFile() {
  FPrefetcher.reset();  // it reads the index: it goes first
  FFrameIndex.reset();  // stops its reading first: it may not outlive the file
  const bool hadFile = FFileHandle != nullptr;
  FPictureCache.Clear();
  FShownFromCache.reset();
  FCursor.Drop();
  FPictureNumber = FLastNumber = FNextNumber = FSkipBelow = FDecodedNumber = -1;
  FDiscardBefore = AV_NOPTS_VALUE;
  FSeekIndex = -1;
  FDesireVideoIndex = -1;
  FFrameRate = {0, 0};
  FEOF = FEOFpkt = false;
  ResetFrameInfo();
  FLastPTS = AV_NOPTS_VALUE;
  FDesireAudioIndex = -1;
  ResetWaveInfo();
  FAudioParam.channels = FAudioParam.freq = -1;
  FAudioParam.fmt = AV_SAMPLE_FMT_NONE;
  FAudioParam.channel_layout = AVChannelLayout{};
  FAudioParam.st_idx = -1;
  FAudioParam.swr_ctx.reset();
  FVideo.Close();
  FAudio.Close();
  TCustomDecoder::CloseFile();
#ifdef __GLIBC__
  // The kept pictures (up to the whole budget), the decoders' pools and the input's buffers
  // were just freed: give the memory back to the system rather than keep it in the
  // allocator's free lists.
  if (hadFile) malloc_trim(0);
#endif
}

bool TKivDecoder::CheckOwnHandle() {
  if (!FFileHandle) {
    ReportError(AV_LOG_WARNING, "file not loaded.");
    return false;
  }
  if (!FOwnHandle) {
    ReportError(AV_LOG_WARNING, "file cannot be seeked, handle is readonly.");
    throw EReadOnlyHandle("file cannot be seeked, handle is readonly.");
  }
  return true;
}

int32_t TKivDecoder::ResolveStream(int32_t AStreamIndex, int32_t ADesired, int32_t AFirst,
                                   AVMediaType AType, const char* ATypeName) {
  if (!CheckOwnHandle()) return -1;
  if (AStreamIndex < 0) {
    int32_t index = ADesired >= 0 ? ADesired : AFirst;
    if (index < 0) ReportErrorFmt(AV_LOG_ERROR, "no %s stream.", ATypeName);
    return index;
  }
  if (AStreamIndex >= int32_t(FFileHandle->nb_streams)) {
    ReportErrorFmt(AV_LOG_ERROR, "stream index #%d is invalid.", AStreamIndex);
    return -1;
  }
  if (FFileHandle->streams[AStreamIndex]->codecpar->codec_type != AType) {
    ReportErrorFmt(AV_LOG_ERROR, "stream #%d is not %s stream.", AStreamIndex, ATypeName);
    return -1;
  }
  return AStreamIndex;
}

int32_t TKivDecoder::SelectVideoStream(int32_t AStreamIndex) {
  int32_t index = ResolveStream(AStreamIndex, FDesireVideoIndex, FFirstVideoStreamIndex,
                                AVMEDIA_TYPE_VIDEO, "video");
  if (index < 0) return -1;

  if (index != FDesireVideoIndex) {
    ResetFrameInfo();
    // The count of pictures handed out and the pictures kept belong to the stream decoded
    // before.
    if (FDesireVideoIndex >= 0) FNextNumber = -1;
    FPictureCache.Clear();
    FPrefetcher.reset();
    const AVStream* st = FFileHandle->streams[index];
    // The codec's own time base is known only once its decoder is open.
    const AVCodecContext* c = FVideo.Decodes(index) ? FVideo.Context() : nullptr;
    if (st->avg_frame_rate.num != 0 && st->avg_frame_rate.den != 0) {
      FFrameRate = st->avg_frame_rate;
    } else if (c && c->time_base.num != 0 && c->time_base.num == st->r_frame_rate.den &&
               c->time_base.den == st->r_frame_rate.num * c->ticks_per_frame) {
      FFrameRate = {c->time_base.den, c->time_base.num};
    } else {
      if (c && c->time_base.num != 0)
        CurrentLogger().Log(
            this, llInfo,
            Format("Seems stream %d codec frame rate differs from container frame rate: %2.2f "
                   "(%d/%d) -> %2.2f (%d/%d)",
                   index, double(c->time_base.den) / c->time_base.num, c->time_base.den,
                   c->time_base.num, av_q2d(st->r_frame_rate), st->r_frame_rate.num,
                   st->r_frame_rate.den));
      FFrameRate = st->r_frame_rate;
    }
  }
  FDesireVideoIndex = FSeekIndex = index;
  return index;
}

AVCodecContext* TKivDecoder::OpenVideoCodec(int32_t AStreamIndex) {
  AVStream* st = FFileHandle->streams[AStreamIndex];
  KivAssert(st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO, "KivDecode");
  if (st->codecpar->width == 0 || st->codecpar->height == 0) {
    ReportError(AV_LOG_ERROR, "frame size of codec is invalid.");
    return nullptr;
  }
  // Pictures come out in step with the packets that complete them.
  return OpenStreamCodec(FVideo, AStreamIndex, TDecoderThreads::One);
}

AVCodecContext* TKivDecoder::OpenStreamCodec(TKivStreamDecoder& ADecoder, int32_t AStreamIndex,
                                             TDecoderThreads AThreads) {
  if (ADecoder.Decodes(AStreamIndex)) return ADecoder.Context();
  AVStream* st = FFileHandle->streams[AStreamIndex];
  const std::string failure = ADecoder.Open(
      FFileHandle, AStreamIndex,
      [&](const AVCodec* ACodec) {
        return stream_codec_opts(FOptions->codec_opts(), st->codecpar->codec_id, FFileHandle, st,
                                 ACodec);
      },
      AThreads);
  if (!failure.empty()) ReportError(AV_LOG_ERROR, failure);
  return ADecoder.Context();
}

bool TKivDecoder::StreamEnded(const std::string& AWhere) {
  if (!(FEOF && FEOFpkt)) return false;
  ReportErrorFmt(AV_LOG_INFO, "%s: stream eof reached.", AWhere.c_str());
  return true;
}

int TKivDecoder::ReadPacket(AVPacket*& APacket) {
  if (!FPacket) FPacket.reset(av::av_packet_alloc());
  APacket = FPacket.get();
  return FCursor.Read(FFileHandle, APacket);
}

bool TKivDecoder::InputAtEnd() {
  // The check reads again when the input looked ended: it is a blocking call like the read.
  MarkRead();
  const bool ended = av::avio_feof(FFileHandle->pb) != 0;
  EndRead();
  return ended;
}

bool TKivDecoder::HandleFailedRead(int ARet, const std::string& AWhere) {
  if (ARet == AVERROR(EAGAIN)) {
    ReportErrorFmt(AV_LOG_INFO, "%s: no data, please try again.", AWhere.c_str());
    return false;
  }
  if (FEOFpkt) {
    // The decoders have handed out everything they held: the stream has ended, unless the
    // input failed before its end.
    if (ARet != AVERROR_EOF && ARet != AVERROR(EPIPE) && !InputAtEnd()) {
      ReportErrorFmt(AV_LOG_INFO, "%s: unknown error #%d.", AWhere.c_str(), ARet);
      return false;
    }
    ReportErrorFmt(AV_LOG_INFO, "%s: stream eof reached.", AWhere.c_str());
    FEOF = true;
    return false;
  }
  FEOFpkt = true;
  return true;
}

bool TKivDecoder::ResumeAfterDrain(AVCodecContext** AVideo, AVCodecContext** AAudio) {
  if (!FEOFpkt) return true;
  FEOFpkt = false;
  if (AVideo && *AVideo) {
    ResetFilters();  // the graph has seen the end of its input
    const int32_t index = FVideo.StreamIndex();
    FVideo.Forget();
    if (!(*AVideo = OpenVideoCodec(index))) return false;
  }
  if (AAudio && *AAudio) {
    const int32_t index = FAudio.StreamIndex();
    FAudio.Forget();
    if (!(*AAudio = OpenAudioCodec(index))) return false;
  }
  return true;
}

bool TKivDecoder::Decode(int32_t AStreamIndex) {
  int32_t idx = SelectVideoStream(AStreamIndex);
  if (idx < 0) return false;
  BeginOperation();
  if (FPicture.Ready && IsImage2(FFileHandle)) return true;
  const std::string where = Where("Decode() for video");
  // A held picture from the kept ones: the decoder itself stands elsewhere (unless this is
  // navigation decoding on to a picture).
  if (FSkipBelow < 0 && FPicture.Ready && FPictureNumber >= 0 &&
      FNextNumber != FPictureNumber + 1 && IndexNavigable(idx))
    return DecodeAfterKeptPicture(idx, where);
  if (StreamEnded(where)) return false;
  AVCodecContext* ctx = OpenVideoCodec(idx);
  if (!ctx) return false;
  AVPacket* pkt = nullptr;

  while (true) {
    // A picture the decoder already holds goes out before anything more is read.
    if (FVideo.Pending()) {
      int r = ReceiveVideoPicture();
      if (r > 0) return true;
      FVideo.ClearPending();  // empty, drained, or a decoding error the library has logged
    }

    int ret = ReadPacket(pkt);
    if (ret < 0) {
      if (!HandleFailedRead(ret, where)) return false;
      // The first failed read: ask the decoder for the pictures it still holds.
      SendVideoPacket(ctx, nullptr);
      continue;
    }
    if (pkt->stream_index != idx) {
      av::av_packet_unref(pkt);
      continue;
    }
    if (!ResumeAfterDrain(&ctx, nullptr)) {
      av::av_packet_unref(pkt);
      return false;
    }
    // A packet that fails to decode is skipped; the library logs why.
    SendVideoPacket(ctx, pkt);
    av::av_packet_unref(pkt);
  }
}

int TKivDecoder::SendVideoPacket(AVCodecContext* ACodec, AVPacket* APacket) {
  TagPacketForReorder(ACodec, APacket);
  return FVideo.Send(APacket);
}

int TKivDecoder::ReceiveVideoPicture() {
  if (!FDecodedFrame) FDecodedFrame.reset(av::av_frame_alloc());
  if (!FFilteredFrame) FFilteredFrame.reset(av::av_frame_alloc());
  while (true) {
    av::av_frame_unref(FDecodedFrame.get());
    int ret = FVideo.Receive(FDecodedFrame.get());
    if (ret == AVERROR_EOF) {
      // The decoder is drained: the pictures the filter graph still holds follow.
      if (AVFrame* held = DrainFilterGraph()) {
        StorePicture(held, FVideo.LastSent(), false);
        return 1;
      }
    }
    if (ret < 0) return ret;
    AVFrame* decoded = FDecodedFrame.get();
    const bool fromLastPacket = FVideo.FirstFromPacket();
    const AVPacket& sent = FVideo.LastSent();
    if (CurrentLogger().LogLevel() >= llDebug)
      CurrentLogger().Log(
          this, llDebug,
          Format("pkt.st_idx=%d, dts=%lld, pts=%lld, flags=%d, pict_type=%d(%s)", sent.stream_index,
                 (long long)sent.dts, (long long)sent.pts, decoded->flags, int(decoded->pict_type),
                 PictureTypeName(decoded->pict_type).c_str()));
    decoded->pts = decoded->best_effort_timestamp;
    if (FDiscardBefore != AV_NOPTS_VALUE) {
      if (decoded->pts != AV_NOPTS_VALUE && decoded->pts < FDiscardBefore) continue;
      FDiscardBefore = AV_NOPTS_VALUE;
    }
    FDecodedNumber = NumberOfDecoded(decoded->pts);
    FNextNumber = FDecodedNumber >= 0 ? FDecodedNumber + 1 : -1;
    // Navigation keeps every numbered picture it decodes on the way to the one asked for, so
    // that going back to it costs nothing. Plain forward decoding keeps none: holding its
    // pictures would make the decoder allocate afresh for every picture.
    if (FSkipBelow >= 0 && FDecodedNumber >= 0 && Fvfilters.empty() && FPictureCache.Budget() > 0) {
      const TPictureStamp stamp = StampOf(decoded, sent, fromLastPacket);
      if (stamp.PTS != AV_NOPTS_VALUE)
        FPictureCache.Put(FDecodedNumber, decoded, stamp, FSkipBelow);
    }
    if (FSkipBelow >= 0 && FDecodedNumber >= 0 && FDecodedNumber < FSkipBelow) continue;
    AVFrame* frame = FilterPicture(decoded);
    if (!frame) continue;  // the filter stage holds the picture back
    StorePicture(frame, sent, fromLastPacket);
    return 1;
  }
}

TPictureStamp TKivDecoder::StampOf(const AVFrame* AFrame, const AVPacket& APacket,
                                   bool AFromLastPacket) {
  return StampPicture(AFrame, APacket, AFromLastPacket, FFileHandle->streams[FDesireVideoIndex]);
}

void TKivDecoder::StorePicture(AVFrame* AFrame, const AVPacket& APacket, bool AFromLastPacket) {
  TPictureStamp stamp = StampOf(AFrame, APacket, AFromLastPacket);
  if (stamp.PTS == AV_NOPTS_VALUE) {
    // A picture drained at the end without a time follows the last two at their distance.
    if (FEOFpkt && FLastPTS != AV_NOPTS_VALUE && FPicture.PTS != AV_NOPTS_VALUE)
      stamp.PTS = 2 * FPicture.PTS - FLastPTS;
  } else if (CurrentLogger().LogLevel() >= llDebug) {
    CurrentLogger().Log(this, llDebug, Format("decode PTS: %0.3f", stamp.PTS / 1000000.0));
  }
  // Numbers count the decoder's pictures; a filter graph may make or drop pictures.
  HoldPicture(AFrame, stamp, Fvfilters.empty() ? FDecodedNumber : -1);
}

void TKivDecoder::HoldPicture(AVFrame* AFrame, const TPictureStamp& AStamp, int64_t ANumber) {
  int size =
      av::av_image_get_buffer_size(AVPixelFormat(AFrame->format), AFrame->width, AFrame->height, 1);
  if (size > FPicture.Size) {
    av::av_free(FPicture.Buffer);
    // swscale reads the held picture a vector at a time, past its last byte: the buffer
    // carries the libraries' input padding, zeroed.
    FPicture.Buffer =
        static_cast<uint8_t*>(av::av_malloc(size_t(size) + AV_INPUT_BUFFER_PADDING_SIZE));
    FPicture.Size = FPicture.Buffer ? size : 0;
    if (FPicture.Buffer) std::memset(FPicture.Buffer + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  }
  FPicture.PixFmt = AVPixelFormat(AFrame->format);
  FPicture.Width = AFrame->width;
  FPicture.Height = AFrame->height;
  FPicture.IsKeyFrame = IsKeyFrame(AFrame);
  FPicture.IsInterlaced = IsInterlacedFrame(AFrame);
  FPicture.IsTopFieldFirst = IsTopFieldFirst(AFrame);
  FPicture.Frame = AFrame;
  FPicture.PictureType = AFrame->pict_type;
  FPictureNumber = ANumber;

  if (FPicture.PTS != AV_NOPTS_VALUE) FLastPTS = FPicture.PTS;
  FPicture.PTS = AStamp.PTS;
  FPicture.OriginalDTS = AStamp.OriginalDTS;
  FPicture.OriginalPTS = AStamp.OriginalPTS;
  FPicture.StreamIndex = AStamp.StreamIndex;
  FPicture.Position = AStamp.Position;

  if (FPicture.Buffer) {
    av::av_image_fill_arrays(FPicture.Picture.data, FPicture.Picture.linesize, FPicture.Buffer,
                             FPicture.PixFmt, FPicture.Width, FPicture.Height, 1);
    av::av_image_copy(FPicture.Picture.data, FPicture.Picture.linesize,
                      const_cast<const uint8_t**>(AFrame->data), AFrame->linesize, FPicture.PixFmt,
                      FPicture.Width, FPicture.Height);
  }
  FPicture.Ready = FPicture.Buffer != nullptr;
}

void TKivDecoder::SetVideoFilters(const std::string& AValue) {
  // Kept pictures are unfiltered; filtered ones are never kept, so this is only tidiness.
  if (AValue != Fvfilters) FPictureCache.Clear();
  Fvfilters = AValue;
}

void TKivDecoder::ResetFrameInfo() {
  if (FPicture.PTS != AV_NOPTS_VALUE) FLastPTS = FPicture.PTS;
  if (FPicture.Ready && FPictureNumber >= 0) FLastNumber = FPictureNumber;
  FPictureNumber = -1;
  FPicture.PixFmt = AV_PIX_FMT_NONE;
  FPicture.Width = FPicture.Height = -1;
  FPicture.IsKeyFrame = FPicture.IsInterlaced = FPicture.IsTopFieldFirst = false;
  FPicture.PictureType = AV_PICTURE_TYPE_NONE;
  FPicture.PTS = FPicture.OriginalDTS = FPicture.OriginalPTS = AV_NOPTS_VALUE;
  FPicture.StreamIndex = -1;
  FPicture.Position = -1;
  FPicture.Ready = false;
  FPicture.Frame = nullptr;
  ResetFilters();
}

bool TKivDecoder::CopyToBitmap(TBitmap& ABitmap) {
  if (!FPicture.Ready) {
    ReportError(AV_LOG_ERROR, "picture not ready, please decode first");
    return false;
  }
  if (FFormatConv->PictureToRGB(FPicture.Picture.data, FPicture.Picture.linesize, FPicture.PixFmt,
                                FPicture.Width, FPicture.Height, true)) {
    ABitmap.Assign(FFormatConv->Bitmap());
    return true;
  }
  ABitmap.SetSize(FPicture.Width, FPicture.Height);
  ABitmap.SetBrushColor(clBlack);
  ABitmap.SetBrushStyle(bsSolid);
  ABitmap.FillRect(ABitmap.ClipRect());
  ReportError(AV_LOG_ERROR, FFormatConv->LastErrMsg());
  return false;
}

const TDIBDescriptor* TKivDecoder::GetBitmapPtr() {
  if (!FPicture.Ready) {
    ReportError(AV_LOG_ERROR, "picture not ready, please decode first");
    return nullptr;
  }
  if (FFormatConv->PictureToRGB(FPicture.Picture.data, FPicture.Picture.linesize, FPicture.PixFmt,
                                FPicture.Width, FPicture.Height, false))
    return FFormatConv->DIB();
  ReportError(AV_LOG_ERROR, FFormatConv->LastErrMsg());
  return nullptr;
}

}  // namespace kiv
