// The filter stage of the video path: every decoded picture passes through a libavfilter
// graph built from VideoFilters before it is stored.
#include <cstdio>

#include "AVFilterStubs.h"
#include "KivDecode.h"
#include "KivLog.h"

namespace kiv {

namespace {

// The two open ends of a graph description while it is parsed; the parser takes what it
// links and leaves the rest to be freed here.
struct TInOuts {
  TInOuts() : Outputs(av::avfilter_inout_alloc()), Inputs(av::avfilter_inout_alloc()) {}
  ~TInOuts() {
    av::avfilter_inout_free(&Inputs);
    av::avfilter_inout_free(&Outputs);
  }
  TInOuts(const TInOuts&) = delete;
  TInOuts& operator=(const TInOuts&) = delete;
  AVFilterInOut* Outputs;
  AVFilterInOut* Inputs;
};

void LogFilterError(TComponent* ASender, const char* AText) {
  CurrentLogger().Log(ASender, llError, AText);
}

// How long a decoded picture stands, in the stream's time base: its packet's duration, or
// one frame at the stream's rate; 0 when neither is known.
int64_t PictureDuration(const AVFrame* AFrame, AVRational AFrameRate, AVRational ATimeBase) {
  if (AFrame->pkt_duration > 0) return AFrame->pkt_duration;
  if (AFrameRate.num <= 0 || AFrameRate.den <= 0) return 0;
  return av::av_rescale_q(1, av_inv_q(AFrameRate), ATimeBase);
}

}  // namespace

void TKivDecoder::ResetFilters() {
  Flast_vfilters.clear();
  Ffilter_graph.reset();
  Fbuffersrc_ctx = Fbuffersink_ctx = nullptr;
  Ffilter_end_pts = AV_NOPTS_VALUE;
  Ffilter_ended = false;
}

AVFrame* TKivDecoder::FilterPicture(AVFrame* ADecoded) {
  if (ConfigureVideoFilters(Fvfilters, FFileHandle->streams[FDesireVideoIndex]) < 0) {
    // A graph that failed half-way is never fed or drained; the next picture tries again.
    ResetFilters();
    LogFilterError(this, "Error while configuring the filtergraph");
    return ADecoded;
  }
  if (!Ffilter_graph) return ADecoded;
  if (av::av_buffersrc_add_frame_flags(Fbuffersrc_ctx, ADecoded, AV_BUFFERSRC_FLAG_KEEP_REF) < 0) {
    LogFilterError(this, "Error while feeding the filtergraph");
    return ADecoded;
  }
  if (ADecoded->pts != AV_NOPTS_VALUE)
    Ffilter_end_pts =
        ADecoded->pts +
        PictureDuration(ADecoded, FFrameRate, FFileHandle->streams[FDesireVideoIndex]->time_base);
  // One picture out per picture in: pictures a filter adds wait for later ones.
  AVFrame* filtered = FFilteredFrame.get();
  av::av_frame_unref(filtered);
  int r = av::av_buffersink_get_frame_flags(Fbuffersink_ctx, filtered, 0);
  if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return nullptr;
  if (r < 0) return ADecoded;
  av::av_frame_unref(ADecoded);
  return filtered;
}

AVFrame* TKivDecoder::DrainFilterGraph() {
  if (!Ffilter_graph || !Fbuffersrc_ctx || !Fbuffersink_ctx) return nullptr;
  // Ending the graph's input makes it give back what it holds; later calls only take more.
  // The end time lets filters that make pictures up to it (a raised rate, padding) make the
  // ones that the last picture still stands for.
  if (!Ffilter_ended) {
    Ffilter_ended = true;
    [[maybe_unused]] int ended = Ffilter_end_pts != AV_NOPTS_VALUE
                                     ? av::av_buffersrc_close(Fbuffersrc_ctx, Ffilter_end_pts, 0)
                                     : av::av_buffersrc_add_frame_flags(Fbuffersrc_ctx, nullptr, 0);
  }
  AVFrame* filtered = FFilteredFrame.get();
  av::av_frame_unref(filtered);
  return av::av_buffersink_get_frame_flags(Fbuffersink_ctx, filtered, 0) >= 0 ? filtered : nullptr;
}

int TKivDecoder::ConfigureVideoFilters(const std::string& AFilters, AVStream* AStream) {
  if (AFilters == Flast_vfilters) {
    if (AFilters.empty() && Ffilter_graph) ResetFilters();
    return 0;
  }
  // The graph in use goes, and with it its description: a description set again later
  // builds a new graph.
  ResetFilters();
  if (AFilters.empty()) return 0;

  // The graph delivers pictures in the decoder's own pixel format; RGB is the converter's.
  const AVCodecContext* c = FVideo.Context();
  KivAssert(c != nullptr, "KivDecode");
  const AVPixelFormat pix_fmts[] = {c->pix_fmt, AV_PIX_FMT_NONE};

  TInOuts ends;
  const AVFilter* src = av::avfilter_get_by_name("buffer");
  const AVFilter* sink = av::avfilter_get_by_name("buffersink");
  Ffilter_graph.reset(av::avfilter_graph_alloc());
  if (!ends.Outputs || !ends.Inputs || !Ffilter_graph) return AVERROR(ENOMEM);

  char args[512];
  std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
                c->width, c->height, int(c->pix_fmt), AStream->time_base.num,
                AStream->time_base.den, c->sample_aspect_ratio.num,
                c->sample_aspect_ratio.den > 1 ? c->sample_aspect_ratio.den : 1);
  AVRational fr = av::av_guess_frame_rate(FFileHandle, AStream, nullptr);
  if (fr.num != 0 && fr.den != 0)
    av::av_strlcatf(args, sizeof args, ":frame_rate=%d/%d", fr.num, fr.den);

  int ret = av::avfilter_graph_create_filter(&Fbuffersrc_ctx, src, "in", args, nullptr,
                                             Ffilter_graph.get());
  if (ret < 0) {
    LogFilterError(this, "Cannot create buffer source");
    return ret;
  }
  ret = av::avfilter_graph_create_filter(&Fbuffersink_ctx, sink, "out", nullptr, nullptr,
                                         Ffilter_graph.get());
  if (ret < 0) {
    LogFilterError(this, "Cannot create buffer sink");
    return ret;
  }
  ret = av::av_opt_set_int_list(Fbuffersink_ctx, "pix_fmts", pix_fmts, uint64_t(AV_PIX_FMT_NONE),
                                AV_OPT_SEARCH_CHILDREN);
  if (ret < 0) {
    LogFilterError(this, "Cannot set output pixel format");
    return ret;
  }

  ends.Outputs->name = av::av_strdup("in");
  ends.Outputs->filter_ctx = Fbuffersrc_ctx;
  ends.Outputs->pad_idx = 0;
  ends.Outputs->next = nullptr;
  ends.Inputs->name = av::av_strdup("out");
  ends.Inputs->filter_ctx = Fbuffersink_ctx;
  ends.Inputs->pad_idx = 0;
  ends.Inputs->next = nullptr;
  // Descriptions are UTF-8 text, which is what FFmpeg reads file names in filter options as.
  ret = av::avfilter_graph_parse_ptr(Ffilter_graph.get(), AFilters.c_str(), &ends.Inputs,
                                     &ends.Outputs, nullptr);
  if (ret >= 0) ret = av::avfilter_graph_config(Ffilter_graph.get(), nullptr);
  if (ret >= 0) Flast_vfilters = AFilters;
  return ret;
}

}  // namespace kiv
