#include "KivUtilsOptions.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <utility>

#include "KivAVPtr.h"
#include "KivLog.h"
#include "SwResampleStubs.h"
#include "SwScaleStubs.h"

namespace kiv {

namespace {

constexpr int BothSearches = AV_OPT_SEARCH_CHILDREN | AV_OPT_SEARCH_FAKE_OBJ;

// An option whose own flags are 0 counts as unknown.
const AVOption* find_av_option(const AVClass* AClass, const char* AName, int AOptFlags,
                               int ASearchFlags) {
  const AVOption* option = av::av_opt_find(&AClass, AName, nullptr, AOptFlags, ASearchFlags);
  return option && option->flags != 0 ? option : nullptr;
}

// "+flag" and "-flag" for a flag option add to or remove from what was set before.
int dict_append_flag(const AVOption* AOption, const char* AValue) {
  return AOption->type == AV_OPT_TYPE_FLAGS && (AValue[0] == '-' || AValue[0] == '+')
             ? AV_DICT_APPEND
             : 0;
}

bool IsSwsGeometryOption(const char* AName) {
  static constexpr const char* names[] = {"srcw", "srch", "dstw", "dsth", "src_format",
                                          "dst_format"};
  return std::any_of(std::begin(names), std::end(names),
                     [&](const char* name) { return std::strcmp(AName, name) == 0; });
}

// Tries the value on a scratch context of the scaler or resampler.
template <typename TContextPtr>
int TryOnScratchContext(TContextPtr AContext, const char* AName, const char* AValue) {
  if (!AContext) return AVERROR(ENOMEM);
  return av::av_opt_set(AContext.get(), AName, AValue, 0);
}

// "debug" asks for the libraries' debug output: the process logger lets it through.
void RaiseLogLevelToDebug() { CurrentLogger().SetLogLevel(llDebug); }

}  // namespace

TKivOptions::~TKivOptions() { uninit_opts(); }

void TKivOptions::Replace(AVDictionary*& AField, AVDictionary* AValue) {
  if (AField != AValue && AField && av::av_dict_free) av::av_dict_free(&AField);
  AField = AValue;
}

void TKivOptions::init_opts() {
  uninit_opts();
  av::av_dict_set(&Fsws_dict, "flags", "bicubic", 0);
}

void TKivOptions::uninit_opts() {
  if (!av::av_dict_free) return;
  for (AVDictionary** dict : {&Fswr_opts, &Fsws_dict, &Fformat_opts, &Fcodec_opts, &Fresample_opts})
    av::av_dict_free(dict);
}

int32_t TKivOptions::opt_default(const std::string& opt, const std::string& arg) {
  return opt_default(opt.c_str(), arg.c_str());
}

int32_t TKivOptions::opt_default(const char* opt, const char* arg) {
  if (std::strcmp(opt, "debug") == 0 || std::strcmp(opt, "fdebug") == 0) RaiseLogLevelToDebug();

  char opt_stripped[128];
  const char* colon = std::strchr(opt, ':');
  size_t length = colon ? size_t(colon - opt) : std::strlen(opt);
  av::av_strlcpy(opt_stripped, opt, std::min(sizeof opt_stripped, length + 1));

  bool consumed = false;
  const AVOption* o;
  const AVClass* codecClass = av::avcodec_get_class();
  if ((o = find_av_option(codecClass, opt_stripped, 0, BothSearches)) ||
      ((opt[0] == 'v' || opt[0] == 'a' || opt[0] == 's') &&
       (o = find_av_option(codecClass, opt + 1, 0, AV_OPT_SEARCH_FAKE_OBJ)))) {
    av::av_dict_set(&Fcodec_opts, opt, arg, dict_append_flag(o, arg));
    consumed = true;
  }
  if ((o = find_av_option(av::avformat_get_class(), opt, 0, BothSearches))) {
    av::av_dict_set(&Fformat_opts, opt, arg, dict_append_flag(o, arg));
    if (consumed)
      av::av_log(nullptr, AV_LOG_VERBOSE,
                 "Routing option \"%s\" to both codec and muxer layer\n", opt);
    consumed = true;
  }
  if (!consumed && (o = find_av_option(av::sws_get_class(), opt, 0, BothSearches))) {
    int ret = TryOnScratchContext(TSwsContextPtr(av::sws_alloc_context()), opt, arg);
    if (IsSwsGeometryOption(opt)) {
      av::av_log(nullptr, AV_LOG_ERROR,
                 "Directly using swscale dimensions/format options is not supported, please "
                 "use the -s or -pix_fmt options\n");
      return AVERROR(EINVAL);
    }
    if (ret < 0) {
      av::av_log(nullptr, AV_LOG_ERROR, "Error setting option \"%s\"\n", opt);
      return ret;
    }
    av::av_dict_set(&Fsws_dict, opt, arg, dict_append_flag(o, arg));
    consumed = true;
  }
  if (!consumed && (o = find_av_option(av::swr_get_class(), opt, 0, BothSearches))) {
    int ret = TryOnScratchContext(TSwrContextPtr(av::swr_alloc()), opt, arg);
    if (ret < 0) {
      av::av_log(nullptr, AV_LOG_ERROR, "Error setting option \"%s\"\n", opt);
      return ret;
    }
    av::av_dict_set(&Fswr_opts, opt, arg, dict_append_flag(o, arg));
    consumed = true;
  }
  return consumed ? 0 : AVERROR_OPTION_NOT_FOUND;
}

int32_t TKivOptions::FetchSwsFlags() {
  AVDictionaryEntry* entry = av::av_dict_get(Fsws_dict, "sws_flags", nullptr, 0);
  if (!entry) return 0;
  // The evaluation logs its complaints with the object as context, so it gets a real scaler
  // context rather than the bare class, which a log callback would read past.
  TSwsContextPtr scaler(av::sws_alloc_context());
  if (!scaler) return AVERROR(ENOMEM);
  const AVOption* option = av::av_opt_find(scaler.get(), "sws_flags", nullptr, 0, 0);
  int flags = 0;
  int ret = option ? av::av_opt_eval_flags(scaler.get(), option, entry->value, &flags)
                   : AVERROR_OPTION_NOT_FOUND;
  if (ret < 0) {
    av::av_log(nullptr, AV_LOG_ERROR, "av_opt_eval_flags() failed");
    return ret;
  }
  Fsws_flags = uint32_t(flags);
  return 0;
}

POptionDef find_option_def(POptionDef AOptions, const char* AName) {
  const char* colon = std::strchr(AName, ':');
  size_t length = colon ? size_t(colon - AName) : std::strlen(AName);
  POptionDef po = AOptions;
  for (; po->name; ++po)
    if (std::strncmp(AName, po->name, length) == 0 && std::strlen(po->name) == length) break;
  return po;
}

void* grow_opts_array(void* AArray, int32_t AElemSize, int32_t& ACount, int32_t ANewCount) {
  if (ANewCount >= INT_MAX / AElemSize) throw EOptionError("Array too big.");
  if (ACount >= ANewCount) return AArray;
  auto* grown = static_cast<uint8_t*>(av::av_realloc_array(AArray, ANewCount, AElemSize));
  if (!grown) throw EOptionError("Could not alloc buffer.");
  std::memset(grown + size_t(ACount) * AElemSize, 0, size_t(ANewCount - ACount) * AElemSize);
  ACount = ANewCount;
  return grown;
}

void TKivOptions::add_option(POptionDef po, const char* key, const char* val) {
  TOptionGroup& group =
      (po->flags & (OPT_OFFSET | OPT_SPEC | OPT_PERFILE)) ? Foctx.file_opts : Foctx.global_opts;
  int32_t count = group.nb_opts;
  group.opts = static_cast<POption>(
      grow_opts_array(group.opts, int32_t(sizeof(TOption)), count, group.nb_opts + 1));
  group.opts[group.nb_opts] = TOption{po, key, val};
  group.nb_opts = count;
}

void TKivOptions::finish_options() {
  TOptionGroup& file = Foctx.file_opts;
  KivAssert(!file.sws_dict && !file.swr_opts && !file.codec_opts && !file.format_opts &&
                !file.resample_opts,
            "KivUtils");
  file.sws_dict = std::exchange(Fsws_dict, nullptr);
  file.swr_opts = std::exchange(Fswr_opts, nullptr);
  file.codec_opts = std::exchange(Fcodec_opts, nullptr);
  file.format_opts = std::exchange(Fformat_opts, nullptr);
  file.resample_opts = std::exchange(Fresample_opts, nullptr);
  init_opts();
}

void TKivOptions::init_parse_context() {
  uninit_parse_context();
  Foctx = TOptionParseContext{};
  init_opts();
}

void TKivOptions::uninit_parse_context() {
  TOptionGroup& file = Foctx.file_opts;
  av::av_freep(&file.opts);
  file.nb_opts = 0;
  for (AVDictionary** dict :
       {&file.codec_opts, &file.format_opts, &file.resample_opts, &file.sws_dict, &file.swr_opts})
    av::av_dict_free(dict);
  av::av_freep(&Foctx.global_opts.opts);
  Foctx.global_opts.nb_opts = 0;
  uninit_opts();
}

int32_t TKivOptions::parse_options(void* /*optctx*/, int32_t argc, char** argv,
                                   POptionDef options, const std::string& /*inout*/,
                                   bool AReturnOnInvalidOption) {
  KivAssert(options != nullptr, "KivUtils");  // a table ends with a row whose name is null
  av::av_log(nullptr, AV_LOG_DEBUG, "Parsing the options.\n");
  int32_t index = 0;
  while (index < argc) {
    const char* argument = argv[index++];
    av::av_log(nullptr, AV_LOG_DEBUG, "Reading option \"%s\" ... ", argument);

    if (argument[0] != '-' || argument[1] == '\0') {
      if (AReturnOnInvalidOption) {
        if (argument[0])
          av::av_log(nullptr, AV_LOG_ERROR, "Failed to parse options on \"%s\"\n", argument);
        else
          av::av_log(nullptr, AV_LOG_ERROR, "Failed to parse options\n");
        return AVERROR(EINVAL);
      }
      if (argument[0])
        av::av_log(nullptr, AV_LOG_ERROR,
                   "Invalid option \"%s\" found while parsing options, ignore\n", argument);
      else
        av::av_log(nullptr, AV_LOG_ERROR, "Invalid option found while parsing options, ignore\n");
      continue;
    }

    const char* name = argument + 1;
    POptionDef po = find_option_def(options, name);
    if (po->name) {
      const char* value = "1";
      if (po->flags & OPT_HAS_ARG) {
        value = index < argc ? argv[index] : nullptr;
        if (!value) {
          av::av_log(nullptr, AV_LOG_ERROR, "Missing argument for option \"%s\".\n", name);
          return AVERROR(EINVAL);
        }
        ++index;
      }
      add_option(po, name, value);
      av::av_log(nullptr, AV_LOG_DEBUG, "matched as option \"%s\" (%s) with argument \"%s\".\n",
                 po->name, po->help, value);
      continue;
    }

    const char* next = index < argc ? argv[index] : nullptr;
    if (next) {
      int32_t r = opt_default(name, next);
      if (r >= 0) {
        av::av_log(nullptr, AV_LOG_DEBUG, "matched as AVOption \"%s\" with argument \"%s\".\n",
                   name, next);
        ++index;
        continue;
      }
      if (r != AVERROR_OPTION_NOT_FOUND) {
        av::av_log(nullptr, AV_LOG_ERROR, "Error parsing option \"%s\" with argument \"%s\".\n",
                   name, next);
        return r;
      }
    }

    if (name[0] == 'n' && name[1] == 'o') {
      po = find_option_def(options, name + 2);
      if (po->name && (po->flags & OPT_BOOL)) {
        add_option(po, name, "0");
        av::av_log(nullptr, AV_LOG_DEBUG, "matched as option \"%s\" (%s) with argument 0.\n",
                   po->name, po->help);
        continue;
      }
    }

    av::av_log(nullptr, AV_LOG_ERROR, "Unrecognized option \"%s\".\n", name);
    if (AReturnOnInvalidOption) return AVERROR_OPTION_NOT_FOUND;
  }
  finish_options();
  av::av_log(nullptr, AV_LOG_DEBUG, "Finished parsing the options.\n");
  return 0;
}

int match_stream_spec(AVFormatContext* AContext, AVStream* AStream, const char* ASpec) {
  return av::avformat_match_stream_specifier(AContext, AStream, ASpec);
}

AVDictionary* stream_codec_opts(AVDictionary* ADict, AVCodecID ACodecId, AVFormatContext* AContext,
                                AVStream* AStream, const AVCodec* ACodec) {
  TDictionaryPtr result;
  int flags = AContext->oformat ? AV_OPT_FLAG_ENCODING_PARAM : AV_OPT_FLAG_DECODING_PARAM;
  const AVClass* codecClass = av::avcodec_get_class();
  if (!ACodec)
    ACodec = AContext->oformat ? av::avcodec_find_encoder(ACodecId) : av::avcodec_find_decoder(ACodecId);

  char prefix = 0;
  switch (AStream->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      prefix = 'v';
      flags |= AV_OPT_FLAG_VIDEO_PARAM;
      break;
    case AVMEDIA_TYPE_AUDIO:
      prefix = 'a';
      flags |= AV_OPT_FLAG_AUDIO_PARAM;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      prefix = 's';
      flags |= AV_OPT_FLAG_SUBTITLE_PARAM;
      break;
    default:
      break;
  }

  auto knows = [&](const AVClass* AClass, const char* AKey) {
    return av::av_opt_find(&AClass, AKey, nullptr, flags, AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
  };

  AVDictionaryEntry* entry = nullptr;
  while ((entry = av::av_dict_get(ADict, "", entry, AV_DICT_IGNORE_SUFFIX))) {
    char* colon = std::strchr(entry->key, ':');
    if (colon) {
      int match = match_stream_spec(AContext, AStream, colon + 1);
      if (match == 0) continue;
      if (match != 1) throw EOptionError("invalid stream specification");
      *colon = '\0';  // examined without its specifier, restored below
    }
    AVDictionary* raw = result.release();
    if (knows(codecClass, entry->key) || !ACodec ||
        (ACodec->priv_class && knows(ACodec->priv_class, entry->key)))
      av::av_dict_set(&raw, entry->key, entry->value, 0);
    else if (prefix && entry->key[0] == prefix && knows(codecClass, entry->key + 1))
      av::av_dict_set(&raw, entry->key + 1, entry->value, 0);
    result.reset(raw);
    if (colon) *colon = ':';
  }
  return result.release();
}

AVDictionary** stream_info_opts(AVFormatContext* AContext, AVDictionary* ACodecOpts) {
  unsigned count = AContext->nb_streams;
  if (count == 0) return nullptr;
  AVDictionary** opts = count < INT_MAX / sizeof(AVDictionary*)
                            ? static_cast<AVDictionary**>(av::av_mallocz(count * sizeof(AVDictionary*)))
                            : nullptr;
  if (!opts) {
    av::av_log(nullptr, AV_LOG_ERROR, "Could not alloc memory for stream options.\n");
    return nullptr;
  }
  try {
    for (unsigned i = 0; i < count; ++i)
      opts[i] = stream_codec_opts(ACodecOpts, AContext->streams[i]->codecpar->codec_id, AContext,
                                  AContext->streams[i], nullptr);
  } catch (...) {
    for (unsigned i = 0; i < count; ++i) av::av_dict_free(&opts[i]);
    av::av_freep(&opts);
    throw;
  }
  return opts;
}

}  // namespace kiv
