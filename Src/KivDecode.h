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
#include "KivUtils.h"

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
  int64_t StartTime = -1;        // stream time base
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
  const TBeforeFindStreamInfoEvent& OnBeforeFindStreamInfo() const {
    return FOnBeforeFindStreamInfo;
  }
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
  AVStream* StreamForInfo(int32_t& Index, AVMediaType AType, int32_t AFirstIndex,
                          const char* ATypeName);
  bool StreamTypeIs(int32_t AStreamIndex, AVMediaType AType);
  std::string StreamCodecName(const AVStream* AStream) const;
};

// One decoded picture, held in a private copy.
struct TFrameInfo {
  AVPixelFormat PixFmt = AV_PIX_FMT_NONE;
  int32_t Width = -1;
  int32_t Height = -1;
  bool IsKeyFrame = false;
  bool IsInterlaced = false;
  bool IsTopFieldFirst = false;
  AVPictureType PictureType = AV_PICTURE_TYPE_NONE;
  int64_t PTS = AV_NOPTS_VALUE;          // microseconds from the stream's start
  int64_t OriginalDTS = AV_NOPTS_VALUE;  // stream time base
  int64_t OriginalPTS = AV_NOPTS_VALUE;
  int32_t StreamIndex = -1;
  int64_t Position = -1;  // byte position of the packet
  bool Ready = false;
  AVPicture Picture;  // planes of the copy inside Buffer
  uint8_t* Buffer = nullptr;
  int32_t Size = 0;
  AVFrame* Frame = nullptr;  // the decoder's frame that delivered the picture
};

enum TDecodeType { dtBoth, dtVideo, dtAudio };
enum TDecodeResult { drVideo, drAudio, drError };

// Raised when a decoding or seeking call meets a format context the caller handed in.
class EReadOnlyHandle : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TCodecContextDeleter {
  void operator()(AVCodecContext* AContext) const;
};
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextDeleter>;
struct TFrameDeleter {
  void operator()(AVFrame* AFrame) const;
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;
struct TPacketDeleter {
  void operator()(AVPacket* APacket) const;
};
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;

class TKivDecoder : public TCustomDecoder {
 public:
  explicit TKivDecoder(TComponent* AOwner = nullptr);
  ~TKivDecoder() override;
  TKivDecoder(const TKivDecoder&) = delete;
  TKivDecoder& operator=(const TKivDecoder&) = delete;

  std::string ClassName() const override { return "TKivDecoder"; }

  void CloseFile() override;
  void RefreshFileInfo() override { TCustomDecoder::RefreshFileInfo(); }

  // Decodes the next picture of a video stream: -1 the stream chosen before, else the first
  // video stream; another value names the stream. True when FrameInfo holds a new picture.
  bool Decode(int32_t AStreamIndex = -1);

  bool CopyToBitmap(TBitmap& ABitmap);
  const TDIBDescriptor* GetBitmapPtr();

  // Seeking and stepping.
  virtual bool Seek(int64_t APTS, TSeekFlags ASeekFlags = TSeekFlags{});
  int64_t Position();
  bool DecodeNextKeyFrame(int32_t AStreamIndex = -1);
  bool DecodePreviousFrame(int32_t AStreamIndex = -1);
  bool DecodePreviousKeyFrame(int32_t AStreamIndex = -1);

  int BitmapBitsPixel() const { return FFormatConv->BitsPixel(); }
  void SetBitmapBitsPixel(int AValue) { FFormatConv->SetBitsPixel(AValue); }
  // The stream has ended (EOF is the C library's macro, hence the spelling).
  bool Eof() const { return FEOF; }
  const TFrameInfo& FrameInfo() const { return FPicture; }
  TFormatConverter& FormatConverter() { return *FFormatConv; }

 protected:
  void SwsFlagsFetched(uint32_t ASwsFlags) override;

  bool CheckOwnHandle();
  int32_t SelectVideoStream(int32_t AStreamIndex);
  AVCodecContext* OpenVideoCodec(int32_t AStreamIndex);
  void ResetFrameInfo();
  bool CanSeek();

  // The filter stage between the decoder and the held picture: the picture to store, or null
  // when the stage holds the picture back and wants more input.
  virtual AVFrame* FilterPicture(AVFrame* ADecoded) { return ADecoded; }
  // Drops whatever the filter stage has built.
  virtual void ResetFilters() {}

  std::unique_ptr<TFormatConverter> FFormatConv;
  TCodecContextPtr FVideoCodec;
  int32_t FVideoCodecIndex = -1;  // the stream FVideoCodec decodes
  int32_t FSeekIndex = -1;
  int32_t FDesireVideoIndex = -1;
  AVRational FFrameRate{0, 0};
  TFramePtr FDecodedFrame;
  TFramePtr FFilteredFrame;
  TPacketPtr FPacket;
  bool FEOF = false;
  bool FEOFpkt = false;
  // The decoder took a packet since it last ran dry and may hold pictures to hand out.
  bool FVideoPending = false;
  // Pictures received since the last packet was sent.
  int FPicturesFromPacket = 0;
  TFrameInfo FPicture;
  int64_t FLastPTS = AV_NOPTS_VALUE;
  AVPacket FLastSent{};  // times and place of the last packet sent to the video decoder

 private:
  // 1 when a picture was stored, 0 when the decoder needs input, AVERROR_EOF when drained,
  // another negative code on a decoding error.
  int ReceiveVideoPicture(AVCodecContext* ACodec);
  int SendVideoPacket(AVCodecContext* ACodec, AVPacket* APacket);
  void StorePicture(AVFrame* AFrame, const AVPacket& APacket, bool AFromLastPacket);
  std::string Where(const char* AOperation) const;
};

// FFmpeg's seek flags of a set of seek flags.
constexpr int ToAVSeekFlags(TSeekFlags AFlags) { return AFlags.Bits() & 0x0F; }

// Splits a command-line-like text into arguments: blanks separate, double quotes group,
// backslashes escape quotes as a C runtime reads a command line.
std::vector<std::string> SplitCommandLine(const std::string& AText);

}  // namespace kiv
