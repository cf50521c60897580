// Entry points of libavcodec, in binding order.
#pragma once

#include "StubSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/avfft.h>
}

// Retired in this generation (no longer exported, so not bound):
//   av_bitstream_filter_close, av_bitstream_filter_filter, av_bitstream_filter_init,
//   av_codec_get_codec_descriptor, av_codec_get_lowres, av_codec_get_max_lowres,
//   av_codec_set_chroma_intra_matrix, av_codec_set_lowres, av_codec_set_pkt_timebase,
//   av_copy_packet, av_copy_packet_side_data, av_log_ask_for_sample, av_packet_split_side_data,
//   av_parser_change, av_picture_copy, avcodec_copy_context, avcodec_decode_audio4,
//   avcodec_decode_video2, avcodec_encode_audio2, avcodec_encode_video2,
//   avcodec_find_best_pix_fmt_of_2, avcodec_get_context_defaults3, avcodec_register_all,
//   avpicture_fill, avpicture_get_size.
// Successors bound instead: send/receive for decoding and encoding, av_packet_alloc/free/ref, avcodec_parameters_from_context. av_lockmgr_register is bound optionally: it exists only in older builds.

namespace kiv::av {
// The codec lock manager's registration of older builds: callback(mutex slot, operation).
using TLockManagerCallback = int (*)(void** mutex, int op);
// Declared in a header that needs the media SDK's own headers: AVQSVContext* (void).
using TQsvAllocContext = void* (*)();
using TLockMgrRegister = int (*)(TLockManagerCallback callback);
}  // namespace kiv::av

#define KIV_AVCODEC_ENTRY_POINTS(FN, EX) \
  FN(av_get_audio_frame_duration) \
  FN(av_get_bits_per_sample) \
  FN(av_get_exact_bits_per_sample) \
  FN(av_packet_get_side_data) \
  FN(av_packet_new_side_data) \
  FN(av_packet_rescale_ts) \
  FN(av_packet_unref) \
  FN(av_parser_close) \
  FN(av_parser_init) \
  EX(av_qsv_alloc_context, "av_qsv_alloc_context", TQsvAllocContext, false) \
  FN(avcodec_alloc_context3) \
  FN(avcodec_close) \
  FN(avcodec_decode_subtitle2) \
  FN(avcodec_default_get_buffer2) \
  FN(avcodec_descriptor_get) \
  FN(avcodec_descriptor_get_by_name) \
  FN(avcodec_encode_subtitle) \
  FN(avcodec_find_decoder) \
  FN(avcodec_find_decoder_by_name) \
  FN(avcodec_find_encoder) \
  FN(avcodec_find_encoder_by_name) \
  FN(avcodec_flush_buffers) \
  FN(avcodec_free_context) \
  FN(avcodec_get_class) \
  FN(avcodec_get_frame_class) \
  FN(avcodec_get_name) \
  FN(avcodec_open2) \
  FN(avcodec_parameters_to_context) \
  FN(avcodec_string) \
  FN(avsubtitle_free) \
  FN(av_init_packet) \
  FN(av_new_packet) \
  FN(av_rdft_init) \
  FN(av_rdft_calc) \
  FN(av_rdft_end) \
  EX(av_lockmgr_register, "av_lockmgr_register", TLockMgrRegister, true) \
  FN(avcodec_send_packet) \
  FN(avcodec_receive_frame) \
  FN(avcodec_send_frame) \
  FN(avcodec_receive_packet) \
  FN(av_packet_alloc) \
  FN(av_packet_free) \
  FN(av_packet_ref) \
  FN(av_packet_move_ref) \
  FN(avcodec_parameters_from_context)

KIV_DECLARE_STUB_UNIT(AVCodecStubs, KIV_AVCODEC_ENTRY_POINTS)
