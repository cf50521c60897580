#include <cstring>

#include "AVFilterStubs.h"
#include "KivDecode.h"
#include "KivLog.h"
#include "KivUtils.h"

namespace kiv {

namespace {

constexpr AVRational MicrosecondBase{1, AV_TIME_BASE};

bool IsImage2(const AVFormatContext* AContext) {
  return AContext->iformat && strcasecmp(AContext->iformat->name, "image2") == 0;
}

}  // namespace

TKivDecoder::TKivDecoder(TComponent* AOwner)
    : TCustomDecoder(AOwner), FFormatConv(std::make_unique<TFormatConverter>()) {
  FLastSent.dts = FLastSent.pts = AV_NOPTS_VALUE;
}

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
  FSeekIndex = -1;
  FDesireVideoIndex = -1;
  FFrameRate = {0, 0};
  FEOF = FEOFpkt = false;
  FVideoPending = false;
  ResetFrameInfo();
  FLastPTS = AV_NOPTS_VALUE;
  FDesireAudioIndex = -1;
  ResetWaveInfo();
  FAudioParam.channels = FAudioParam.freq = -1;
  FAudioParam.fmt = AV_SAMPLE_FMT_NONE;
  FAudioParam.channel_layout = AVChannelLayout{};
  FAudioParam.st_idx = -1;
  FAudioParam.swr_ctx.reset();
  FVideoCodec.reset();
  FVideoCodecIndex = -1;
  FAudioCodec.reset();
  FAudioCodecIndex = -1;
  TCustomDecoder::CloseFile();
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
    const AVStream* st = FFileHandle->streams[index];
    // The codec's own time base is known only once its decoder is open.
    const AVCodecContext* c = FVideoCodecIndex == index ? FVideoCodec.get() : nullptr;
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
  if (FVideoCodec && FVideoCodecIndex == AStreamIndex) return FVideoCodec.get();
  FVideoCodec.reset();
  FVideoCodecIndex = -1;
  FVideoPending = false;

  FVideoCodec = OpenStreamCodec(AStreamIndex, true);
  if (FVideoCodec) FVideoCodecIndex = AStreamIndex;
  return FVideoCodec.get();
}

TCodecContextPtr TKivDecoder::OpenStreamCodec(int32_t AStreamIndex, bool AOneThread) {
  AVStream* st = FFileHandle->streams[AStreamIndex];
  const AVCodec* codec = av::avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec) {
    ReportErrorFmt(AV_LOG_ERROR, "Unsupported codec (id=%d) for input file stream #%d",
                   int(st->codecpar->codec_id), AStreamIndex);
    return nullptr;
  }
  TCodecContextPtr context(av::avcodec_alloc_context3(codec));
  if (!context || av::avcodec_parameters_to_context(context.get(), st->codecpar) < 0) {
    ReportErrorFmt(AV_LOG_ERROR, "Error while opening codec for input file stream #%d",
                   AStreamIndex);
    return nullptr;
  }
  context->pkt_timebase = st->time_base;
  // One thread: pictures come out in step with the packets that complete them.
  if (AOneThread) context->thread_count = 1;
  AVDictionary* opts =
      stream_codec_opts(FOptions->codec_opts(), st->codecpar->codec_id, FFileHandle, st, codec);
  int ret = av::avcodec_open2(context.get(), codec, &opts);
  av::av_dict_free(&opts);
  if (ret < 0) {
    ReportErrorFmt(AV_LOG_ERROR, "Error while opening codec for input file stream #%d",
                   AStreamIndex);
    return nullptr;
  }
  return context;
}

namespace {

// Decoders that hand still pictures to an outside library keep that library's parse state
// through a flush, so the next packet is read as the continuation of the last one, which such
// libraries do not survive. A still picture carries nothing over: they are opened afresh.
bool FlushKeepsParseState(const AVCodecContext* ACodec) {
  if (!ACodec->codec || !ACodec->codec->wrapper_name) return false;
  const AVCodecDescriptor* desc = av::avcodec_descriptor_get(ACodec->codec_id);
  return desc && (desc->props & AV_CODEC_PROP_INTRA_ONLY);
}

}  // namespace

void TKivDecoder::ForgetInput(TCodecContextPtr& ACodec, int32_t& AIndex) {
  if (!ACodec) return;
  if (!FlushKeepsParseState(ACodec.get())) {
    av::avcodec_flush_buffers(ACodec.get());
    return;
  }
  ACodec.reset();  // the next decoding call opens it again
  AIndex = -1;
}

bool TKivDecoder::StreamEnded(const std::string& AWhere) {
  if (!(FEOF && FEOFpkt)) return false;
  ReportErrorFmt(AV_LOG_INFO, "%s: stream eof reached.", AWhere.c_str());
  return true;
}

int TKivDecoder::ReadPacket(AVPacket*& APacket) {
  if (!FPacket) FPacket.reset(av::av_packet_alloc());
  APacket = FPacket.get();
  MarkRead();
  int ret = av::av_read_frame(FFileHandle, APacket);
  EndRead();
  return ret;
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
    const int32_t index = FVideoCodecIndex;
    ForgetInput(FVideoCodec, FVideoCodecIndex);
    if (!(*AVideo = OpenVideoCodec(index))) return false;
  }
  if (AAudio && *AAudio) {
    const int32_t index = FAudioCodecIndex;
    ForgetInput(FAudioCodec, FAudioCodecIndex);
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
  if (StreamEnded(where)) return false;
  AVCodecContext* ctx = OpenVideoCodec(idx);
  if (!ctx) return false;
  AVPacket* pkt = nullptr;

  while (true) {
    // A picture the decoder already holds goes out before anything more is read.
    if (FVideoPending) {
      int r = ReceiveVideoPicture(ctx);
      if (r > 0) return true;
      FVideoPending = false;  // empty, drained, or a decoding error the library has logged
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
  // The decoder hands this back in the picture that starts in this packet, after reordering.
  ACodec->reordered_opaque = APacket ? APacket->pts : AV_NOPTS_VALUE;
  if (APacket) {
    FLastSent.dts = APacket->dts;
    FLastSent.pts = APacket->pts;
    FLastSent.stream_index = APacket->stream_index;
    FLastSent.pos = APacket->pos;
  } else {
    FLastSent.dts = FLastSent.pts = AV_NOPTS_VALUE;
    FLastSent.pos = -1;
  }
  FPicturesFromPacket = 0;
  int ret = av::avcodec_send_packet(ACodec, APacket);
  if (ret >= 0 || ret == AVERROR_EOF) FVideoPending = true;
  return ret;
}

int TKivDecoder::ReceiveVideoPicture(AVCodecContext* ACodec) {
  if (!FDecodedFrame) FDecodedFrame.reset(av::av_frame_alloc());
  if (!FFilteredFrame) FFilteredFrame.reset(av::av_frame_alloc());
  while (true) {
    av::av_frame_unref(FDecodedFrame.get());
    int ret = av::avcodec_receive_frame(ACodec, FDecodedFrame.get());
    if (ret == AVERROR_EOF) {
      // The decoder is drained: the pictures the filter graph still holds follow.
      if (AVFrame* held = DrainFilterGraph()) {
        StorePicture(held, FLastSent, false);
        return 1;
      }
    }
    if (ret < 0) return ret;
    AVFrame* decoded = FDecodedFrame.get();
    bool fromLastPacket = FPicturesFromPacket++ == 0;
    if (CurrentLogger().LogLevel() >= llDebug)
      CurrentLogger().Log(this, llDebug,
                          Format("pkt.st_idx=%d, dts=%lld, pts=%lld, flags=%d, pict_type=%d(%s)",
                                 FLastSent.stream_index, (long long)FLastSent.dts,
                                 (long long)FLastSent.pts, decoded->flags, int(decoded->pict_type),
                                 PictureTypeName(decoded->pict_type).c_str()));
    decoded->pts = decoded->best_effort_timestamp;
    AVFrame* frame = FilterPicture(decoded);
    if (!frame) continue;  // the filter stage holds the picture back
    StorePicture(frame, FLastSent, fromLastPacket);
    return 1;
  }
}

void TKivDecoder::StorePicture(AVFrame* AFrame, const AVPacket& APacket, bool AFromLastPacket) {
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
  FPicture.IsKeyFrame = AFrame->key_frame != 0;
  FPicture.IsInterlaced = AFrame->interlaced_frame != 0;
  FPicture.IsTopFieldFirst = AFrame->top_field_first != 0;
  FPicture.Frame = AFrame;
  FPicture.PictureType = AFrame->pict_type;

  // The time in the stream's time base: the packet that completed the picture, or for a
  // picture the decoder gave back while draining, the packet it started in. A second picture
  // from one packet has no packet of its own and takes its frame's time.
  int64_t t;
  if (!AFromLastPacket)
    t = AFrame->best_effort_timestamp;
  else if (APacket.dts == AV_NOPTS_VALUE && AFrame->reordered_opaque != AV_NOPTS_VALUE)
    t = AFrame->reordered_opaque;
  else if (APacket.dts != AV_NOPTS_VALUE)
    t = APacket.dts;
  else
    t = APacket.pts;

  int64_t extrapolated = AV_NOPTS_VALUE;
  if (t == AV_NOPTS_VALUE && FEOFpkt && FLastPTS != AV_NOPTS_VALUE &&
      FPicture.PTS != AV_NOPTS_VALUE)
    extrapolated = 2 * FPicture.PTS - FLastPTS;
  if (FPicture.PTS != AV_NOPTS_VALUE) FLastPTS = FPicture.PTS;
  if (t == AV_NOPTS_VALUE) {
    FPicture.PTS = extrapolated;
  } else {
    const AVStream* s = FFileHandle->streams[FDesireVideoIndex];
    if (s->start_time != AV_NOPTS_VALUE) t -= s->start_time;
    FPicture.PTS = av::av_rescale_q(t, s->time_base, MicrosecondBase);
    if (CurrentLogger().LogLevel() >= llDebug)
      CurrentLogger().Log(this, llDebug, Format("decode PTS: %0.3f", FPicture.PTS / 1000000.0));
  }
  FPicture.OriginalDTS = APacket.dts;
  FPicture.OriginalPTS = APacket.pts;
  FPicture.StreamIndex = APacket.stream_index;
  FPicture.Position = APacket.pos;

  if (FPicture.Buffer) {
    av::av_image_fill_arrays(FPicture.Picture.data, FPicture.Picture.linesize, FPicture.Buffer,
                             FPicture.PixFmt, FPicture.Width, FPicture.Height, 1);
    av::av_image_copy(FPicture.Picture.data, FPicture.Picture.linesize,
                      const_cast<const uint8_t**>(AFrame->data), AFrame->linesize, FPicture.PixFmt,
                      FPicture.Width, FPicture.Height);
  }
  FPicture.Ready = FPicture.Buffer != nullptr;
}

void TKivDecoder::ResetFrameInfo() {
  if (FPicture.PTS != AV_NOPTS_VALUE) FLastPTS = FPicture.PTS;
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
