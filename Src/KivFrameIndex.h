// The frame index: every packet of each video stream of a file, read by demultiplexing alone
// on a second input of the same file, and the pictures' presentation order. Built on a
// background thread from the moment a file is opened; a question about a picture waits only
// until the part of the file that answers it has been read.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AVFormatStubs.h"
#include "AVUtilStubs.h"
#include "KivExport.h"

namespace kiv {

// One packet of a video stream; times in the stream's time base.
struct TFrameIndexEntry {
  int64_t PTS = AV_NOPTS_VALUE;  // presentation time (derived when the container has none)
  int64_t DTS = AV_NOPTS_VALUE;
  int64_t Position = -1;  // byte position of the packet
  int32_t Size = 0;
  int64_t Duration = 0;
  bool IsKeyFrame = false;
  AVPictureType PictureType = AV_PICTURE_TYPE_NONE;  // where the stream's parser knows it
  int32_t DecodeIndex = -1;                          // place in decoding (file) order
  bool PTSDerived = false;  // the container gave no presentation time: derived from the order
};

// Where the pictures of an index come from: the file and how it was opened.
struct TFrameIndexSource {
  std::string Url;
  std::string FormatName;                      // forced input format, empty to probe
  std::map<std::string, std::string> Options;  // format options the file was opened with
  unsigned StreamCount = 0;                    // the streams the decoder's input found
  std::vector<AVMediaType> StreamTypes;
};

// Opens the file of ASource a second time, probed as the decoder's input was, with
// AInterrupt as its interrupt callback; null when that fails or the streams differ from the
// decoder's. Close with avformat_close_input.
AVFormatContext* OpenSecondInput(const TFrameIndexSource& ASource, AVIOInterruptCB AInterrupt);

class KIV_API TKivFrameIndex {
 public:
  // Starts reading at once on its own thread.
  explicit TKivFrameIndex(TFrameIndexSource ASource);
  // Cancels the reading and waits for the thread to end (promptly: the input is interrupted).
  ~TKivFrameIndex();
  TKivFrameIndex(const TKivFrameIndex&) = delete;
  TKivFrameIndex& operator=(const TKivFrameIndex&) = delete;

  // False once it is known that no index can be built (the input could not be opened a second
  // time, or it differs from the decoder's); waits until that is known.
  bool Usable(int32_t AStreamIndex);
  // True once every packet has been read; never waits.
  bool Complete() const;
  // Waits until the whole file is indexed (or the index failed).
  void WaitComplete();

  // Number of pictures of the stream; -1 until the index is complete. Never waits.
  int64_t FrameCount(int32_t AStreamIndex) const;
  // Entry of picture ANumber (presentation order); false when there is none. Waits for it.
  bool Entry(int32_t AStreamIndex, int64_t ANumber, TFrameIndexEntry& AEntry);
  // Number of the first picture whose presentation time is at or after APTS; the last
  // picture's number when all are earlier; -1 for an empty stream. Waits for it.
  int64_t NumberAtOrAfter(int32_t AStreamIndex, int64_t APTS);
  // Number of the picture with exactly this presentation time, -1 when none; never waits (-1
  // while that part is not indexed yet). Pictures whose time was derived are not matched.
  int64_t TryNumberOfPTS(int32_t AStreamIndex, int64_t APTS) const;
  // Number of the next key frame after / the last key frame before picture ANumber, -1 when
  // there is none. Wait for what they need.
  int64_t NextKeyFrame(int32_t AStreamIndex, int64_t ANumber);
  int64_t PreviousKeyFrame(int32_t AStreamIndex, int64_t ANumber);
  // The key frame decoding has to start from to show picture ANumber exactly (a picture shown
  // before the key frame that precedes it in decoding order needs the key frame before that),
  // and that key frame's picture number. False when there is none.
  bool StartFor(int32_t AStreamIndex, int64_t ANumber, TFrameIndexEntry& AKey, int64_t& AKeyNumber);

  // Packets read so far, for progress reports; never waits.
  int64_t PacketsRead() const;

 private:
  struct TStreamIndex {
    std::vector<TFrameIndexEntry> Entries;  // decoding order
    std::vector<int32_t> Order;             // decode indices in presentation order
    int32_t Awaiting = -1;  // entry without a presentation time, waiting for the next one
    int64_t LastKeyPTS[2] = {AV_NOPTS_VALUE, AV_NOPTS_VALUE};  // of the last two key frames
  };

  void Run();
  void ReadPackets(AVFormatContext* AContext);
  void Add(int32_t AStreamIndex, TFrameIndexEntry AEntry);  // FMutex held
  void Place(TStreamIndex& AStream, int32_t ADecodeIndex);  // FMutex held
  void Finish(bool AUsable);
  static int InterruptCallback(void* AOpaque);

  // Whether the presentation order of the stream is final up to APTS / picture ANumber.
  bool SettledUpTo(const TStreamIndex& AStream, int64_t APTS) const;       // FMutex held
  bool NumberSettled(const TStreamIndex& AStream, int64_t ANumber) const;  // FMutex held
  // Waits until APredicate holds or the index is complete; false when it is not usable.
  template <typename TPredicate>
  bool WaitFor(std::unique_lock<std::mutex>& ALock, int32_t AStreamIndex, TPredicate APredicate);
  // The entry of picture ANumber once that part is indexed (null when there is none); valid
  // while ALock is held.
  const TFrameIndexEntry* WaitForPicture(std::unique_lock<std::mutex>& ALock, int32_t AStreamIndex,
                                         int64_t ANumber);
  const TFrameIndexEntry& At(const TStreamIndex& AStream, int64_t ANumber) const {
    return AStream.Entries[size_t(AStream.Order[size_t(ANumber)])];
  }

  const TFrameIndexSource FSource;
  std::atomic<bool> FCancel{false};

  mutable std::mutex FMutex;
  std::condition_variable FChanged;    // signalled with FMutex as entries arrive and at the end
  std::vector<TStreamIndex> FStreams;  // guarded by FMutex
  bool FDone = false;                  // guarded by FMutex: reading has ended
  bool FUsable = true;                 // guarded by FMutex
  int64_t FPacketsRead = 0;            // guarded by FMutex

  std::thread FThread;  // last: starts once everything above is in place
};

}  // namespace kiv
