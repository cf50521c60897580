// One decoding context for one stream of an input: opening it, sending packets, receiving
// pictures or audio frames, and forgetting the input at a seek or after draining.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "AVCodecStubs.h"
#include "AVFormatStubs.h"
#include "KivAVPtr.h"

namespace kiv {

// Whether TDecoderThreads::Frames uses the codec's frame threads. Not under ThreadSanitizer:
// the codec's threads hand pictures and buffers over through the library's own atomics,
// which the checker cannot see, so every picture would be reported; the threads of this
// library are checked all the same, around a decoder on one thread.
#ifdef __SANITIZE_THREAD__
inline constexpr bool FrameThreadsInUse = false;
#else
inline constexpr bool FrameThreadsInUse = true;
#endif

// How a decoder spreads its work over threads.
enum class TDecoderThreads {
  LibraryDefault,  // what the codec options say
  One,             // pictures come out in step with the packets that complete them
  Frames,          // one picture per core at a time where the codec can; pictures come out
                   // later than the packets that complete them (see Completion)
};

// The packet that completed a picture, as a decoder on one thread reports it: the last packet
// sent before the picture came out (no times after the end of the input), and whether the
// picture is the first to come out since that packet was sent.
struct TCompletion {
  AVPacket Packet{};  // times, stream and byte position only
  bool FirstFromPacket = false;
};

class TKivStreamDecoder {
 public:
  TKivStreamDecoder();

  // Opens a decoder for stream AStreamIndex of AInput, with the codec options AOptionsFor
  // gives for the codec found (freed here), on the threads AThreads asks for. An empty text
  // on success, else why it failed.
  std::string Open(AVFormatContext* AInput, int32_t AStreamIndex,
                   const std::function<AVDictionary*(const AVCodec*)>& AOptionsFor,
                   TDecoderThreads AThreads);
  void Close();

  AVCodecContext* Context() const { return FContext.get(); }
  bool IsOpen() const { return FContext != nullptr; }
  // Open, and for this stream.
  bool Decodes(int32_t AStreamIndex) const { return FContext && FStreamIndex == AStreamIndex; }
  int32_t StreamIndex() const { return FStreamIndex; }

  // Hands the decoder a packet, or with null the end of its input; remembers the packet's
  // times and place. The library's result.
  int Send(const AVPacket* APacket);
  // The next decoded frame: avcodec_receive_frame's result.
  int Receive(AVFrame* AFrame);
  // The decoder took input since it last ran dry and may hold frames to hand out.
  bool Pending() const { return FPending; }
  void ClearPending() { FPending = false; }
  // Times and place of the last packet sent (no times after the end of the input).
  const AVPacket& LastSent() const { return FLastSent; }
  // The frame last received is the first one since the last packet was sent.
  bool FirstFromPacket() const { return FReceivedSincePacket == 1; }
  // The packet that completed the frame last received, as one thread would have reported
  // it. False where that cannot be told on frame threads: for a picture whose packet has no
  // decoding time or shares it with another packet in flight.
  bool Completion(TCompletion& ACompletion) const;

  // Makes the decoder forget its input, for a seek or after draining: flushed, or closed
  // where a flush would keep an outside library's parse state (it is then opened anew).
  void Forget();

 private:
  static constexpr size_t kMaxInFlight = 1024;

  bool FindCompletion(const AVFrame* AFrame);
  void ForgetInFlight();

  TCodecContextPtr FContext;
  int32_t FStreamIndex = -1;
  bool FPending = false;
  int FReceivedSincePacket = 0;
  AVPacket FLastSent{};

  // On frame threads: the packets sent and not yet known to be done with, oldest first, and
  // whether a picture came out for each; the end of the input sent; pictures since.
  struct TSent {
    int64_t Dts, Pts, Pos;
    bool Completed = false;
  };
  bool FOnFrameThreads = false;
  std::deque<TSent> FInFlight;
  bool FInputEnded = false;
  int FReceivedSinceEnd = 0;
  bool FCompletionKnown = false;
  TCompletion FCompletion;
};

}  // namespace kiv
