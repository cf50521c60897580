// One decoding context for one stream of an input: opening it, sending packets, receiving
// pictures or audio frames, and forgetting the input at a seek or after draining.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "AVCodecStubs.h"
#include "AVFormatStubs.h"
#include "KivAVPtr.h"

namespace kiv {

class TKivStreamDecoder {
 public:
  TKivStreamDecoder();

  // Opens a decoder for stream AStreamIndex of AInput, with the codec options AOptionsFor
  // gives for the codec found (freed here). AInStep: pictures come out in step with the
  // packets that complete them (one thread). An empty text on success, else why it
  // failed.
  std::string Open(AVFormatContext* AInput, int32_t AStreamIndex,
                   const std::function<AVDictionary*(const AVCodec*)>& AOptionsFor, bool AInStep);
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

  // Makes the decoder forget its input, for a seek or after draining: flushed, or closed
  // where a flush would keep an outside library's parse state (it is then opened anew).
  void Forget();

 private:
  TCodecContextPtr FContext;
  int32_t FStreamIndex = -1;
  bool FPending = false;
  int FReceivedSincePacket = 0;
  AVPacket FLastSent{};
};

}  // namespace kiv
