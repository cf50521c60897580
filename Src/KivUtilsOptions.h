// The option store of a decoder: scaler flags and option dictionaries filled by option name,
// a command-line style option parser, and per-stream codec option sets.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "AVCodecStubs.h"
#include "AVFormatStubs.h"
#include "AVUtilStubs.h"
#include "KivExport.h"
#include "KivTypes.h"

namespace kiv {

// Raised for option-array and stream-specifier errors.
class KIV_API EOptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Bits of TOptionDef::flags that the parser interprets.
inline constexpr int32_t OPT_HAS_ARG = 0x0001;
inline constexpr int32_t OPT_BOOL = 0x0002;
inline constexpr int32_t OPT_OFFSET = 0x2000;
inline constexpr int32_t OPT_SPEC = 0x4000;
inline constexpr int32_t OPT_PERFILE = 0x8000;

using Tfunc_arg = int32_t (*)(void* o, const char* opt, const char* arg);

union TOptionDefUnion {
  void* dst_ptr;
  Tfunc_arg func_arg;
  uint32_t off;
};

// One row of an option table; a row whose name is null ends the table.
struct TOptionDef {
  const char* name;
  int32_t flags;
  TOptionDefUnion u;
  const char* help;
  const char* argname;
};
using POptionDef = const TOptionDef*;

// One parsed option; key and val point into the caller's arguments or to constant texts.
struct TOption {
  POptionDef opt;
  const char* key;
  const char* val;
};
using POption = TOption*;

struct TOptionGroup {
  POption opts;
  int32_t nb_opts;
  AVDictionary* codec_opts;
  AVDictionary* format_opts;
  AVDictionary* resample_opts;
  AVDictionary* sws_dict;
  AVDictionary* swr_opts;
};

struct TOptionParseContext {
  TOptionGroup global_opts;
  TOptionGroup file_opts;
};
using POptionParseContext = TOptionParseContext*;

class KIV_API TKivOptions {
 public:
  TKivOptions() = default;
  ~TKivOptions();
  TKivOptions(const TKivOptions&) = delete;
  TKivOptions& operator=(const TKivOptions&) = delete;

  void init_opts();
  void uninit_opts();

  // 0 when some component took the option, a negative FFmpeg error code otherwise.
  int32_t opt_default(const char* opt, const char* arg);
  int32_t opt_default(const std::string& opt, const std::string& arg);

  int32_t FetchSwsFlags();

  void init_parse_context();
  void uninit_parse_context();
  int32_t parse_options(void* optctx, int32_t argc, char** argv, POptionDef options,
                        const std::string& inout, bool AReturnOnInvalidOption);

  uint32_t sws_flags() const { return Fsws_flags; }
  void Setsws_flags(uint32_t AValue) { Fsws_flags = AValue; }
  // The store owns its dictionaries: a setter frees the one it replaces.
  AVDictionary* sws_dict() const { return Fsws_dict; }
  void Setsws_dict(AVDictionary* AValue) { Replace(Fsws_dict, AValue); }
  AVDictionary* swr_opts() const { return Fswr_opts; }
  void Setswr_opts(AVDictionary* AValue) { Replace(Fswr_opts, AValue); }
  AVDictionary* format_opts() const { return Fformat_opts; }
  void Setformat_opts(AVDictionary* AValue) { Replace(Fformat_opts, AValue); }
  AVDictionary* codec_opts() const { return Fcodec_opts; }
  void Setcodec_opts(AVDictionary* AValue) { Replace(Fcodec_opts, AValue); }
  AVDictionary* resample_opts() const { return Fresample_opts; }
  void Setresample_opts(AVDictionary* AValue) { Replace(Fresample_opts, AValue); }
  // For library calls that consume entries of the format options in place.
  AVDictionary** format_opts_ref() { return &Fformat_opts; }

  POptionParseContext OptionParseContext() { return &Foctx; }

 private:
  static void Replace(AVDictionary*& AField, AVDictionary* AValue);
  void finish_options();
  void add_option(POptionDef po, const char* key, const char* val);

  uint32_t Fsws_flags = 4;  // SWS_BICUBIC
  AVDictionary* Fsws_dict = nullptr;
  AVDictionary* Fswr_opts = nullptr;
  AVDictionary* Fformat_opts = nullptr;
  AVDictionary* Fcodec_opts = nullptr;
  AVDictionary* Fresample_opts = nullptr;
  TOptionParseContext Foctx{};
};

// The row of AOptions whose name equals AName up to its first ":", or the terminating row.
KIV_API POptionDef find_option_def(POptionDef AOptions, const char* AName);

// Grows an array of AElemSize-byte elements from ACount to ANewCount zero-filled elements.
// Raises "Array too big." or "Could not alloc buffer.".
KIV_API void* grow_opts_array(void* AArray, int32_t AElemSize, int32_t& ACount, int32_t ANewCount);

// The codec options of ADict that apply to AStream's codec, as a new dictionary owned by the
// caller (null when none applies). Raises "invalid stream specification".
KIV_API AVDictionary* stream_codec_opts(AVDictionary* ADict, AVCodecID ACodecId,
                                        AVFormatContext* AContext, AVStream* AStream,
                                        const AVCodec* ACodec);

// One new dictionary per stream of AContext in an av_mallocz'd array owned by the caller; null
// when the context has no stream or the array cannot be allocated.
KIV_API AVDictionary** stream_info_opts(AVFormatContext* AContext, AVDictionary* ACodecOpts);

KIV_API int match_stream_spec(AVFormatContext* AContext, AVStream* AStream, const char* ASpec);

}  // namespace kiv
