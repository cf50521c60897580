// FFmpeg objects that free themselves: std::unique_ptr with a deleter that calls the bound
// entry point, and only while it is bound (the libraries may already be unloaded).
#pragma once

#include <memory>

#include "AVCodecStubs.h"
#include "AVFilterStubs.h"
#include "AVFormatStubs.h"
#include "AVUtilStubs.h"
#include "SwResampleStubs.h"
#include "SwScaleStubs.h"

namespace kiv {

// For free functions that take the object's address and clear it (av_frame_free(&frame)).
template <auto& AFree>
struct TFreeByAddress {
  template <typename T>
  void operator()(T* AObject) const {
    if (AFree) AFree(&AObject);
  }
};

// For free functions that take the object itself (sws_freeContext(context)).
template <auto& AFree>
struct TFreeByValue {
  template <typename T>
  void operator()(T* AObject) const {
    if (AFree) AFree(AObject);
  }
};

using TCodecContextPtr = std::unique_ptr<AVCodecContext, TFreeByAddress<av::avcodec_free_context>>;
using TFramePtr = std::unique_ptr<AVFrame, TFreeByAddress<av::av_frame_free>>;
using TPacketPtr = std::unique_ptr<AVPacket, TFreeByAddress<av::av_packet_free>>;
using TDictionaryPtr = std::unique_ptr<AVDictionary, TFreeByAddress<av::av_dict_free>>;
using TFilterGraphPtr = std::unique_ptr<AVFilterGraph, TFreeByAddress<av::avfilter_graph_free>>;
using TSwrContextPtr = std::unique_ptr<SwrContext, TFreeByAddress<av::swr_free>>;
using TSwsContextPtr = std::unique_ptr<SwsContext, TFreeByValue<av::sws_freeContext>>;
using TFormatContextPtr =
    std::unique_ptr<AVFormatContext, TFreeByAddress<av::avformat_close_input>>;
using TAVBufferPtr = std::unique_ptr<uint8_t, TFreeByValue<av::av_free>>;

}  // namespace kiv
