// Entry points of libavutil, in binding order.
#pragma once

#include "StubSupport.h"

#include <climits>
#include <cstdint>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/avstring.h>
#include <libavutil/bprint.h>
#include <libavutil/buffer.h>
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/eval.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
}

// Retired in this generation (no longer exported, so not bound):
//   av_frame_get_best_effort_timestamp, av_frame_get_channels, av_frame_get_decode_error_flags,
//   av_frame_get_pkt_duration, av_frame_get_pkt_pos.
// Successors: the AVFrame fields of the same names; bound instead: av_image_get_buffer_size and av_image_fill_arrays, the AVChannelLayout calls, av_log_format_line2.

#define KIV_AVUTIL_ENTRY_POINTS(FN, EX) \
  FN(av_asprintf) \
  FN(av_bprint_finalize) \
  FN(av_bprint_init) \
  FN(av_bprintf) \
  FN(av_buffer_create) \
  FN(av_buffer_default_free) \
  FN(av_buffer_ref) \
  FN(av_buffer_unref) \
  FN(av_compare_ts) \
  FN(av_default_item_name) \
  FN(av_dict_copy) \
  FN(av_dict_count) \
  FN(av_dict_free) \
  FN(av_dict_get) \
  FN(av_dict_parse_string) \
  FN(av_dict_set) \
  FN(av_dict_set_int) \
  FN(av_display_rotation_get) \
  FN(av_expr_eval) \
  FN(av_expr_free) \
  FN(av_expr_parse) \
  FN(av_fast_malloc) \
  FN(av_find_nearest_q_idx) \
  FN(av_fopen_utf8) \
  FN(av_force_cpu_flags) \
  FN(av_frame_alloc) \
  FN(av_frame_free) \
  FN(av_frame_get_buffer) \
  FN(av_frame_move_ref) \
  FN(av_frame_ref) \
  FN(av_frame_clone) \
  FN(av_frame_copy) \
  FN(av_frame_copy_props) \
  FN(av_frame_unref) \
  FN(av_free) \
  FN(av_freep) \
  FN(av_gcd) \
  FN(av_get_bytes_per_sample) \
  FN(av_get_channel_layout) \
  FN(av_get_channel_layout_nb_channels) \
  FN(av_get_channel_layout_string) \
  FN(av_get_cpu_flags) \
  FN(av_get_default_channel_layout) \
  FN(av_get_media_type_string) \
  FN(av_get_packed_sample_fmt) \
  FN(av_get_picture_type_char) \
  FN(av_get_pix_fmt) \
  FN(av_get_pix_fmt_name) \
  FN(av_get_sample_fmt) \
  FN(av_get_sample_fmt_name) \
  FN(av_get_token) \
  FN(av_gettime) \
  FN(av_gettime_relative) \
  FN(av_image_alloc) \
  FN(av_image_copy) \
  FN(av_image_fill_linesizes) \
  FN(av_int_list_length_for_size) \
  FN(av_log) \
  FN(av_log_default_callback) \
  FN(av_log_get_flags) \
  FN(av_log_set_callback) \
  FN(av_log_set_flags) \
  FN(av_log_set_level) \
  FN(av_vlog) \
  FN(av_malloc) \
  FN(av_mallocz) \
  FN(av_max_alloc) \
  FN(av_opt_eval_flags) \
  FN(av_opt_eval_int) \
  FN(av_opt_find) \
  FN(av_opt_free) \
  FN(av_opt_get_double) \
  FN(av_opt_ptr) \
  FN(av_opt_set) \
  FN(av_opt_set_bin) \
  FN(av_opt_set_dict) \
  FN(av_opt_set_dict2) \
  FN(av_opt_set_int) \
  FN(av_parse_cpu_caps) \
  FN(av_parse_ratio) \
  FN(av_parse_time) \
  FN(av_parse_video_rate) \
  FN(av_parse_video_size) \
  FN(av_pix_fmt_desc_get) \
  FN(av_realloc) \
  FN(av_realloc_array) \
  FN(av_realloc_f) \
  FN(av_reallocp_array) \
  FN(av_reduce) \
  FN(av_rescale) \
  FN(av_rescale_delta) \
  FN(av_rescale_q) \
  FN(av_rescale_q_rnd) \
  FN(av_samples_get_buffer_size) \
  FN(av_strcasecmp) \
  FN(av_strdup) \
  FN(av_strerror) \
  FN(av_strlcat) \
  FN(av_strlcatf) \
  FN(av_strlcpy) \
  FN(av_strstart) \
  FN(av_strtod) \
  FN(av_usleep) \
  FN(av_image_get_buffer_size) \
  FN(av_image_fill_arrays) \
  FN(av_channel_layout_default) \
  FN(av_channel_layout_compare) \
  FN(av_channel_layout_copy) \
  FN(av_channel_layout_uninit) \
  FN(av_channel_layout_describe) \
  FN(av_log_format_line2)

KIV_DECLARE_STUB_UNIT(AVUtilStubs, KIV_AVUTIL_ENTRY_POINTS)

// Helpers that FFmpeg defines as macros over bound entry points, defined here on the bound
// variables so that they never reach for the unlinked library.
#undef av_int_list_length
#undef av_opt_set_int_list

namespace kiv::av {

// Length of a list of elements ending in ATerm.
template <typename T>
unsigned av_int_list_length(const T* AList, uint64_t ATerm) {
  return av_int_list_length_for_size(sizeof(T), AList, ATerm);
}

// Sets a binary option from a terminated list; AVERROR(EINVAL) when it would not fit in an int.
template <typename T>
int av_opt_set_int_list(void* AObj, const char* AName, const T* AList, uint64_t ATerm,
                        int ASearchFlags) {
  unsigned length = av_int_list_length(AList, ATerm);
  if (length > INT_MAX / sizeof(T)) return AVERROR(EINVAL);
  return av_opt_set_bin(AObj, AName, reinterpret_cast<const uint8_t*>(AList),
                        static_cast<int>(length * sizeof(T)), ASearchFlags);
}

}  // namespace kiv::av
