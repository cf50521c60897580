#include "KivStreamDecoder.h"

#include <algorithm>
#include <thread>

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
                                    TDecoderThreads AThreads) {
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
  // One thread keeps pictures in step with the packets that complete them. (Slice threads
  // would keep that too, but only speed up pictures cut into several slices, and their work
  // is handed over through the library's own atomics, which the thread checker cannot follow.)
  if (AThreads == TDecoderThreads::One) context->thread_count = 1;
  if (AThreads == TDecoderThreads::Frames && !FrameThreadsInUse) context->thread_count = 1;
  if (AThreads == TDecoderThreads::Frames && FrameThreadsInUse) {
    context->thread_count = int(std::max(1u, std::thread::hardware_concurrency()));
    context->thread_type = FF_THREAD_FRAME;
  }
  AVDictionary* opts = AOptionsFor(codec);
  int ret = av::avcodec_open2(context.get(), codec, &opts);
  av::av_dict_free(&opts);
  if (ret < 0) return failed;
  FOnFrameThreads = (context->active_thread_type & FF_THREAD_FRAME) != 0;
  FContext = std::move(context);
  FStreamIndex = AStreamIndex;
  return {};
}

void TKivStreamDecoder::Close() {
  FContext.reset();
  FStreamIndex = -1;
  FPending = false;
  FReceivedSincePacket = 0;
  FOnFrameThreads = false;
  ForgetInFlight();
}

void TKivStreamDecoder::ForgetInFlight() {
  FInFlight.clear();
  FInputEnded = false;
  FReceivedSinceEnd = 0;
  FCompletionKnown = false;
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
  if (FOnFrameThreads && ret >= 0) {
    if (APacket) {
      // A bound for streams whose packets give no pictures: only the newest can still
      // complete one.
      if (FInFlight.size() >= kMaxInFlight) FInFlight.pop_front();
      FInFlight.push_back({APacket->dts, APacket->pts, APacket->pos});
    } else {
      FInputEnded = true;
    }
  }
  return ret;
}

int TKivStreamDecoder::Receive(AVFrame* AFrame) {
  int ret = av::avcodec_receive_frame(FContext.get(), AFrame);
  if (ret >= 0) {
    ++FReceivedSincePacket;
    FCompletionKnown = FOnFrameThreads ? FindCompletion(AFrame) : true;
  }
  return ret;
}

bool TKivStreamDecoder::Completion(TCompletion& ACompletion) const {
  if (!FCompletionKnown) return false;
  if (FOnFrameThreads) {
    ACompletion = FCompletion;
  } else {
    ACompletion.Packet = FLastSent;
    ACompletion.FirstFromPacket = FirstFromPacket();
  }
  return true;
}

bool TKivStreamDecoder::FindCompletion(const AVFrame* AFrame) {
  // Frame threads give a picture out when the thread that decoded packet P is done with it,
  // and report P's decoding time in the picture; on one thread the same picture comes out
  // right after P is sent. So P is found among the packets in flight by that time.
  TCompletion& found = FCompletion;
  found.Packet.stream_index = FStreamIndex;
  const int64_t dts = AFrame->pkt_dts;
  if (dts == AV_NOPTS_VALUE) {
    // A picture the decoder held back until the end of the input, unless a packet without a
    // decoding time is still in flight: then it may be that packet's.
    const bool timeless = std::any_of(FInFlight.begin(), FInFlight.end(), [](const TSent& ASent) {
      return ASent.Dts == AV_NOPTS_VALUE;
    });
    if (!FInputEnded || timeless) return false;
    found.Packet.dts = found.Packet.pts = AV_NOPTS_VALUE;
    found.Packet.pos = -1;
    found.FirstFromPacket = ++FReceivedSinceEnd == 1;
    return true;
  }
  auto same = [dts](const TSent& ASent) { return ASent.Dts == dts; };
  auto at = std::find_if(FInFlight.begin(), FInFlight.end(), same);
  // Two packets in flight with one decoding time cannot be told apart.
  if (at == FInFlight.end() || std::find_if(at + 1, FInFlight.end(), same) != FInFlight.end())
    return false;
  // The packets before it gave no picture and now never will.
  FInFlight.erase(FInFlight.begin(), at);
  TSent& sent = FInFlight.front();
  found.Packet.dts = sent.Dts;
  found.Packet.pts = sent.Pts;
  found.Packet.pos = sent.Pos;
  found.FirstFromPacket = !sent.Completed;
  sent.Completed = true;
  return true;
}

void TKivStreamDecoder::Forget() {
  if (!FContext) return;
  FPending = false;
  ForgetInFlight();
  if (!FlushKeepsParseState(FContext.get())) {
    av::avcodec_flush_buffers(FContext.get());
    return;
  }
  Close();  // the next decoding call opens it again
}

}  // namespace kiv
