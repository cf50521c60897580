#include <cmath>
#include <cstring>

#include "KivDecode.h"
#include "KivDecodeInternal.h"
#include "KivUtils.h"
#include "MyUtils.h"

namespace kiv {

namespace fileinfo {

// "%d.%.6d" seconds of a time, "-" first when negative; empty for a missing time.
std::string StartText(int64_t ATime, AVRational ATimeBase) {
  if (ATime == AV_NOPTS_VALUE) return "";
  if (av_cmp_q(ATimeBase, AVRational{1, AV_TIME_BASE}) != 0)
    ATime = av::av_rescale_q(ATime, ATimeBase, AVRational{1, AV_TIME_BASE});
  int64_t seconds = ATime / AV_TIME_BASE, micros = ATime % AV_TIME_BASE;
  return Format("%s%d.%.6d", ATime < 0 ? "-" : "", int(std::llabs(seconds)),
                int(std::llabs(micros)));
}

// A rate with its unit word, with as many decimals as the rate needs.
std::string RateText(double ARate, const char* AUnit) {
  long v = std::lrint(ARate * 100);
  if (v == 0) return Format("%1.4f %s", ARate, AUnit);
  if (v % 100) return Format("%3.2f %s", ARate, AUnit);
  if (v % (100 * 1000)) return Format("%1.0f %s", ARate, AUnit);
  return Format("%1.0fk %s", ARate / 1000, AUnit);
}

void MetadataBlock(TLines& ALines, AVDictionary* AMeta, const std::string& AIndent) {
  if (!AMeta) return;
  if (av::av_dict_count(AMeta) == 1 && av::av_dict_get(AMeta, "language", nullptr, 0)) return;
  ALines.push_back(AIndent + "Metadata:");
  const std::string continuation = Format("%s  %-16s: ", AIndent.c_str(), "");
  AVDictionaryEntry* entry = nullptr;
  while ((entry = av::av_dict_get(AMeta, "", entry, AV_DICT_IGNORE_SUFFIX))) {
    if (std::strcmp(entry->key, "language") == 0) continue;
    std::string line = Format("%s  %-16s: ", AIndent.c_str(), entry->key);
    const char* p = entry->value;
    while (*p) {
      size_t length = std::strcspn(p, "\x08\x0a\x0b\x0c\x0d");
      line.append(p, std::min<size_t>(length, 255));
      p += length;
      if (*p == '\x0d') line += ' ';
      if (*p == '\x0a') {
        ALines.push_back(line);
        line = continuation;
      }
      if (*p) ++p;
    }
    ALines.push_back(line);
  }
}

}  // namespace fileinfo

namespace {

using namespace fileinfo;

constexpr struct {
  int flag;
  const char* word;
} DispositionWords[] = {
    {AV_DISPOSITION_DEFAULT, " (default)"},
    {AV_DISPOSITION_DUB, " (dub)"},
    {AV_DISPOSITION_ORIGINAL, " (original)"},
    {AV_DISPOSITION_COMMENT, " (comment)"},
    {AV_DISPOSITION_LYRICS, " (lyrics)"},
    {AV_DISPOSITION_KARAOKE, " (karaoke)"},
    {AV_DISPOSITION_FORCED, " (forced)"},
    {AV_DISPOSITION_HEARING_IMPAIRED, " (hearing impaired)"},
    {AV_DISPOSITION_VISUAL_IMPAIRED, " (visual impaired)"},
    {AV_DISPOSITION_CLEAN_EFFECTS, " (clean effects)"},
};

// The codec description of a stream, as libavcodec words it; false when no context could be
// built for it.
bool DescribeCodec(AVFormatContext* AContext, AVStream* AStream, std::string& ADescription) {
  TCodecContextPtr codec(av::avcodec_alloc_context3(nullptr));
  if (!codec || av::avcodec_parameters_to_context(codec.get(), AStream->codecpar) < 0) return false;
  if (AContext->dump_separator)
    av::av_opt_set(codec.get(), "dump_separator",
                   reinterpret_cast<const char*>(AContext->dump_separator), 0);
  char text[256];
  av::avcodec_string(text, sizeof text, codec.get(), 0);
  ADescription = text;
  return true;
}

void StreamLine(TLines& ALines, AVFormatContext* AContext, int AIndex) {
  AVStream* stream = AContext->streams[AIndex];
  std::string codec;
  if (!DescribeCodec(AContext, stream, codec)) return;

  std::string line = Format("  Stream #%d", AIndex);
  if (AContext->iformat->flags & AVFMT_SHOW_IDS) line += Format("[0x%x]", stream->id);
  if (AVDictionaryEntry* lang = av::av_dict_get(stream->metadata, "language", nullptr, 0))
    line += Format("(%s)", lang->value);
  line += Format(", %d/%d", stream->time_base.num, stream->time_base.den);
  line += ": " + codec;

  const AVCodecParameters* par = stream->codecpar;
  if (stream->sample_aspect_ratio.num &&
      av_cmp_q(stream->sample_aspect_ratio, par->sample_aspect_ratio) != 0) {
    AVRational dar;
    av::av_reduce(&dar.num, &dar.den, Product32(par->width, stream->sample_aspect_ratio.num),
                  Product32(par->height, stream->sample_aspect_ratio.den), 1024 * 1024);
    line += Format(", SAR %d:%d DAR %d:%d", stream->sample_aspect_ratio.num,
                   stream->sample_aspect_ratio.den, dar.num, dar.den);
  }

  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    const char* separator =
        AContext->dump_separator ? reinterpret_cast<const char*>(AContext->dump_separator) : ", ";
    auto known = [](AVRational r) { return r.num != 0 && r.den != 0; };
    if (known(stream->avg_frame_rate))
      line += separator + RateText(av_q2d(stream->avg_frame_rate), "fps");
    if (known(stream->r_frame_rate))
      line += separator + RateText(av_q2d(stream->r_frame_rate), "tbr");
    if (known(stream->time_base))
      line += separator + RateText(1 / av_q2d(stream->time_base), "tbn");
    // The codec time base ("tbc") is known only to an opened decoder: left out.
  }

  for (const auto& d : DispositionWords)
    if (stream->disposition & d.flag) line += d.word;

  if (stream->start_time != AV_NOPTS_VALUE)
    line += ", start: " + StartText(stream->start_time, stream->time_base);
  if (stream->duration != AV_NOPTS_VALUE)
    line += ", duration: " + TimestampToStr(stream->duration, stream->time_base);
  ALines.push_back(line);
  MetadataBlock(ALines, stream->metadata, "  ");
}

}  // namespace

std::string TCustomDecoder::FileInfoText() {
  if (!CheckFileLoaded()) return "";
  AVFormatContext* ic = FFileHandle;
  TLines lines;
  lines.push_back("File Name: " + (ic->url ? DecodeFileName(ic->url) : TPathFileName()));
  lines.push_back("Format Name: " + std::string(ic->iformat->name));
  if (ic->iformat->long_name)
    lines.push_back("Format Long Name: " + std::string(ic->iformat->long_name));
  lines.push_back("File Size: " + FileSizeToStr(OpenFileSize(ic)));
  MetadataBlock(lines, ic->metadata, "");

  std::string duration = "Duration: " + DurationToStr(ic->duration);
  if (ic->start_time != AV_NOPTS_VALUE)
    duration += ", start: " + StartText(ic->start_time, AVRational{1, AV_TIME_BASE});
  duration += ", bitrate: ";
  duration += ic->bit_rate <= 0 ? std::string("N/A") : Format("%d kb/s", int(ic->bit_rate / 1000));
  lines.push_back(duration);

  for (unsigned i = 0; i < ic->nb_chapters; ++i) {
    const AVChapter* chapter = ic->chapters[i];
    lines.push_back(Format("Chapter #%d: start %.6f, end %.6f", int(i),
                           chapter->start * av_q2d(chapter->time_base),
                           chapter->end * av_q2d(chapter->time_base)));
    MetadataBlock(lines, chapter->metadata, "  ");
  }

  std::vector<bool> shown(ic->nb_streams, false);
  if (ic->nb_programs) {
    unsigned listed = 0;
    for (unsigned p = 0; p < ic->nb_programs; ++p) {
      const AVProgram* program = ic->programs[p];
      AVDictionaryEntry* name = av::av_dict_get(program->metadata, "name", nullptr, 0);
      lines.push_back(Format("Program %d %s", program->id, name ? name->value : ""));
      MetadataBlock(lines, program->metadata, "  ");
      for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
        unsigned index = program->stream_index[k];
        if (index >= ic->nb_streams) continue;
        StreamLine(lines, ic, int(index));
        shown[index] = true;
      }
      listed += program->nb_stream_indexes;
    }
    if (listed < ic->nb_streams) lines.push_back("No Program");
  }
  for (unsigned i = 0; i < ic->nb_streams; ++i)
    if (!shown[i]) StreamLine(lines, ic, int(i));

  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace kiv
