#include "KivPrefetcher.h"

#include <sys/mman.h>

#include "KivAVCompat.h"
#include "KivInputCursor.h"
#include "KivLog.h"
#include "KivStreamDecoder.h"

namespace kiv {

namespace {

constexpr int kPlaneAlign = 64;  // rows aligned for the widest vector instructions

void UnmapPages(void* ASize, uint8_t* AData) { munmap(AData, reinterpret_cast<size_t>(ASize)); }

// A picture in buffers of its own. The decoder's frames belong to its buffer pool, which this
// thread frees with the decoder while the owner may still hold the pictures; a copy leaves
// the pool to this thread alone. The copy lives in pages mapped for it alone: kept pictures
// come and go by the hundred, and from the allocator's arenas their memory would not all go
// back to the system when they are dropped.
TFramePtr CopyOfFrame(const AVFrame* AFrame) {
  TFramePtr copy(av::av_frame_alloc());
  if (!copy) return nullptr;
  const AVPixelFormat format = AVPixelFormat(AFrame->format);
  const int size = av::av_image_get_buffer_size(format, AFrame->width, AFrame->height, kPlaneAlign);
  if (size <= 0) return nullptr;
  const size_t mapped = size_t(size) + AV_INPUT_BUFFER_PADDING_SIZE;
  void* pages = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) return nullptr;
  copy->buf[0] = av::av_buffer_create(static_cast<uint8_t*>(pages), size, UnmapPages,
                                      reinterpret_cast<void*>(mapped), 0);
  if (!copy->buf[0]) {
    munmap(pages, mapped);
    return nullptr;
  }
  copy->format = AFrame->format;
  copy->width = AFrame->width;
  copy->height = AFrame->height;
  if (av::av_image_fill_arrays(copy->data, copy->linesize, copy->buf[0]->data, format,
                               AFrame->width, AFrame->height, kPlaneAlign) < 0 ||
      av::av_frame_copy(copy.get(), AFrame) < 0 || av::av_frame_copy_props(copy.get(), AFrame) < 0)
    return nullptr;
  return copy;
}

}  // namespace

TKivPrefetcher::TKivPrefetcher(TFrameIndexSource ASource, int32_t AStreamIndex,
                               TKivFrameIndex& AIndex,
                               std::map<std::string, std::string> ACodecOptions)
    : FSource(std::move(ASource)),
      FStreamIndex(AStreamIndex),
      FIndex(AIndex),
      FCodecOptions(std::move(ACodecOptions)) {}

TKivPrefetcher::~TKivPrefetcher() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FCancel = true;
  }
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
}

int TKivPrefetcher::InterruptCallback(void* AOpaque) {
  return static_cast<TKivPrefetcher*>(AOpaque)->FCancel.load() ? 1 : 0;
}

void TKivPrefetcher::Request(const TFrameIndexEntry& AKey, int64_t AFirst, int64_t AEnd) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    auto same = [&](const TRequest& ARequest) {
      return ARequest.First == AFirst && ARequest.End == AEnd;
    };
    if ((FBusy && !FAbandoned && same(FCurrent)) || (FHasRequest && same(FRequest))) return;
    FRequest = {AKey, AFirst, AEnd};
    FHasRequest = true;
    if (!FThread.joinable()) FThread = std::thread([this] { Run(); });
  }
  FChanged.notify_all();
}

void TKivPrefetcher::Abandon() {
  std::lock_guard<std::mutex> lock(FMutex);
  FHasRequest = false;
  FAbandoned = FBusy;
}

bool TKivPrefetcher::Covers(int64_t ANumber) const {
  std::lock_guard<std::mutex> lock(FMutex);
  auto covers = [&](const TRequest& ARequest) {
    return ARequest.First <= ANumber && ANumber < ARequest.End;
  };
  if ((FBusy && !FAbandoned && covers(FCurrent)) || (FHasRequest && covers(FRequest))) return true;
  for (const TPicture& picture : FDecoded)
    if (picture.Number == ANumber) return true;
  return false;
}

void TKivPrefetcher::WaitIdle() {
  std::unique_lock<std::mutex> lock(FMutex);
  FChanged.wait(lock, [&] { return !FBusy && !FHasRequest; });
}

void TKivPrefetcher::WaitForPictures() {
  std::unique_lock<std::mutex> lock(FMutex);
  FChanged.wait(lock, [&] { return !FDecoded.empty() || (!FBusy && !FHasRequest); });
}

std::vector<TKivPrefetcher::TPicture> TKivPrefetcher::TakeDecoded() {
  std::lock_guard<std::mutex> lock(FMutex);
  std::vector<TPicture> taken;
  taken.swap(FDecoded);
  return taken;
}

bool TKivPrefetcher::Superseded() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FAbandoned ||
         (FHasRequest && (FRequest.First != FCurrent.First || FRequest.End != FCurrent.End));
}

void TKivPrefetcher::Run() {
  // The decoder reports on its own input whatever the library has to say about the file.
  TQuietLibraryLog quiet;
  TFormatContextPtr input(OpenSecondInput(FSource, {InterruptCallback, this}));
  while (true) {
    TRequest request;
    {
      std::unique_lock<std::mutex> lock(FMutex);
      FChanged.wait(lock, [&] { return FCancel || FHasRequest; });
      if (FCancel) break;
      request = FRequest;
      FHasRequest = false;
      FCurrent = request;
      FAbandoned = false;
      FBusy = input != nullptr;  // without an input every request is given up at once
    }
    if (input) Decode(input.get(), request);
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FBusy = false;
    }
    FChanged.notify_all();
  }
  std::lock_guard<std::mutex> lock(FMutex);
  FBusy = FHasRequest = false;
  FChanged.notify_all();
}

void TKivPrefetcher::Decode(AVFormatContext* AInput, const TRequest& ARequest) {
  const AVStream* stream = AInput->streams[FStreamIndex];
  TKivStreamDecoder decoder;
  const std::string failure = decoder.Open(
      AInput, FStreamIndex,
      [&](const AVCodec*) {
        AVDictionary* options = nullptr;
        for (const auto& [key, value] : FCodecOptions)
          av::av_dict_set(&options, key.c_str(), value.c_str(), 0);
        return options;
      },
      TDecoderThreads::Frames);
  TKivInputCursor cursor([] {}, [] {});
  TPacketPtr packet(av::av_packet_alloc());
  TFramePtr frame(av::av_frame_alloc());
  if (!failure.empty() || !packet || !frame ||
      !cursor.PositionAt(AInput, FStreamIndex, ARequest.Key))
    return;

  // Numbered as the decoder numbers its pictures: by presentation time where the index knows
  // it, else by counting from the key frame; pictures shown before the key frame are dropped.
  int64_t next = ARequest.First;
  int64_t discardBefore = ARequest.Key.PTSDerived ? AV_NOPTS_VALUE : ARequest.Key.PTS;
  bool ended = false;
  while (!FCancel && !Superseded() && next < ARequest.End) {
    if (!ended) {
      int ret = cursor.Read(AInput, packet.get());
      if (ret == AVERROR(EAGAIN)) continue;
      if (ret < 0) {
        ended = true;
        TagPacketForReorder(decoder.Context(), nullptr);
        decoder.Send(nullptr);
      } else {
        const bool ours = packet->stream_index == FStreamIndex;
        if (ours) {
          TagPacketForReorder(decoder.Context(), packet.get());
          decoder.Send(packet.get());
        }
        av::av_packet_unref(packet.get());
        if (!ours) continue;
      }
    }
    int ret = 0;
    while (next < ARequest.End && (ret = decoder.Receive(frame.get())) >= 0) {
      frame->pts = frame->best_effort_timestamp;
      if (discardBefore != AV_NOPTS_VALUE) {
        if (frame->pts != AV_NOPTS_VALUE && frame->pts < discardBefore) {
          av::av_frame_unref(frame.get());
          continue;
        }
        discardBefore = AV_NOPTS_VALUE;
      }
      int64_t number = FIndex.TryNumberOfPTS(FStreamIndex, frame->pts);
      if (number < 0) number = next;
      next = number + 1;
      // A picture whose stamp cannot be told is left to the decoder that steps to it.
      TCompletion completion;
      if (number >= ARequest.First && number < ARequest.End && decoder.Completion(completion)) {
        TPicture picture;
        picture.Number = number;
        picture.Stamp =
            StampPicture(frame.get(), completion.Packet, completion.FirstFromPacket, stream);
        picture.Frame = CopyOfFrame(frame.get());
        // The decoder's frame lets go of what it shares with the copy before the copy is
        // handed over.
        av::av_frame_unref(frame.get());
        if (picture.Frame) {
          {
            std::lock_guard<std::mutex> lock(FMutex);
            FDecoded.push_back(std::move(picture));
          }
          FChanged.notify_all();
        }
      }
      av::av_frame_unref(frame.get());
    }
    if (ended && next < ARequest.End && ret < 0) break;  // drained: nothing more comes
  }
}

}  // namespace kiv
