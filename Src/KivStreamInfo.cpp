#include "KivDecode.h"
#include "KivDecodeInternal.h"
#include "KivUtils.h"

namespace kiv {

namespace {

constexpr AVRational MicrosecondBase{1, AV_TIME_BASE};

int32_t WholeNumber(const std::string& AText) {
  try {
    size_t used = 0;
    int value = std::stoi(AText, &used);
    return used == AText.size() ? value : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

// A zero denominator would make every later rescaling divide by zero; the repair stays in the
// stream for every later user.
void RepairTimeBase(AVStream* AStream) {
  if (AStream->time_base.den == 0)
    AStream->time_base.den = AStream->time_base.num != 0 ? AStream->time_base.num : 1;
}

template <typename TRecord>
void FillTimes(TRecord& ARecord, AVStream* AStream) {
  RepairTimeBase(AStream);
  ARecord.StartTime = AStream->start_time;
  if (ARecord.StartTime != AV_NOPTS_VALUE)
    ARecord.StartTimeScaled =
        av::av_rescale_q(ARecord.StartTime, AStream->time_base, MicrosecondBase);
  ARecord.Duration = AStream->duration;
  if (ARecord.Duration != AV_NOPTS_VALUE)
    ARecord.DurationScaled =
        av::av_rescale_q(ARecord.Duration, AStream->time_base, MicrosecondBase);
}

}  // namespace

bool TCustomDecoder::CheckFileLoaded() {
  if (FFileHandle) return true;
  ReportError(AV_LOG_WARNING, "file not loaded.");
  return false;
}

std::string TCustomDecoder::StreamCodecName(const AVStream* AStream) const {
  return GetCodecName(AStream->codecpar, false, FGetLongCodecName);
}

template <typename TRecord>
void TCustomDecoder::FillCommon(TRecord& ARecord, AVStream* AStream) const {
  ARecord.Language = DictValue(AStream->metadata, "language", "");
  ARecord.CodecName = StreamCodecName(AStream);
  FillTimes(ARecord, AStream);
  ARecord.BitRate = int32_t(AStream->codecpar->bit_rate);
}

TFileStreamInfo TCustomDecoder::FileStreamInfo() {
  TFileStreamInfo info;
  if (!CheckFileLoaded()) return info;
  AVDictionary* meta = FFileHandle->metadata;
  info.StartTime = FFileHandle->start_time;
  info.Duration = FFileHandle->duration == AV_NOPTS_VALUE ? -1 : FFileHandle->duration;
  info.BitRate = int32_t(FFileHandle->bit_rate);
  info.Year = WholeNumber(DictValue(meta, "year", ""));
  info.Track = WholeNumber(DictValue(meta, "track", ""));
  info.Title = DictValue(meta, "title", "");
  info.Author = DictValue(meta, "author", "");
  info.Copyright = DictValue(meta, "copyright", "");
  info.Comment = DictValue(meta, "comment", "");
  info.Album = DictValue(meta, "album", "");
  info.Genre = DictValue(meta, "genre", "");
  return info;
}

AVStream* TCustomDecoder::StreamForInfo(int32_t& Index, AVMediaType AType, int32_t AFirstIndex,
                                        const char* ATypeName) {
  if (!CheckFileLoaded()) return nullptr;
  if (Index < 0) {
    Index = AFirstIndex;
    if (Index < 0) {
      ReportErrorFmt(AV_LOG_ERROR, "no %s stream.", ATypeName);
      return nullptr;
    }
  } else if (Index >= int32_t(FFileHandle->nb_streams)) {
    ReportErrorFmt(AV_LOG_ERROR, "stream index #%d is invalid.", Index);
    return nullptr;
  }
  AVStream* stream = FFileHandle->streams[Index];
  if (stream->codecpar->codec_type != AType) {
    ReportErrorFmt(AV_LOG_ERROR, "stream #%d is not %s stream.", Index, ATypeName);
    return nullptr;
  }
  return stream;
}

TAudioStreamInfo TCustomDecoder::GetAudioStreamInfos(int32_t Index) {
  TAudioStreamInfo info;
  AVStream* stream = StreamForInfo(Index, AVMEDIA_TYPE_AUDIO, FFirstAudioStreamIndex, "audio");
  if (!stream) return info;
  FillCommon(info, stream);
  const AVCodecParameters* par = stream->codecpar;
  info.Channels = par->ch_layout.nb_channels;
  info.SampleRate = par->sample_rate;
  info.SampleFormat = AVSampleFormat(par->format);
  return info;
}

TVideoStreamInfo TCustomDecoder::GetVideoStreamInfos(int32_t Index) {
  TVideoStreamInfo info;
  AVStream* stream = StreamForInfo(Index, AVMEDIA_TYPE_VIDEO, FFirstVideoStreamIndex, "video");
  if (!stream) return info;
  FillCommon(info, stream);
  const AVCodecParameters* par = stream->codecpar;
  info.Height = par->height;
  info.Width = par->width;
  info.SAR =
      stream->sample_aspect_ratio.num != 0 ? stream->sample_aspect_ratio : par->sample_aspect_ratio;
  info.SampleAspectRatio = float(double(info.SAR.num) / double(info.SAR.den));
  if (info.SAR.num != 0) {
    av::av_reduce(&info.DAR.num, &info.DAR.den, Product32(par->width, info.SAR.num),
                  Product32(par->height, info.SAR.den), 1024 * 1024);
    info.DisplayAspectRatio = float(double(info.DAR.num) / double(info.DAR.den));
  }
  info.PixFmt = AVPixelFormat(par->format);
  info.FrameRate = stream->avg_frame_rate.num != 0 && stream->avg_frame_rate.den != 0
                       ? stream->avg_frame_rate
                       : stream->r_frame_rate;
  return info;
}

TSubtitleStreamInfo TCustomDecoder::GetSubtitleStreamInfos(int32_t Index) {
  TSubtitleStreamInfo info;
  AVStream* stream =
      StreamForInfo(Index, AVMEDIA_TYPE_SUBTITLE, FFirstSubtitleStreamIndex, "subtitle");
  if (!stream) return info;
  info.Language = DictValue(stream->metadata, "language", "");
  info.CodecName = StreamCodecName(stream);
  if (const AVCodecDescriptor* desc = av::avcodec_descriptor_get(stream->codecpar->codec_id)) {
    if (desc->props & AV_CODEC_PROP_BITMAP_SUB)
      info.SubFormat = 0;
    else if (desc->props & AV_CODEC_PROP_TEXT_SUB)
      info.SubFormat = 1;
  }
  return info;
}

TAVProgram TCustomDecoder::GetProgrames(int32_t Index) {
  TAVProgram program{};
  program.id = -1;
  program.flags = -1;
  program.discard = AVDISCARD_NONE;
  program.stream_index = nullptr;
  program.nb_stream_indexes = 0;
  if (!CheckFileLoaded()) {
  } else if (FFileHandle->nb_programs == 0) {
    ReportError(AV_LOG_ERROR, "no program found.");
  } else if (Index < 0 || Index >= int32_t(FFileHandle->nb_programs)) {
    ReportErrorFmt(AV_LOG_ERROR, "program index #%d is invalid.", Index);
  } else {
    program = *FFileHandle->programs[Index];
  }
  return program;
}

bool TCustomDecoder::StreamTypeIs(int32_t AStreamIndex, AVMediaType AType) {
  if (!CheckFileLoaded()) return false;
  if (AStreamIndex < 0 || AStreamIndex >= int32_t(FFileHandle->nb_streams)) {
    ReportErrorFmt(AV_LOG_ERROR, "stream index #%d is invalid.", AStreamIndex);
    return false;
  }
  return FFileHandle->streams[AStreamIndex]->codecpar->codec_type == AType;
}

bool TCustomDecoder::IsAudioStream(int32_t AStreamIndex) {
  return StreamTypeIs(AStreamIndex, AVMEDIA_TYPE_AUDIO);
}
bool TCustomDecoder::IsVideoStream(int32_t AStreamIndex) {
  return StreamTypeIs(AStreamIndex, AVMEDIA_TYPE_VIDEO);
}
bool TCustomDecoder::IsSubtitleStream(int32_t AStreamIndex) {
  return StreamTypeIs(AStreamIndex, AVMEDIA_TYPE_SUBTITLE);
}

TPathFileName TCustomDecoder::FileName() {
  if (!CheckFileLoaded()) return {};
  return FFileHandle->url ? DecodeFileName(FFileHandle->url) : TPathFileName();
}

std::string TCustomDecoder::FormatName() {
  if (!CheckFileLoaded()) return {};
  return FFileHandle->iformat && FFileHandle->iformat->name ? FFileHandle->iformat->name : "";
}

std::string TCustomDecoder::FormatLongName() {
  if (!CheckFileLoaded()) return {};
  return FFileHandle->iformat && FFileHandle->iformat->long_name ? FFileHandle->iformat->long_name
                                                                 : "";
}

}  // namespace kiv
