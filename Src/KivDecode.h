// The decoder component: opening media files and URLs, stream information and the file
// report (TCustomDecoder), and decoding (TKivDecoder).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AVCodecStubs.h"
#include "AVFormatStubs.h"
#include "AVUtilStubs.h"
#include "KivBaseComponent.h"
#include "KivTypes.h"

namespace kiv {

class TKivOptions;

// The file as a whole.
struct TFileStreamInfo {
  int64_t StartTime = AV_NOPTS_VALUE;  // microseconds
  int64_t Duration = -1;               // microseconds
  int32_t BitRate = -1;
  int32_t Year = -1;
  int32_t Track = -1;
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

struct TAudioStreamInfo {
  std::string Language;
  std::string CodecName;
  int64_t StartTime = -1;  // stream time base
  int64_t StartTimeScaled = -1;  // microseconds
  int64_t Duration = -1;
  int64_t DurationScaled = -1;
  int32_t BitRate = -1;
  int32_t Channels = -1;
  int32_t SampleRate = -1;
  AVSampleFormat SampleFormat = AV_SAMPLE_FMT_NONE;
};

struct TVideoStreamInfo {
  std::string Language;
  std::string CodecName;
  int64_t StartTime = -1;
  int64_t StartTimeScaled = -1;
  int64_t Duration = -1;
  int64_t DurationScaled = -1;
  int32_t BitRate = -1;
  int32_t Height = -1;
  int32_t Width = -1;
  float SampleAspectRatio = -1.0f;
  float DisplayAspectRatio = -1.0f;
  AVRational SAR{0, 1};
  AVRational DAR{0, 1};
  AVPixelFormat PixFmt = AV_PIX_FMT_NONE;
  AVRational FrameRate{0, 1};
};

struct TSubtitleStreamInfo {
  std::string Language;
  std::string CodecName;
  int32_t SubFormat = -1;  // 0 bitmap subtitles, 1 text subtitles
};

// A shallow copy of a program of the open file: its pointers stay valid while the file is open.
using TAVProgram = AVProgram;

using TBeforeFindStreamInfoEvent =
    std::function<void(TComponent* Sender, AVFormatContext* AFormatContext)>;

class TCustomDecoder : public TKivBaseComponent {
 public:
  explicit TCustomDecoder(TComponent* AOwner = nullptr);
  ~TCustomDecoder() override;

  std::string ClassName() const override { return "TCustomDecoder"; }

  bool AVLibLoaded() const;
  bool LoadAVLib(const TPathFileName& APath);
  void UnloadAVLib();

  bool LoadFile(const TPathFileName& AFileName, const std::string& AFormatName = "");
  virtual void CloseFile();
  virtual void RefreshFileInfo();

  AVFormatContext* FileHandle() const { return FFileHandle; }
  // Adopts a format context the caller opened; the decoder never closes it.
  virtual void SetFileHandle(AVFormatContext* AValue);

  bool opt_default(const std::string& opt, const std::string& arg);
  bool DefaultOptions(const std::string& AOptions);

  // Asks a blocking libavformat call in progress to give up (from any thread).
  void Interrupt() { FLastRead = 0; }

  const std::string& LastErrMsg() const { return FLastErrMsg; }
  const std::string& ForceFormat() const { return FForceFormat; }
  int64_t FileSize() const { return FFileSize; }
  int32_t StreamCount() const { return FStreamCount; }
  int32_t ProgramCount() const { return FProgramCount; }
  int32_t AudioStreamCount() const { return FAudioStreamCount; }
  int32_t VideoStreamCount() const { return FVideoStreamCount; }
  int32_t SubtitleStreamCount() const { return FSubtitleStreamCount; }
  int32_t FirstAudioStreamIndex() const { return FFirstAudioStreamIndex; }
  int32_t FirstVideoStreamIndex() const { return FFirstVideoStreamIndex; }
  int32_t FirstSubtitleStreamIndex() const { return FFirstSubtitleStreamIndex; }
  bool TriggerEventInMainThread() const { return FTriggerEventInMainThread; }
  void SetTriggerEventInMainThread(bool AValue) { FTriggerEventInMainThread = AValue; }
  bool GetLongCodecName() const { return FGetLongCodecName; }
  void SetGetLongCodecName(bool AValue) { FGetLongCodecName = AValue; }
  const TBeforeFindStreamInfoEvent& OnBeforeFindStreamInfo() const { return FOnBeforeFindStreamInfo; }
  void SetOnBeforeFindStreamInfo(TBeforeFindStreamInfoEvent AValue) {
    FOnBeforeFindStreamInfo = std::move(AValue);
  }
  TKivOptions& Options() { return *FOptions; }

  // Stream information.
  TFileStreamInfo FileStreamInfo();
  TAudioStreamInfo GetAudioStreamInfos(int32_t Index);
  TVideoStreamInfo GetVideoStreamInfos(int32_t Index);
  TSubtitleStreamInfo GetSubtitleStreamInfos(int32_t Index);
  TAudioStreamInfo FirstAudioStreamInfo() { return GetAudioStreamInfos(-1); }
  TVideoStreamInfo FirstVideoStreamInfo() { return GetVideoStreamInfos(-1); }
  TSubtitleStreamInfo FirstSubtitleStreamInfo() { return GetSubtitleStreamInfos(-1); }
  TAVProgram GetProgrames(int32_t Index);
  bool IsAudioStream(int32_t AStreamIndex);
  bool IsVideoStream(int32_t AStreamIndex);
  bool IsSubtitleStream(int32_t AStreamIndex);
  TPathFileName FileName();
  std::string FormatName();
  std::string FormatLongName();

  // The multi-line report of the open file, each line ended by CR LF.
  std::string FileInfoText();

 protected:
  // Stores the text in LastErrMsg and logs it at the level matching the FFmpeg level.
  void ReportError(int ALevel, const std::string& AMsg);
  void ReportErrorFmt(int ALevel, const char* AFormat, ...) __attribute__((format(printf, 3, 4)));

  // Marks the start of a call that may block on input, for the read time-out.
  void MarkRead();
  // Called when a successful open has fetched the scaler flags of the options.
  virtual void SwsFlagsFetched(uint32_t /*ASwsFlags*/) {}

  AVFormatContext* FFileHandle = nullptr;
  std::unique_ptr<TKivOptions> FOptions;
  bool FOwnHandle = false;
  std::string FLastErrMsg;
  std::string FForceFormat;
  int64_t FFileSize = -1;
  int32_t FStreamCount = -1;
  int32_t FProgramCount = -1;
  int32_t FAudioStreamCount = -1;
  int32_t FVideoStreamCount = -1;
  int32_t FSubtitleStreamCount = -1;
  int32_t FFirstAudioStreamIndex = -1;
  int32_t FFirstVideoStreamIndex = -1;
  int32_t FFirstSubtitleStreamIndex = -1;
  bool FTriggerEventInMainThread = true;
  bool FGetLongCodecName = true;
  // Start of the blocking call in progress (av_gettime_relative); 0 cancels it, INT64_MAX
  // suspends the time-out. Written by other threads to cancel.
  std::atomic<int64_t> FLastRead{INT64_MAX};
  TBeforeFindStreamInfoEvent FOnBeforeFindStreamInfo;

 private:
  static int InterruptCallback(void* AOpaque);
  // False, after reporting "file not loaded.", when no file is open.
  bool CheckFileLoaded();
  bool FailOpen();
  // The stream of Index for a typed getter, or null after reporting why there is none.
  AVStream* StreamForInfo(int32_t& Index, AVMediaType AType, int32_t AFirstIndex, const char* ATypeName);
  bool StreamTypeIs(int32_t AStreamIndex, AVMediaType AType);
  std::string StreamCodecName(const AVStream* AStream) const;
};

// Splits a command-line-like text into arguments: blanks separate, double quotes group,
// backslashes escape quotes as a C runtime reads a command line.
std::vector<std::string> SplitCommandLine(const std::string& AText);

}  // namespace kiv
