// The decoder component: opening media files and URLs, stream information and the file
// report (TCustomDecoder), and decoding (TKivDecoder).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AVCodecStubs.h"
#include "AVFilterStubs.h"
#include "AVFormatStubs.h"
#include "AVUtilStubs.h"
#include "KivAVPtr.h"
#include "KivBaseComponent.h"
#include "KivExport.h"
#include "KivFrameIndex.h"
#include "KivInputCursor.h"
#include "KivPictureCache.h"
#include "KivPrefetcher.h"
#include "KivStreamDecoder.h"
#include "KivTypes.h"
#include "KivUtils.h"
#include "SwResampleStubs.h"

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

class KIV_API TCustomDecoder : public TKivBaseComponent {
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

  // Asks a blocking libavformat call in progress to give up (from any thread), whatever the
  // read time-out; the rest of the operation it belongs to fails without blocking again.
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
  // Marks its end: the time-out is suspended until the next mark.
  void EndRead();
  // Marks the start of an operation that reads: a cancel left from the previous one ends.
  void BeginOperation() { FLastRead = INT64_MAX; }
  // Called when a successful open has fetched the scaler flags of the options.
  virtual void SwsFlagsFetched(uint32_t /*ASwsFlags*/) {}
  // Called at the end of a successful LoadFile.
  virtual void FileLoaded() {}

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
  // How the open file was opened: the name handed to the library and the format options.
  std::string FOpenedUrl;
  std::map<std::string, std::string> FOpenedOptions;

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
  // Language, codec name, times and bit rate of an audio or video record.
  template <typename TRecord>
  void FillCommon(TRecord& ARecord, AVStream* AStream) const;
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
class KIV_API EReadOnlyHandle : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A buffer of the media libraries' allocator, freed with it when it is still loaded.
struct KIV_API TAVBuffer {
  TAVBuffer() = default;
  ~TAVBuffer();
  TAVBuffer(const TAVBuffer&) = delete;
  TAVBuffer& operator=(const TAVBuffer&) = delete;
  uint8_t* Data = nullptr;
};

// The current block of decoded audio, in the output format.
struct TWaveInfo {
  int32_t Channels = 0;
  int32_t SampleRate = 0;
  AVSampleFormat SampleFormat = AV_SAMPLE_FMT_S16;
  int32_t BytesPerSample = 0;
  int32_t BytesPerSecond = 0;
  int64_t PTS = AV_NOPTS_VALUE;          // microseconds from the stream's start
  int64_t OriginalDTS = AV_NOPTS_VALUE;  // stream time base
  int64_t OriginalPTS = AV_NOPTS_VALUE;
  int32_t StreamIndex = -1;
  bool Ready = false;
  uint8_t* Buffer = nullptr;
  int32_t Size = 0;                   // bytes in the block
  int64_t Duration = AV_NOPTS_VALUE;  // microseconds
};

// The format of the audio coming out of the decoder, and the resampler from it to the output.
struct TAudioParam {
  int32_t freq = -1;
  int32_t channels = -1;
  // Always a native-order or an unspecified layout, which own no memory.
  AVChannelLayout channel_layout{};
  AVSampleFormat fmt = AV_SAMPLE_FMT_NONE;
  TSwrContextPtr swr_ctx;
  int32_t st_idx = -1;
};

class KIV_API TKivDecoder : public TCustomDecoder {
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

  // Decodes the streams AType selects until a picture (drVideo) or an audio block (drAudio)
  // is complete; drError otherwise.
  TDecodeResult Decode(TDecodeType AType);
  // Decodes the next packet of an audio stream (-1: the stream chosen before, else the first
  // audio stream) into a new block. True when WaveInfo holds a new block.
  bool DecodeAudio(int32_t AStreamIndex = -1);
  // Copies up to ACount bytes of decoded audio into ABuffer, decoding a new block when the
  // current one is used up; -1 when no block could be decoded. With ABuffer null it returns
  // what it would copy and consumes nothing.
  int32_t ReadAudio(uint8_t* ABuffer, int32_t ACount, int32_t AStreamIndex = -1);
  // Frees the resampler; the next frame that needs one builds it anew.
  virtual void ResetAudioResampler();

  bool CopyToBitmap(TBitmap& ABitmap);
  const TDIBDescriptor* GetBitmapPtr();

  // Seeking and stepping.
  virtual bool Seek(int64_t APTS, TSeekFlags ASeekFlags = TSeekFlags{});
  int64_t Position();
  bool DecodeNextKeyFrame(int32_t AStreamIndex = -1);
  bool DecodePreviousFrame(int32_t AStreamIndex = -1);
  bool DecodePreviousKeyFrame(int32_t AStreamIndex = -1);

  // Exact navigation on the frame index, which is read in the background from LoadFile on.
  // Pictures are numbered from 0 in presentation order. Where no index can be built (a pipe,
  // a live stream, an input handed in by the caller) or a filter graph is set, the stepping
  // calls keep their time-based search and these report that there is no index.
  //
  // The number of pictures of the current (else the first) video stream; -1 until known.
  int64_t FrameCount();
  // The number of the picture FrameInfo holds; -1 when none is held or it is not known.
  int64_t FrameNumber() const { return FPicture.Ready ? FPictureNumber : -1; }
  // Makes picture ANumber the current picture. True when FrameInfo holds it.
  bool DecodeFrame(int64_t ANumber, int32_t AStreamIndex = -1);
  // The index entry of picture ANumber (times in the stream's time base); false when there is
  // none. Waits until that part of the file is indexed.
  bool FrameIndexEntry(int64_t ANumber, TFrameIndexEntry& AEntry, int32_t AStreamIndex = -1);
  // The frame index of the open file, null when none is being built.
  TKivFrameIndex* FrameIndex() const { return FFrameIndex.get(); }
  // Memory in bytes the decoder may keep decoded pictures in, so that stepping back or going to
  // a picture decoded before costs no decoding (1 GiB by default; 0 keeps none).
  int64_t PictureCacheBudget() const { return FPictureCache.Budget(); }
  void SetPictureCacheBudget(int64_t AValue) { FPictureCache.SetBudget(AValue); }
  // The pictures kept now (for measurements and tests).
  const TKivPictureCache& PictureCache() const { return FPictureCache; }
  // The decoding ahead of backward steps, null until the first backward step needs it.
  TKivPrefetcher* Prefetcher() const { return FPrefetcher.get(); }
  // Whether files opened from now on are indexed (true by default).
  bool UseFrameIndex() const { return FUseFrameIndex; }
  void SetUseFrameIndex(bool AValue) { FUseFrameIndex = AValue; }

  int BitmapBitsPixel() const { return FFormatConv->BitsPixel(); }
  void SetBitmapBitsPixel(int AValue) { FFormatConv->SetBitsPixel(AValue); }
  // The stream has ended (EOF is the C library's macro, hence the spelling).
  bool Eof() const { return FEOF; }
  const TFrameInfo& FrameInfo() const { return FPicture; }
  TFormatConverter& FormatConverter() { return *FFormatConv; }
  const TWaveInfo& WaveInfo() const { return FWaveInfo; }
  // The filter graph description applied to every picture; empty for none.
  const std::string& VideoFilters() const { return Fvfilters; }
  void SetVideoFilters(const std::string& AValue);
  int32_t DesireAudioChannels() const { return FDesireAudioChannels; }
  void SetDesireAudioChannels(int32_t AValue);
  int32_t DesireAudioSampleRate() const { return FDesireAudioSampleRate; }
  void SetDesireAudioSampleRate(int32_t AValue);

 protected:
  void SwsFlagsFetched(uint32_t ASwsFlags) override;
  void FileLoaded() override;

  bool CheckOwnHandle();
  int32_t SelectVideoStream(int32_t AStreamIndex);
  AVCodecContext* OpenVideoCodec(int32_t AStreamIndex);
  void ResetFrameInfo();
  bool CanSeek();

  // The filter stage between the decoder and the held picture: the picture to store, or null
  // when the graph holds the picture back and wants more input.
  AVFrame* FilterPicture(AVFrame* ADecoded);
  // The next picture the graph still holds once the decoder is drained, or null.
  AVFrame* DrainFilterGraph();
  // Drops the filter graph; the next picture builds it anew.
  void ResetFilters();
  // Builds, keeps or drops the graph for AFilters; negative FFmpeg error code on failure.
  int ConfigureVideoFilters(const std::string& AFilters, AVStream* AStream);

  void ResetWaveInfo();
  int32_t SelectAudioStream(int32_t AStreamIndex);
  AVCodecContext* OpenAudioCodec(int32_t AStreamIndex);
  // 1 when a block was made, 0 when the packet gave no audio, negative when resampling failed.
  int DecodeAudioPacket(TAudioParam& AParam, AVCodecContext* ACodec, AVPacket* APacket);
  // Converts one frame and appends it to the block at AOffset: bytes appended, or negative.
  int ResampleAudioFrame(int32_t AOffset, AVFrame* AFrame, TAudioParam& AParam);

  std::unique_ptr<TFormatConverter> FFormatConv;
  TKivStreamDecoder FVideo;  // the video stream's decoder
  int32_t FSeekIndex = -1;
  int32_t FDesireVideoIndex = -1;
  AVRational FFrameRate{0, 0};
  TFramePtr FDecodedFrame;
  TFramePtr FFilteredFrame;
  TPacketPtr FPacket;
  bool FEOF = false;
  bool FEOFpkt = false;
  TFrameInfo FPicture;
  int64_t FLastPTS = AV_NOPTS_VALUE;
  // Picture numbers (presentation order): of the held picture, of the picture held before it,
  // of the next picture the decoder will hand out (-1 where unknown); pictures below
  // FSkipBelow are decoded but not kept, pictures shown before FDiscardBefore (stream time
  // base) are dropped: they precede the key frame decoding started from.
  int64_t FPictureNumber = -1;
  int64_t FLastNumber = -1;
  int64_t FNextNumber = -1;
  int64_t FSkipBelow = -1;
  int64_t FDecodedNumber = -1;
  int64_t FDiscardBefore = AV_NOPTS_VALUE;
  std::unique_ptr<TKivFrameIndex> FFrameIndex;
  TKivPictureCache FPictureCache;
  TFrameIndexSource FIndexSource;  // how the index (and the decoding ahead) open the file
  std::unique_ptr<TKivPrefetcher> FPrefetcher;
  TFramePtr FShownFromCache;  // a reference to the kept picture FrameInfo shows
  bool FUseFrameIndex = true;
  // The input's reading position, with the packet read ahead to check where a seek landed.
  TKivInputCursor FCursor{[this] { MarkRead(); }, [this] { EndRead(); }};

  std::string Fvfilters;
  std::string Flast_vfilters;  // the description of the graph in use; empty without one
  // Where the input of the graph ends: the time after the last picture fed to it, in the
  // stream's time base; AV_NOPTS_VALUE before the first.
  int64_t Ffilter_end_pts = AV_NOPTS_VALUE;
  bool Ffilter_ended = false;                  // the graph has been told that its input ended
  AVFilterContext* Fbuffersink_ctx = nullptr;  // owned by the graph
  AVFilterContext* Fbuffersrc_ctx = nullptr;
  TFilterGraphPtr Ffilter_graph;

  TWaveInfo FWaveInfo;
  int32_t FDesireAudioChannels = 2;
  int32_t FDesireAudioSampleRate = 44100;
  AVSampleFormat FDesireAudioSampleFormat = AV_SAMPLE_FMT_S16;
  AVChannelLayout FDesireChannelLayout{};  // no channels: derived at the next conversion
  int32_t FDesireAudioIndex = -1;
  TKivStreamDecoder FAudio;  // the audio stream's decoder
  TFramePtr FAudioDecodedFrame;
  TAVBuffer FAudioBuffer;
  int32_t FAudioSize = 0;
  TAVBuffer FResampledBuffer;
  unsigned int FResampledSize = 0;
  TAudioParam FAudioParam;
  int32_t FRemainsAudioSize = 0;

 private:
  // 1 when a picture was stored, 0 when the decoder needs input, AVERROR_EOF when drained,
  // another negative code on a decoding error.
  int ReceiveVideoPicture();
  int SendVideoPacket(AVCodecContext* ACodec, AVPacket* APacket);
  void StorePicture(AVFrame* AFrame, const AVPacket& APacket, bool AFromLastPacket);
  // The time and place of a picture from its frame and the packet that completed it (no
  // time when neither tells one).
  TPictureStamp StampOf(const AVFrame* AFrame, const AVPacket& APacket, bool AFromLastPacket);
  // Makes AFrame the held picture: a private copy, its marks and its stamp.
  void HoldPicture(AVFrame* AFrame, const TPictureStamp& AStamp, int64_t ANumber);
  // Keeps the pictures decoded ahead so far, dropping first those farthest from ACenter
  // where the budget is exceeded.
  void AdoptPrefetched(int64_t ACenter);
  // Asks for the group of pictures before the one picture ANumber is decoded from to be
  // decoded ahead, unless it is kept already.
  void PrefetchBefore(int32_t AStreamIndex, int64_t ANumber);
  // A step back from ACurrent to ATarget, which is not kept: the pictures from ATarget's key
  // frame up to ACurrent are decoded on the decoding-ahead threads, for the step to wait for.
  void PrefetchStepBack(int32_t AStreamIndex, int64_t ATarget, int64_t ACurrent);
  // The decoding ahead, started for stream AStreamIndex when there is none yet.
  TKivPrefetcher& PrefetcherFor(int32_t AStreamIndex);
  // Holds the kept picture ANumber; false when it is not kept.
  bool HoldKeptPicture(int64_t ANumber);
  // Decode's next picture when the held one came from the kept pictures, so the decoder
  // itself stands elsewhere: the picture after it, kept or decoded.
  bool DecodeAfterKeptPicture(int32_t AStreamIndex, const std::string& AWhere);
  std::string Where(const char* AOperation) const;
  // The stream a selection resolves to, or -1 after reporting why there is none.
  int32_t ResolveStream(int32_t AStreamIndex, int32_t ADesired, int32_t AFirst, AVMediaType AType,
                        const char* ATypeName);
  // Opens ADecoder for the stream (unless it decodes it already); its context, or null after
  // reporting why.
  AVCodecContext* OpenStreamCodec(TKivStreamDecoder& ADecoder, int32_t AStreamIndex,
                                  TDecoderThreads AThreads);
  // Drops the decoders' input, the held picture and audio block and the end-of-stream marks,
  // as every seek does before it moves the input.
  void ResetForSeek();
  // The frame index can answer for the stream (waits until that is known).
  bool IndexNavigable(int32_t AStreamIndex);
  // Makes picture ANumber the current picture, decoding on from where the decoder stands
  // when that is the shorter way, else from the key frame it needs.
  bool GoToPicture(int32_t AStreamIndex, int64_t ANumber, const std::string& AWhere);
  // Moves the input so that the next packet read is AKey; the decoders start afresh.
  bool PositionAtKeyFrame(int32_t AStreamIndex, const TFrameIndexEntry& AKey, int64_t AKeyNumber,
                          const std::string& AWhere);
  // Moves the input to a time (stream time base) as the library's seek does, retried in the
  // other direction; the library's result.
  int SeekInput(int64_t ATarget, TSeekFlags ASeekFlags);
  // The stepping calls take the frame index for the stream.
  bool UsesIndexFor(int32_t AStreamIndex);
  // The index-based forms of the stepping calls and of a time seek.
  bool IndexSeek(int64_t ATarget, TSeekFlags ASeekFlags, const std::string& AWhere);
  bool IndexNextKeyFrame(int32_t AStreamIndex);
  bool IndexPreviousKeyFrame(int32_t AStreamIndex);
  bool IndexPreviousFrame(int32_t AStreamIndex);
  // The number of a picture the decoder hands out with presentation time APTS.
  int64_t NumberOfDecoded(int64_t APTS) const;
  // True, after reporting "stream eof reached." for AWhere, when the stream has ended.
  bool StreamEnded(const std::string& AWhere);
  // The decoder's reusable packet, filled with the next packet of the input (the read
  // time-out applies); the read's result.
  int ReadPacket(AVPacket*& APacket);
  // avio_feof under the read time-out: true when the input has ended.
  bool InputAtEnd();
  // How a failed read ends a decoding call: false after reporting, true when the decoders
  // are now to be drained (the first failed read).
  bool HandleFailedRead(int ARet, const std::string& AWhere);
  // The input goes on after a failed read: the drained decoders (those set) start afresh and
  // their pointers are updated; false when one of them could not be opened again.
  bool ResumeAfterDrain(AVCodecContext** AVideo, AVCodecContext** AAudio);
  // The end-of-input packet of the audio stream: every frame the decoder still holds.
  int DrainAudio(AVCodecContext* ACodec, int32_t AStreamIndex);
  // Appends to the block at AOffset the samples the resampler still holds: bytes appended,
  // or negative.
  int FlushResampler(int32_t AOffset, TAudioParam& AParam);
  // Makes room for AOutCount output samples in the resampler's buffer; false after reporting.
  bool ReserveResampled(int AOutCount);
  // Puts ASize bytes at AOffset of the block: ASize, or negative after reporting.
  int AppendToBlock(int32_t AOffset, const uint8_t* ASource, int32_t ASize);
};

// FFmpeg's seek flags of a set of seek flags.
constexpr int ToAVSeekFlags(TSeekFlags AFlags) { return AFlags.Bits() & 0x0F; }

// Splits a command-line-like text into arguments: blanks separate, double quotes group,
// backslashes escape quotes as a C runtime reads a command line.
KIV_API std::vector<std::string> SplitCommandLine(const std::string& AText);

}  // namespace kiv
