// Entry points of libavfilter, in binding order.
#pragma once

#include "StubSupport.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

// Retired in this generation (no longer exported, so not bound):
//   av_filter_next, avfilter_link_get_channels, avfilter_register_all.
// Successor bound instead: av_filter_iterate.

#define KIV_AVFILTER_ENTRY_POINTS(FN, EX) \
  FN(av_buffersink_get_frame_flags) \
  FN(av_buffersink_set_frame_size) \
  FN(av_buffersrc_add_frame) \
  FN(av_buffersrc_add_frame_flags) \
  FN(av_buffersrc_close) \
  FN(av_buffersrc_get_nb_failed_requests) \
  FN(av_buffersrc_parameters_alloc) \
  FN(av_buffersrc_parameters_set) \
  FN(avfilter_get_by_name) \
  FN(avfilter_graph_alloc) \
  FN(avfilter_graph_alloc_filter) \
  FN(avfilter_graph_config) \
  FN(avfilter_graph_create_filter) \
  FN(avfilter_graph_free) \
  FN(avfilter_graph_parse2) \
  FN(avfilter_graph_parse_ptr) \
  FN(avfilter_graph_queue_command) \
  FN(avfilter_graph_request_oldest) \
  FN(avfilter_graph_send_command) \
  FN(avfilter_graph_set_auto_convert) \
  FN(avfilter_init_str) \
  FN(avfilter_inout_alloc) \
  FN(avfilter_inout_free) \
  FN(avfilter_link) \
  FN(avfilter_pad_get_name) \
  FN(avfilter_pad_get_type) \
  FN(av_filter_iterate)

KIV_DECLARE_STUB_UNIT(AVFilterStubs, KIV_AVFILTER_ENTRY_POINTS)
