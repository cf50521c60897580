// The audio path of the decoder: every packet of the audio stream becomes one block of
// interleaved samples in the output format, converted by libswresample when the decoded
// format differs; and the decoding of video and audio from one packet sequence.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "KivDecode.h"
#include "KivLog.h"
#include "KivUtils.h"
#include "libavutil_error.h"

namespace kiv {

TAVBuffer::~TAVBuffer() {
  if (Data && av::av_free) av::av_free(Data);
}

namespace {

constexpr AVRational MicrosecondBase{1, AV_TIME_BASE};

const char* SampleFormatName(int AFormat) {
  const char* name = av::av_get_sample_fmt_name(AVSampleFormat(AFormat));
  return name ? name : "none";
}

// The layout of a decoded frame. Native-order layouts are kept; any other order stands for
// the default layout of its channel count, as a frame without a layout does.
AVChannelLayout DecodedLayout(const AVFrame* AFrame) {
  if (AFrame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE && AFrame->ch_layout.nb_channels > 0)
    return AFrame->ch_layout;
  AVChannelLayout layout{};
  av::av_channel_layout_default(&layout, AFrame->ch_layout.nb_channels);
  return layout;
}

bool SameLayout(const AVChannelLayout& A, const AVChannelLayout& B) {
  return av::av_channel_layout_compare(&A, &B) == 0;
}

}  // namespace

void TKivDecoder::SetDesireAudioChannels(int32_t AValue) {
  if (AValue == FDesireAudioChannels) return;
  FDesireAudioChannels = AValue;
  FDesireChannelLayout = AVChannelLayout{};
  ResetWaveInfo();
  ResetAudioResampler();
}

void TKivDecoder::SetDesireAudioSampleRate(int32_t AValue) {
  if (AValue == FDesireAudioSampleRate) return;
  FDesireAudioSampleRate = AValue;
  ResetWaveInfo();
  ResetAudioResampler();
}

void TKivDecoder::ResetAudioResampler() { FAudioParam.swr_ctx.reset(); }

void TKivDecoder::ResetWaveInfo() {
  FWaveInfo.Channels = FDesireAudioChannels;
  FWaveInfo.SampleRate = FDesireAudioSampleRate;
  FWaveInfo.SampleFormat = FDesireAudioSampleFormat;
  if (av::av_get_bytes_per_sample) {
    FWaveInfo.BytesPerSample = av::av_get_bytes_per_sample(FDesireAudioSampleFormat);
    FWaveInfo.BytesPerSecond = FWaveInfo.SampleRate * FWaveInfo.Channels * FWaveInfo.BytesPerSample;
  } else {
    FWaveInfo.BytesPerSample = FWaveInfo.BytesPerSecond = 0;
  }
  FWaveInfo.PTS = FWaveInfo.OriginalDTS = FWaveInfo.OriginalPTS = AV_NOPTS_VALUE;
  FWaveInfo.StreamIndex = -1;
  FWaveInfo.Ready = false;
  FWaveInfo.Buffer = nullptr;
  FWaveInfo.Size = 0;
  FWaveInfo.Duration = AV_NOPTS_VALUE;
  FRemainsAudioSize = 0;  // the rest belonged to the block just dropped
}

int32_t TKivDecoder::SelectAudioStream(int32_t AStreamIndex) {
  int32_t index = ResolveStream(AStreamIndex, FDesireAudioIndex, FFirstAudioStreamIndex,
                                AVMEDIA_TYPE_AUDIO, "audio");
  if (index < 0) return -1;
  if (index != FDesireAudioIndex) {
    ResetWaveInfo();
    FAudioParam.swr_ctx.reset();
  }
  FDesireAudioIndex = FSeekIndex = index;
  return index;
}

AVCodecContext* TKivDecoder::OpenAudioCodec(int32_t AStreamIndex) {
  KivAssert(FFileHandle->streams[AStreamIndex]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO,
            "KivDecode");
  return OpenStreamCodec(FAudio, AStreamIndex, TDecoderThreads::LibraryDefault);
}

bool TKivDecoder::DecodeAudio(int32_t AStreamIndex) {
  int32_t idx = SelectAudioStream(AStreamIndex);
  if (idx < 0) return false;
  BeginOperation();
  const std::string where = Where("DecodeAudio()");
  if (StreamEnded(where)) return false;
  AVCodecContext* ac = OpenAudioCodec(idx);
  if (!ac) return false;
  FLastPTS = AV_NOPTS_VALUE;
  AVPacket* pkt = nullptr;

  while (true) {
    int ret = ReadPacket(pkt);
    int r;
    if (ret < 0) {
      if (!HandleFailedRead(ret, where)) return false;
      r = DrainAudio(ac, idx);
    } else {
      if (pkt->stream_index != idx) {
        av::av_packet_unref(pkt);
        continue;
      }
      if (!ResumeAfterDrain(nullptr, &ac)) {
        av::av_packet_unref(pkt);
        return false;
      }
      r = DecodeAudioPacket(FAudioParam, ac, pkt);
      av::av_packet_unref(pkt);
    }
    if (r > 0) return true;
    if (r < 0) return false;
  }
}

int TKivDecoder::DrainAudio(AVCodecContext* ACodec, int32_t AStreamIndex) {
  AVPacket* pkt = FPacket.get();
  av::av_packet_unref(pkt);
  pkt->stream_index = AStreamIndex;
  return DecodeAudioPacket(FAudioParam, ACodec, pkt);
}

int TKivDecoder::DecodeAudioPacket(TAudioParam& AParam, AVCodecContext* ACodec, AVPacket* APacket) {
  ResetWaveInfo();
  if (!FAudioDecodedFrame) FAudioDecodedFrame.reset(av::av_frame_alloc());
  AVFrame* frame = FAudioDecodedFrame.get();
  auto logDecodeError = [&](int ACode) {
    CurrentLogger().Log(
        this, llError,
        ErrorText(Format("Error while decoding audio stream #%d", APacket->stream_index), ACode));
  };

  // An empty packet ends the input: the decoder then gives back every frame it still holds.
  const bool endOfInput = APacket->size == 0 && !APacket->data;
  int ret = av::avcodec_send_packet(ACodec, endOfInput ? nullptr : APacket);
  bool failed = ret < 0 && ret != AVERROR_EOF;
  if (failed) logDecodeError(ret);

  int32_t total = 0;
  int frames = 0;
  while (!failed) {
    av::av_frame_unref(frame);
    ret = av::avcodec_receive_frame(ACodec, frame);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) {
      logDecodeError(ret);  // what was decoded so far stays in the block
      break;
    }
    if (frames++ > 0 && !endOfInput)
      CurrentLogger().Log(this, llWarning, "Multiple frames in a packet from stream %d",
                          APacket->stream_index);
    AParam.st_idx = APacket->stream_index;
    int n = ResampleAudioFrame(total, frame, AParam);
    if (n < 0) return n;
    total += n;
  }
  if (endOfInput && !failed) {
    // The end of the input also drains the resampler, so the last samples are delivered.
    int n = FlushResampler(total, AParam);
    if (n < 0) return n;
    total += n;
  }
  if (total <= 0) return 0;

  int64_t t = APacket->dts != AV_NOPTS_VALUE ? APacket->dts : APacket->pts;
  if (t == AV_NOPTS_VALUE) {
    FWaveInfo.PTS = AV_NOPTS_VALUE;
  } else {
    const AVStream* s = FFileHandle->streams[APacket->stream_index];
    if (s->start_time != AV_NOPTS_VALUE) t -= s->start_time;
    FWaveInfo.PTS = av::av_rescale_q(t, s->time_base, MicrosecondBase);
  }
  FWaveInfo.OriginalDTS = APacket->dts;
  FWaveInfo.OriginalPTS = APacket->pts;
  FWaveInfo.StreamIndex = APacket->stream_index;
  FWaveInfo.Ready = true;
  if (FWaveInfo.BytesPerSample > 0 && FDesireAudioSampleRate > 0 && FDesireAudioChannels > 0)
    FWaveInfo.Duration = std::llrint(double(FWaveInfo.Size) * 1000000.0 / FWaveInfo.BytesPerSample /
                                     FDesireAudioSampleRate / FDesireAudioChannels);
  return 1;
}

int TKivDecoder::ResampleAudioFrame(int32_t AOffset, AVFrame* AFrame, TAudioParam& AParam) {
  const AVChannelLayout dl = DecodedLayout(AFrame);
  const int channels = AFrame->ch_layout.nb_channels;
  if (!SameLayout(dl, AParam.channel_layout) || channels != AParam.channels ||
      AFrame->sample_rate != AParam.freq || AFrame->format != AParam.fmt) {
    if (AParam.channels != -1) {
      CurrentLogger().Log(this, llInfo,
                          "Audio stream #%d frame changed from %d Hz %s %d channels to %d Hz "
                          "%s %d channels",
                          AParam.st_idx, AParam.freq, SampleFormatName(AParam.fmt), AParam.channels,
                          AFrame->sample_rate, SampleFormatName(AFrame->format), channels);
      AParam.swr_ctx.reset();
    }
    AParam.channel_layout = dl;
    AParam.channels = channels;
    AParam.freq = AFrame->sample_rate;
    AParam.fmt = AVSampleFormat(AFrame->format);
  }
  if (FDesireChannelLayout.nb_channels == 0)
    av::av_channel_layout_default(&FDesireChannelLayout, FDesireAudioChannels);

  int32_t size;
  const uint8_t* source;
  if (SameLayout(FDesireChannelLayout, AParam.channel_layout) &&
      FDesireAudioChannels == AParam.channels && FDesireAudioSampleRate == AParam.freq &&
      FDesireAudioSampleFormat == AParam.fmt) {
    size = av::av_samples_get_buffer_size(nullptr, channels, AFrame->nb_samples,
                                          AVSampleFormat(AFrame->format), 1);
    source = AFrame->data[0];
  } else {
    if (!AParam.swr_ctx) {
      SwrContext* swr = nullptr;
      av::swr_alloc_set_opts2(&swr, &FDesireChannelLayout, FDesireAudioSampleFormat,
                              FDesireAudioSampleRate, &AParam.channel_layout, AParam.fmt,
                              AParam.freq, 0, nullptr);
      AParam.swr_ctx.reset(swr);
      if (AParam.swr_ctx && av::swr_init(AParam.swr_ctx.get()) < 0) {
        CurrentLogger().Log(this, llFatal, "swr_init() failed");
        AParam.swr_ctx.reset();
      }
      if (!AParam.swr_ctx) {
        ReportErrorFmt(
            AV_LOG_ERROR, "Can not resample %d Hz %s %d channels to %d Hz %s %d channels",
            AFrame->sample_rate, SampleFormatName(AFrame->format), channels, FDesireAudioSampleRate,
            SampleFormatName(FDesireAudioSampleFormat), FDesireAudioChannels);
        return -1;
      }
      CurrentLogger().Log(
          this, llInfo, "need resample %d Hz %s %d channels to %d Hz %s %d channels",
          AFrame->sample_rate, SampleFormatName(AFrame->format), channels, FDesireAudioSampleRate,
          SampleFormatName(FDesireAudioSampleFormat), FDesireAudioChannels);
    }
    // Room for the frame at the output rate, and for what the resampler still holds.
    const int outcount =
        int(int64_t(AFrame->nb_samples) * FDesireAudioSampleRate / AFrame->sample_rate + 256);
    if (!ReserveResampled(outcount)) return AVERROR(ENOMEM);
    uint8_t* out = FResampledBuffer.Data;
    const int len =
        av::swr_convert(AParam.swr_ctx.get(), &out, outcount,
                        const_cast<const uint8_t**>(AFrame->extended_data), AFrame->nb_samples);
    if (len < 0) {
      ReportError(AV_LOG_ERROR, ErrorText("swr_convert() failed", len));
      return len;
    }
    if (len == outcount) {
      ReportError(AV_LOG_ERROR, "warning: audio buffer is probably too small");
      av::swr_init(AParam.swr_ctx.get());  // drops what the resampler still held
    }
    size = len * FDesireAudioChannels * av::av_get_bytes_per_sample(FDesireAudioSampleFormat);
    source = FResampledBuffer.Data;
  }
  if (size < 0) return 0;
  return AppendToBlock(AOffset, source, size);
}

bool TKivDecoder::ReserveResampled(int AOutCount) {
  const int outsize = av::av_samples_get_buffer_size(nullptr, FDesireAudioChannels, AOutCount,
                                                     FDesireAudioSampleFormat, 0);
  if (outsize > 0) av::av_fast_malloc(&FResampledBuffer.Data, &FResampledSize, size_t(outsize));
  if (outsize <= 0 || !FResampledBuffer.Data) {
    ReportError(AV_LOG_ERROR, "av_fast_malloc() failed");
    return false;
  }
  return true;
}

int TKivDecoder::FlushResampler(int32_t AOffset, TAudioParam& AParam) {
  // What the resampler's filter still holds, taken in pieces of the room a frame gets.
  constexpr int room = 256;
  const int bytesPerFrame =
      FDesireAudioChannels * av::av_get_bytes_per_sample(FDesireAudioSampleFormat);
  int32_t total = 0;
  while (AParam.swr_ctx) {
    if (!ReserveResampled(room)) return AVERROR(ENOMEM);
    uint8_t* out = FResampledBuffer.Data;
    const int len = av::swr_convert(AParam.swr_ctx.get(), &out, room, nullptr, 0);
    if (len < 0) {
      ReportError(AV_LOG_ERROR, ErrorText("swr_convert() failed", len));
      return len;
    }
    if (len == 0) {
      av::swr_init(AParam.swr_ctx.get());  // ready for the input after a seek
      break;
    }
    const int n = AppendToBlock(AOffset + total, FResampledBuffer.Data, len * bytesPerFrame);
    if (n < 0) return n;
    total += n;
  }
  return total;
}

int TKivDecoder::AppendToBlock(int32_t AOffset, const uint8_t* ASource, int32_t ASize) {
  if (!FAudioBuffer.Data || FAudioSize < AOffset + ASize) {
    // Out of memory the block stays as it was and the samples are refused.
    auto* grown = static_cast<uint8_t*>(av::av_realloc(FAudioBuffer.Data, size_t(AOffset + ASize)));
    if (!grown) {
      ReportError(AV_LOG_ERROR, "av_realloc() failed");
      return AVERROR(ENOMEM);
    }
    FAudioBuffer.Data = grown;
    FAudioSize = AOffset + ASize;
  }
  std::memcpy(FAudioBuffer.Data + AOffset, ASource, size_t(ASize));
  FWaveInfo.Buffer = FAudioBuffer.Data;
  FWaveInfo.Size = AOffset + ASize;
  return ASize;
}

int32_t TKivDecoder::ReadAudio(uint8_t* ABuffer, int32_t ACount, int32_t AStreamIndex) {
  if (FRemainsAudioSize <= 0) {
    if (!DecodeAudio(AStreamIndex)) return -1;
    KivAssert(FWaveInfo.Size > 0, "KivDecode");
    FRemainsAudioSize = FWaveInfo.Size;
  }
  // A negative count asks for nothing.
  const int32_t n = std::clamp(ACount, 0, FRemainsAudioSize);
  if (ABuffer) {
    std::memcpy(ABuffer, FWaveInfo.Buffer + (FWaveInfo.Size - FRemainsAudioSize), size_t(n));
    FRemainsAudioSize -= n;
  }
  return n;
}

TDecodeResult TKivDecoder::Decode(TDecodeType AType) {
  const int32_t v = AType == dtBoth || AType == dtVideo ? SelectVideoStream(-1) : -1;
  const int32_t a = AType == dtBoth || AType == dtAudio ? SelectAudioStream(-1) : -1;
  if (v < 0 && a < 0) return drError;
  BeginOperation();
  const std::string where = Where("Decode() for video and/or audio");
  if (StreamEnded(where)) return drError;
  AVCodecContext* vc = nullptr;
  AVCodecContext* ac = nullptr;
  if (v >= 0 && !(vc = OpenVideoCodec(v))) return drError;
  if (a >= 0 && !(ac = OpenAudioCodec(a))) return drError;
  AVPacket* pkt = nullptr;

  while (true) {
    // A picture the video decoder already holds goes out before anything more is read.
    if (vc && FVideo.Pending()) {
      if (ReceiveVideoPicture() > 0) return drVideo;
      FVideo.ClearPending();
    }
    int ret = ReadPacket(pkt);
    if (ret < 0) {
      if (!HandleFailedRead(ret, where)) return drError;
      // The end of the input drains every decoder in use: the audio decoder into one last
      // block now, the video decoder one picture per call from here on.
      if (vc) SendVideoPacket(vc, nullptr);
      if (ac) {
        int r = DrainAudio(ac, a);
        if (r > 0) return drAudio;
        if (r < 0) return drError;
      }
      continue;
    }
    if (pkt->stream_index != v && pkt->stream_index != a) {
      av::av_packet_unref(pkt);
      continue;
    }
    if (!ResumeAfterDrain(&vc, &ac)) {
      av::av_packet_unref(pkt);
      return drError;
    }
    if (pkt->stream_index == v) {
      // A packet that fails to decode is skipped; the library logs why.
      SendVideoPacket(vc, pkt);
      av::av_packet_unref(pkt);
      continue;
    }
    int r = DecodeAudioPacket(FAudioParam, ac, pkt);
    av::av_packet_unref(pkt);
    if (r > 0) return drAudio;
    if (r < 0) return drError;
  }
}

}  // namespace kiv
