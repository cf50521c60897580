// Decodes a group of pictures ahead of the steps, on a thread of its own with its own input
// and decoder (on the codec's frame threads), and hands the pictures over for keeping:
// stepping back into the group before the kept pictures then finds it decoded.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KivAVPtr.h"
#include "KivFrameIndex.h"
#include "KivPictureCache.h"

namespace kiv {

class TKivPrefetcher {
 public:
  struct TPicture {
    int64_t Number = -1;
    TFramePtr Frame;
    TPictureStamp Stamp;
  };

  // Pictures of stream AStreamIndex of ASource, numbered by AIndex (which must outlive this),
  // decoded with the codec options ACodecOptions. The thread starts with the first request.
  TKivPrefetcher(TFrameIndexSource ASource, int32_t AStreamIndex, TKivFrameIndex& AIndex,
                 std::map<std::string, std::string> ACodecOptions);
  // Cancels the work in progress (its reading is interrupted) and waits for the thread.
  ~TKivPrefetcher();
  TKivPrefetcher(const TKivPrefetcher&) = delete;
  TKivPrefetcher& operator=(const TKivPrefetcher&) = delete;

  // Asks for pictures AFirst up to (not including) AEnd, decoded from key frame AKey (picture
  // AFirst). Replaces a request not started yet; one in progress is finished first unless
  // it is for other pictures, which it then gives up. Nothing happens when that range is
  // already asked for.
  void Request(const TFrameIndexEntry& AKey, int64_t AFirst, int64_t AEnd);
  // Gives the work asked for up: a request not started is dropped, one in progress stops at
  // its next packet. The pictures decoded so far are still handed over. Never waits.
  void Abandon();
  // Whether picture ANumber is asked for and not yet handed over by TakeDecoded.
  bool Covers(int64_t ANumber) const;
  // Waits until the work asked for is done (or given up).
  void WaitIdle();
  // Waits until pictures are decoded that TakeDecoded has not taken yet, or until the work
  // asked for is done (or given up).
  void WaitForPictures();
  // The pictures decoded since the last call, moved to the caller. Never waits.
  std::vector<TPicture> TakeDecoded();

 private:
  struct TRequest {
    TFrameIndexEntry Key;
    int64_t First = -1;
    int64_t End = -1;
  };

  void Run();
  // Decodes one request; stops early when cancelled or superseded.
  void Decode(AVFormatContext* AInput, const TRequest& ARequest);
  bool Superseded() const;  // FMutex not held
  static int InterruptCallback(void* AOpaque);

  const TFrameIndexSource FSource;
  const int32_t FStreamIndex;
  TKivFrameIndex& FIndex;
  const std::map<std::string, std::string> FCodecOptions;
  std::atomic<bool> FCancel{false};

  mutable std::mutex FMutex;
  std::condition_variable FChanged;  // signalled with FMutex: a request, a picture, idle
  bool FHasRequest = false;          // guarded by FMutex: FRequest waits to be started
  TRequest FRequest;                 // guarded by FMutex
  bool FBusy = false;                // guarded by FMutex: FCurrent is being decoded
  TRequest FCurrent;                 // guarded by FMutex
  bool FAbandoned = false;           // guarded by FMutex: FCurrent is given up
  std::vector<TPicture> FDecoded;    // guarded by FMutex

  std::thread FThread;  // started by the first request, joined by the destructor
};

}  // namespace kiv
