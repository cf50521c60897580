#include "KivStreamDecoder.h"

#include "KivUtils.h"

namespace kiv {

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

TKivStreamDecoder::TKivStreamDecoder() {
  FLastSent.dts = FLastSent.pts = AV_NOPTS_VALUE;
  FLastSent.pos = -1;
}

std::string TKivStreamDecoder::Open(AVFormatContext* AInput, int32_t AStreamIndex,
                                    const std::function<AVDictionary*(const AVCodec*)>& AOptionsFor,
                                    bool AInStep) {
  Close();
  AVStream* st = AInput->streams[AStreamIndex];
  const AVCodec* codec = av::avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec)
    return Format("Unsupported codec (id=%d) for input file stream #%d",
                  int(st->codecpar->codec_id), AStreamIndex);
  const std::string failed =
      Format("Error while opening codec for input file stream #%d", AStreamIndex);
  TCodecContextPtr context(av::avcodec_alloc_context3(codec));
  if (!context || av::avcodec_parameters_to_context(context.get(), st->codecpar) < 0) return failed;
  context->pkt_timebase = st->time_base;
  // One thread: pictures come out in step with the packets that complete them. (Slice
  // threads would keep that too, but their work is handed over through the library's own
  // atomics, which the thread checker cannot follow.)
  if (AInStep) context->thread_count = 1;
  AVDictionary* opts = AOptionsFor(codec);
  int ret = av::avcodec_open2(context.get(), codec, &opts);
  av::av_dict_free(&opts);
  if (ret < 0) return failed;
  FContext = std::move(context);
  FStreamIndex = AStreamIndex;
  return {};
}

void TKivStreamDecoder::Close() {
  FContext.reset();
  FStreamIndex = -1;
  FPending = false;
  FReceivedSincePacket = 0;
}

int TKivStreamDecoder::Send(const AVPacket* APacket) {
  if (APacket) {
    FLastSent.dts = APacket->dts;
    FLastSent.pts = APacket->pts;
    FLastSent.stream_index = APacket->stream_index;
    FLastSent.pos = APacket->pos;
  } else {
    FLastSent.dts = FLastSent.pts = AV_NOPTS_VALUE;
    FLastSent.pos = -1;
  }
  FReceivedSincePacket = 0;
  int ret = av::avcodec_send_packet(FContext.get(), APacket);
  if (ret >= 0 || ret == AVERROR_EOF) FPending = true;
  return ret;
}

int TKivStreamDecoder::Receive(AVFrame* AFrame) {
  int ret = av::avcodec_receive_frame(FContext.get(), AFrame);
  if (ret >= 0) ++FReceivedSincePacket;
  return ret;
}

void TKivStreamDecoder::Forget() {
  if (!FContext) return;
  FPending = false;
  if (!FlushKeepsParseState(FContext.get())) {
    av::avcodec_flush_buffers(FContext.get());
    return;
  }
  Close();  // the next decoding call opens it again
}

}  // namespace kiv
