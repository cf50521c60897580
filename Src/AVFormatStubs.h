// Entry points of libavformat, in binding order.
#pragma once

#include "StubSupport.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
}

// Retired in this generation (no longer exported, so not bound):
//   av_apply_bitstream_filters, av_format_set_audio_codec, av_format_set_data_codec,
//   av_format_set_subtitle_codec, av_format_set_video_codec, av_iformat_next, av_oformat_next,
//   av_register_all, av_register_input_format, av_register_output_format,
//   av_stream_get_recommended_encoder_configuration.
// Successors bound instead: av_demuxer_iterate, av_muxer_iterate. av_guess_frame_rate is taken from the library, which alone sees the stream's internal codec context.

namespace kiv::av {
// Exported by libavformat without a public declaration.
using TSetPtsInfo = void (*)(AVStream* st, int pts_wrap_bits, unsigned int pts_num,
                             unsigned int pts_den);
// Exported only by some builds: a codec id for a picture file name, 0 for other names.
using TGuessImage2Codec = int (*)(const char* filename);
// Exported only by builds made for this library; nothing here calls them.
using TSetMemoryProtocolCallback = int (*)(void* callback);
using TResetMemoryProtocolCallback = void (*)();
}  // namespace kiv::av

#define KIV_AVFORMAT_ENTRY_POINTS(FN, EX) \
  FN(av_codec_get_id) \
  FN(av_codec_get_tag2) \
  FN(av_dump_format) \
  FN(av_filename_number_test) \
  FN(av_find_best_stream) \
  FN(av_find_input_format) \
  FN(av_find_program_from_stream) \
  FN(av_format_inject_global_side_data) \
  FN(av_guess_codec) \
  FN(av_guess_format) \
  FN(av_interleaved_write_frame) \
  FN(av_new_program) \
  FN(av_pkt_dump_log2) \
  FN(av_program_add_stream_index) \
  FN(av_read_frame) \
  FN(av_read_pause) \
  FN(av_read_play) \
  FN(av_sdp_create) \
  FN(av_seek_frame) \
  FN(av_stream_get_end_pts) \
  FN(av_stream_get_parser) \
  FN(av_stream_get_side_data) \
  FN(av_write_trailer) \
  FN(avformat_alloc_context) \
  FN(avformat_alloc_output_context2) \
  FN(avformat_close_input) \
  FN(avformat_find_stream_info) \
  FN(avformat_free_context) \
  FN(avformat_get_class) \
  FN(avformat_match_stream_specifier) \
  FN(avformat_network_deinit) \
  FN(avformat_network_init) \
  FN(avformat_new_stream) \
  FN(avformat_open_input) \
  FN(avformat_query_codec) \
  FN(avformat_seek_file) \
  FN(avformat_write_header) \
  FN(avio_check) \
  FN(avio_close) \
  FN(avio_close_dyn_buf) \
  FN(avio_closep) \
  FN(avio_feof) \
  FN(avio_find_protocol_name) \
  FN(avio_flush) \
  FN(avio_open) \
  FN(avio_open2) \
  FN(avio_open_dyn_buf) \
  FN(avio_printf) \
  FN(avio_read) \
  FN(avio_seek) \
  FN(avio_size) \
  FN(avio_w8) \
  FN(avio_write) \
  EX(avpriv_set_pts_info, "avpriv_set_pts_info", TSetPtsInfo, false) \
  EX(ff_guess_image2_codec, "ff_guess_image2_codec", TGuessImage2Codec, true) \
  EX(kivra_reset_memory_protocol_callback, "kivra_reset_memory_protocol_callback", TResetMemoryProtocolCallback, true) \
  EX(kivra_set_memory_protocol_callback, "kivra_set_memory_protocol_callback", TSetMemoryProtocolCallback, true) \
  FN(av_demuxer_iterate) \
  FN(av_muxer_iterate) \
  FN(av_guess_frame_rate)

KIV_DECLARE_STUB_UNIT(AVFormatStubs, KIV_AVFORMAT_ENTRY_POINTS)
