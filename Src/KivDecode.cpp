#include "KivDecode.h"

#include <strings.h>

#include <cstdarg>

#include "KivDecodeInternal.h"
#include "KivLoad.h"
#include "KivLog.h"
#include "KivMainThread.h"
#include "KivUtils.h"
#include "MyUtils.h"
#include "libavutil_error.h"

namespace kiv {

int64_t OpenFileSize(AVFormatContext* AContext) {
  int64_t size = 0;
  if (!(AContext->iformat && (AContext->iformat->flags & AVFMT_NOFILE)))
    size = AContext->pb ? std::max<int64_t>(av::avio_size(AContext->pb), 0) : 0;
  if (size <= 0 && AContext->url) {
    TPathFileName name = DecodeFileName(AContext->url);
    if (FileExists(name)) size = FileSizeOf(name);
  }
  return size;
}

bool IsImage2(const AVFormatContext* AContext) {
  return AContext->iformat && strcasecmp(AContext->iformat->name, "image2") == 0;
}

TCustomDecoder::TCustomDecoder(TComponent* AOwner)
    : TKivBaseComponent(AOwner), FOptions(std::make_unique<TKivOptions>()) {
  TCustomDecoder::RefreshFileInfo();
}

TCustomDecoder::~TCustomDecoder() { TCustomDecoder::CloseFile(); }

bool TCustomDecoder::AVLibLoaded() const { return KivLoader->Loaded(AVLibraries); }

bool TCustomDecoder::LoadAVLib(const TPathFileName& APath) {
  KivLoader->SetLibraryPath(APath);
  if (!KivLoader->Load(AVLibraries)) {
    FLastErrMsg = KivLoader->LastErrMsg();
    return false;
  }
  FOptions->init_opts();
  return true;
}

void TCustomDecoder::UnloadAVLib() {
  // The open file (and the work reading it in the background) lives in the libraries.
  CloseFile();
  // The option dictionaries live in the libraries' memory: free them while that is still
  // possible (the next LoadAVLib starts with fresh ones anyway).
  FOptions->uninit_opts();
  KivLoader->Unload(AVLibraries);
}

void TCustomDecoder::ReportError(int ALevel, const std::string& AMsg) {
  FLastErrMsg = AMsg;
  CurrentLogger().Log(this, ToLogLevel(ALevel), AMsg);
}

void TCustomDecoder::ReportErrorFmt(int ALevel, const char* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  std::string text = FormatV(AFormat, args);
  va_end(args);
  ReportError(ALevel, text);
}

// A cancel (0) stays in force until the next operation begins: the blocking calls that follow
// an aborted one in the same operation give up at once as well.
void TCustomDecoder::MarkRead() {
  int64_t mark = FLastRead;
  while (mark != 0 && !FLastRead.compare_exchange_weak(mark, av::av_gettime_relative())) {
  }
}

void TCustomDecoder::EndRead() {
  int64_t mark = FLastRead;
  while (mark != 0 && !FLastRead.compare_exchange_weak(mark, INT64_MAX)) {
  }
}

int TCustomDecoder::InterruptCallback(void* AOpaque) {
  auto* self = static_cast<TCustomDecoder*>(AOpaque);
  int64_t lastRead = self->FLastRead;
  // A cancel works with or without a time-out.
  if (lastRead != 0) {
    if (lastRead == INT64_MAX || self->ReadTimeout() <= 0) return 0;
    if (av::av_gettime_relative() - lastRead <= int64_t(self->ReadTimeout()) * 1000) return 0;
  }
  // Runs inside libavformat: nothing may unwind through it.
  try {
    CurrentLogger().Log(
        self, llInfo, lastRead != 0 ? "connecting/reading timeout" : "connecting/reading canceled");
  } catch (...) {
  }
  return 1;
}

bool TCustomDecoder::FailOpen() {
  FOptions->init_opts();
  CloseFile();
  return false;
}

bool TCustomDecoder::LoadFile(const TPathFileName& AFileName, const std::string& AFormatName) {
  KivLoader->CheckLibAV(AVLibraries);
  BeginOperation();
  CloseFile();
  if (!FOptions->sws_dict()) FOptions->init_opts();

  const AVInputFormat* format = nullptr;
  if (!AFormatName.empty()) {
    format = av::av_find_input_format(AFormatName.c_str());
    if (!format) {
      ReportErrorFmt(AV_LOG_ERROR, "Unknown input format: %s", AFormatName.c_str());
      return FailOpen();
    }
  }

  FFileHandle = av::avformat_alloc_context();
  if (!FFileHandle) {
    FLastErrMsg = ErrorText(AFileName, AVERROR(ENOMEM));
    return FailOpen();
  }
  FFileHandle->interrupt_callback = {InterruptCallback, this};
  FOwnHandle = true;
  FOpenedUrl = EncodeFileName(AFileName);
  FOpenedOptions.clear();
  for (AVDictionaryEntry* e = nullptr;
       (e = av::av_dict_get(FOptions->format_opts(), "", e, AV_DICT_IGNORE_SUFFIX));)
    FOpenedOptions[e->key] = e->value;
  MarkRead();
  int ret = av::avformat_open_input(&FFileHandle, FOpenedUrl.c_str(), format,
                                    FOptions->format_opts_ref());
  EndRead();
  if (ret < 0) {
    FLastErrMsg = ErrorText(AFileName, ret);
    return FailOpen();
  }

  AVDictionaryEntry* left = nullptr;
  while ((left = av::av_dict_get(FOptions->format_opts(), "", left, AV_DICT_IGNORE_SUFFIX)))
    CurrentLogger().Log(this, llError, "Option " + std::string(left->key) + " not found, ignored.");

  FFileHandle->flags |= AVFMT_FLAG_NONBLOCK;

  if (FOnBeforeFindStreamInfo) {
    auto raise = [this] { FOnBeforeFindStreamInfo(this, FFileHandle); };
    if (FTriggerEventInMainThread)
      RunInMainThread(raise);
    else
      raise();
  }

  try {
    unsigned probed = FFileHandle->nb_streams;
    AVDictionary** streamOpts = stream_info_opts(FFileHandle, FOptions->codec_opts());
    MarkRead();
    ret = av::avformat_find_stream_info(FFileHandle, streamOpts);
    EndRead();
    if (streamOpts) {
      for (unsigned i = 0; i < probed; ++i) av::av_dict_free(&streamOpts[i]);
      av::av_freep(&streamOpts);
    }
  } catch (...) {
    // An invalid stream specifier in the codec options: the caller gets the error, and the
    // decoder is left without a half-opened input.
    FailOpen();
    throw;
  }
  if (ret < 0) {
    FLastErrMsg = AFileName + ": could not find codec parameters";
    return FailOpen();
  }

  if (FFileHandle->pb) {
    FFileHandle->pb->eof_reached = 0;
    FFileHandle->pb->error = 0;
  }
  RefreshFileInfo();
  if (FOptions->FetchSwsFlags() >= 0) SwsFlagsFetched(FOptions->sws_flags());
  FOptions->init_opts();
  FForceFormat = AFormatName;
  FileLoaded();
  return true;
}

void TCustomDecoder::CloseFile() {
  FForceFormat.clear();
  FOpenedUrl.clear();
  FOpenedOptions.clear();
  if (FFileHandle) {
    if (FOwnHandle && av::avformat_close_input) av::avformat_close_input(&FFileHandle);
    FFileHandle = nullptr;
  }
  RefreshFileInfo();
}

void TCustomDecoder::SetFileHandle(AVFormatContext* AValue) {
  if (AValue == FFileHandle) return;
  KivLoader->CheckLibAV(AVLibraries);
  CloseFile();
  FOwnHandle = false;
  FFileHandle = AValue;
  RefreshFileInfo();
}

void TCustomDecoder::RefreshFileInfo() {
  FFileSize = FStreamCount = FProgramCount = -1;
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = -1;
  FFirstAudioStreamIndex = FFirstVideoStreamIndex = FFirstSubtitleStreamIndex = -1;
  if (!FFileHandle) return;

  FFileSize = OpenFileSize(FFileHandle);
  FStreamCount = int32_t(FFileHandle->nb_streams);
  FProgramCount = int32_t(FFileHandle->nb_programs);
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = 0;
  struct Counter {
    AVMediaType type;
    int32_t& count;
    int32_t& first;
  } counters[] = {{AVMEDIA_TYPE_VIDEO, FVideoStreamCount, FFirstVideoStreamIndex},
                  {AVMEDIA_TYPE_AUDIO, FAudioStreamCount, FFirstAudioStreamIndex},
                  {AVMEDIA_TYPE_SUBTITLE, FSubtitleStreamCount, FFirstSubtitleStreamIndex}};
  for (int32_t i = 0; i < FStreamCount; ++i) {
    AVMediaType type = FFileHandle->streams[i]->codecpar->codec_type;
    for (Counter& c : counters)
      if (c.type == type) {
        if (c.count++ == 0) c.first = i;
      }
  }
}

bool TCustomDecoder::opt_default(const std::string& opt, const std::string& arg) {
  if (!AVLibLoaded()) {
    ReportError(AV_LOG_ERROR, "FFmpeg libraries not loaded.");
    return false;
  }
  return FOptions->opt_default(opt, arg) == 0;
}

bool TCustomDecoder::DefaultOptions(const std::string& AOptions) {
  if (AOptions.empty()) return true;
  CurrentLogger().Log(this, llInfo, "ParseOptions: " + AOptions);
  std::vector<std::string> args = SplitCommandLine(AOptions);
  size_t count = args.size() - 1;  // the list ends with one empty marker
  bool result = true;
  size_t index = 0;
  while (index < count) {
    const std::string& argument = args[index++];
    if (argument.size() > 1 && argument[0] == '-') {
      if (!opt_default(argument.substr(1), args[std::min(index, count)])) result = false;
      ++index;
    } else {
      av::av_log(nullptr, AV_LOG_ERROR, "Invalid option found while parsing options, ignore\n");
    }
  }
  return result;
}

// Text is UTF-8 here, so no byte of a multi-byte character is a blank, quote or backslash and
// characters need no special treatment.
std::vector<std::string> SplitCommandLine(const std::string& AText) {
  std::vector<std::string> args;
  size_t i = 0, n = AText.size();
  auto blank = [&](size_t at) { return AText[at] == ' ' || AText[at] == '\t'; };
  while (true) {
    while (i < n && blank(i)) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !blank(i))) {
      size_t slashes = 0;
      while (i < n && AText[i] == '\\') {
        ++slashes;
        ++i;
      }
      if (i < n && AText[i] == '"') {
        arg.append(slashes / 2, '\\');
        if (slashes % 2) {
          arg += '"';
          ++i;
        } else if (quoted && i + 1 < n && AText[i + 1] == '"') {
          arg += '"';  // "" inside quotes: a literal quote, still quoted
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg.append(slashes, '\\');
        if (i < n && (quoted || !blank(i))) arg += AText[i++];
      }
    }
    args.push_back(std::move(arg));
  }
  args.emplace_back();
  return args;
}

}  // namespace kiv
