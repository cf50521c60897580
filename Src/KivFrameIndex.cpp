#include "KivFrameIndex.h"

#include <algorithm>

#include "AVCodecStubs.h"
#include "KivAVPtr.h"
#include "KivLog.h"

namespace kiv {

namespace {

// Readers waiting for entries are woken after this many packets (and at every key frame).
constexpr int64_t NotifyEvery = 64;

}  // namespace

AVFormatContext* OpenSecondInput(const TFrameIndexSource& ASource, AVIOInterruptCB AInterrupt) {
  const AVInputFormat* format = nullptr;
  if (!ASource.FormatName.empty() &&
      !(format = av::av_find_input_format(ASource.FormatName.c_str())))
    return nullptr;
  AVFormatContext* context = av::avformat_alloc_context();
  if (!context) return nullptr;
  context->interrupt_callback = AInterrupt;
  AVDictionary* options = nullptr;
  for (const auto& [key, value] : ASource.Options)
    av::av_dict_set(&options, key.c_str(), value.c_str(), 0);
  // On failure the library frees the context itself.
  int ret = av::avformat_open_input(&context, ASource.Url.c_str(), format, &options);
  av::av_dict_free(&options);
  if (ret < 0) return nullptr;
  TFormatContextPtr owned(context);
  // The same probing as the decoder's input, so that the streams and the time stamps the
  // library derives for them (delays, missing decoding times) come out the same.
  if (av::avformat_find_stream_info(context, nullptr) < 0) return nullptr;
  if (context->nb_streams != ASource.StreamCount) return nullptr;
  for (unsigned i = 0; i < context->nb_streams; ++i)
    if (i < ASource.StreamTypes.size() &&
        context->streams[i]->codecpar->codec_type != ASource.StreamTypes[i])
      return nullptr;
  return owned.release();
}

TKivFrameIndex::TKivFrameIndex(TFrameIndexSource ASource)
    : FSource(std::move(ASource)), FThread([this] { Run(); }) {}

TKivFrameIndex::~TKivFrameIndex() {
  FCancel = true;
  if (FThread.joinable()) FThread.join();
}

int TKivFrameIndex::InterruptCallback(void* AOpaque) {
  return static_cast<TKivFrameIndex*>(AOpaque)->FCancel.load() ? 1 : 0;
}

void TKivFrameIndex::Run() {
  // The decoder reports on its own input whatever the library has to say about the file.
  TQuietLibraryLog quiet;
  TFormatContextPtr input(OpenSecondInput(FSource, {InterruptCallback, this}));
  if (!input) {
    Finish(false);
    return;
  }
  ReadPackets(input.get());
}

void TKivFrameIndex::ReadPackets(AVFormatContext* AContext) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FStreams.resize(AContext->nb_streams);
  }
  TPacketPtr packet(av::av_packet_alloc());
  if (!packet) {
    Finish(false);
    return;
  }
  while (!FCancel) {
    int ret = av::av_read_frame(AContext, packet.get());
    if (ret == AVERROR(EAGAIN)) continue;
    if (ret < 0) break;  // the end of the file, or where the decoder's reading will end too
    const int32_t index = packet->stream_index;
    if (index >= 0 && unsigned(index) < AContext->nb_streams &&
        AContext->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      AVStream* stream = AContext->streams[index];
      TFrameIndexEntry entry;
      entry.PTS = packet->pts;
      entry.DTS = packet->dts;
      entry.Position = packet->pos;
      entry.Size = packet->size;
      entry.Duration = packet->duration;
      entry.IsKeyFrame = (packet->flags & AV_PKT_FLAG_KEY) != 0;
      if (const AVCodecParserContext* parser = av::av_stream_get_parser(stream))
        entry.PictureType = AVPictureType(parser->pict_type);
      // Without reordering a picture is shown when it is decoded.
      if (entry.PTS == AV_NOPTS_VALUE && stream->codecpar->video_delay == 0 &&
          entry.DTS != AV_NOPTS_VALUE) {
        entry.PTS = entry.DTS;
        entry.PTSDerived = true;
      }
      std::lock_guard<std::mutex> lock(FMutex);
      Add(index, entry);
      if (++FPacketsRead % NotifyEvery == 0 || entry.IsKeyFrame) FChanged.notify_all();
    }
    av::av_packet_unref(packet.get());
  }
  Finish(!FCancel);
}

void TKivFrameIndex::Add(int32_t AStreamIndex, TFrameIndexEntry AEntry) {
  TStreamIndex& stream = FStreams[size_t(AStreamIndex)];
  AEntry.DecodeIndex = int32_t(stream.Entries.size());
  const bool derive = AEntry.PTS == AV_NOPTS_VALUE;
  if (derive) {
    // A reference picture of a stream with reordering whose container stores decoding times
    // only: it is shown when the next reference picture is decoded, which is when the decoder
    // hands it out, so it takes that picture's decoding time (pictures shown at once carry
    // their own time).
    if (stream.Awaiting >= 0) {
      TFrameIndexEntry& waiting = stream.Entries[size_t(stream.Awaiting)];
      waiting.PTS = AEntry.DTS;
      waiting.PTSDerived = true;
      if (waiting.PTS != AV_NOPTS_VALUE) Place(stream, stream.Awaiting);
    }
  }
  stream.Entries.push_back(AEntry);
  if (derive)
    stream.Awaiting = AEntry.DecodeIndex;
  else
    Place(stream, AEntry.DecodeIndex);
}

void TKivFrameIndex::Place(TStreamIndex& AStream, int32_t ADecodeIndex) {
  const TFrameIndexEntry& entry = AStream.Entries[size_t(ADecodeIndex)];
  const int64_t pts = entry.PTS;
  if (entry.IsKeyFrame) {
    AStream.LastKeyPTS[0] = AStream.LastKeyPTS[1];
    AStream.LastKeyPTS[1] = pts;
  }
  // Pictures arrive nearly in presentation order: the place is found from the end.
  auto at = AStream.Order.end();
  while (at != AStream.Order.begin() && AStream.Entries[size_t(*(at - 1))].PTS > pts) --at;
  AStream.Order.insert(at, ADecodeIndex);
}

void TKivFrameIndex::Finish(bool AUsable) {
  std::lock_guard<std::mutex> lock(FMutex);
  for (TStreamIndex& stream : FStreams) {
    if (stream.Awaiting < 0) continue;
    // The last reference picture is shown after everything decoded before it.
    TFrameIndexEntry& waiting = stream.Entries[size_t(stream.Awaiting)];
    int64_t latest = AV_NOPTS_VALUE;
    for (const TFrameIndexEntry& e : stream.Entries)
      if (e.DTS != AV_NOPTS_VALUE) latest = std::max(latest, e.DTS);
    if (latest != AV_NOPTS_VALUE) {
      waiting.PTS = latest + std::max<int64_t>(waiting.Duration, 1);
      waiting.PTSDerived = true;
      Place(stream, stream.Awaiting);
    }
    stream.Awaiting = -1;
  }
  FUsable = AUsable;
  FDone = true;
  FChanged.notify_all();
}

bool TKivFrameIndex::SettledUpTo(const TStreamIndex& AStream, int64_t APTS) const {
  // Every packet after the last key frame but one is shown after that key frame (pictures
  // shown before a key frame belong to the group just before it).
  return FDone || (AStream.LastKeyPTS[0] != AV_NOPTS_VALUE && APTS <= AStream.LastKeyPTS[0]);
}

bool TKivFrameIndex::NumberSettled(const TStreamIndex& AStream, int64_t ANumber) const {
  if (ANumber < 0) return true;
  if (size_t(ANumber) >= AStream.Order.size()) return FDone;
  return SettledUpTo(AStream, At(AStream, ANumber).PTS);
}

template <typename TPredicate>
bool TKivFrameIndex::WaitFor(std::unique_lock<std::mutex>& ALock, int32_t AStreamIndex,
                             TPredicate APredicate) {
  FChanged.wait(ALock, [&] {
    return FDone ||
           (size_t(AStreamIndex) < FStreams.size() && APredicate(FStreams[size_t(AStreamIndex)]));
  });
  return FUsable && AStreamIndex >= 0 && size_t(AStreamIndex) < FStreams.size();
}

bool TKivFrameIndex::Usable(int32_t AStreamIndex) {
  std::unique_lock<std::mutex> lock(FMutex);
  // Known once the input is open and its streams are checked, or when reading failed.
  FChanged.wait(lock, [&] { return FDone || !FStreams.empty(); });
  return FUsable && AStreamIndex >= 0 && size_t(AStreamIndex) < FStreams.size();
}

bool TKivFrameIndex::Complete() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FDone;
}

void TKivFrameIndex::WaitComplete() {
  std::unique_lock<std::mutex> lock(FMutex);
  FChanged.wait(lock, [&] { return FDone; });
}

int64_t TKivFrameIndex::FrameCount(int32_t AStreamIndex) const {
  std::lock_guard<std::mutex> lock(FMutex);
  if (!FDone || !FUsable || AStreamIndex < 0 || size_t(AStreamIndex) >= FStreams.size()) return -1;
  return int64_t(FStreams[size_t(AStreamIndex)].Order.size());
}

int64_t TKivFrameIndex::PacketsRead() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FPacketsRead;
}

const TFrameIndexEntry* TKivFrameIndex::WaitForPicture(std::unique_lock<std::mutex>& ALock,
                                                       int32_t AStreamIndex, int64_t ANumber) {
  if (ANumber < 0 || !WaitFor(ALock, AStreamIndex,
                              [&](const TStreamIndex& s) { return NumberSettled(s, ANumber); }))
    return nullptr;
  const TStreamIndex& stream = FStreams[size_t(AStreamIndex)];
  if (size_t(ANumber) >= stream.Order.size()) return nullptr;
  return &At(stream, ANumber);
}

bool TKivFrameIndex::Entry(int32_t AStreamIndex, int64_t ANumber, TFrameIndexEntry& AEntry) {
  std::unique_lock<std::mutex> lock(FMutex);
  const TFrameIndexEntry* entry = WaitForPicture(lock, AStreamIndex, ANumber);
  if (entry) AEntry = *entry;
  return entry != nullptr;
}

int64_t TKivFrameIndex::NumberAtOrAfter(int32_t AStreamIndex, int64_t APTS) {
  std::unique_lock<std::mutex> lock(FMutex);
  if (!WaitFor(lock, AStreamIndex, [&](const TStreamIndex& s) { return SettledUpTo(s, APTS); }))
    return -1;
  const TStreamIndex& stream = FStreams[size_t(AStreamIndex)];
  if (stream.Order.empty()) return -1;
  auto at = std::lower_bound(
      stream.Order.begin(), stream.Order.end(), APTS,
      [&](int32_t AIndex, int64_t APts) { return stream.Entries[size_t(AIndex)].PTS < APts; });
  if (at == stream.Order.end()) --at;
  return at - stream.Order.begin();
}

int64_t TKivFrameIndex::TryNumberOfPTS(int32_t AStreamIndex, int64_t APTS) const {
  if (APTS == AV_NOPTS_VALUE) return -1;
  std::lock_guard<std::mutex> lock(FMutex);
  if (!FUsable || AStreamIndex < 0 || size_t(AStreamIndex) >= FStreams.size()) return -1;
  const TStreamIndex& stream = FStreams[size_t(AStreamIndex)];
  if (!SettledUpTo(stream, APTS)) return -1;
  auto at = std::lower_bound(
      stream.Order.begin(), stream.Order.end(), APTS,
      [&](int32_t AIndex, int64_t APts) { return stream.Entries[size_t(AIndex)].PTS < APts; });
  if (at == stream.Order.end()) return -1;
  const TFrameIndexEntry& entry = stream.Entries[size_t(*at)];
  if (entry.PTS != APTS || entry.PTSDerived) return -1;
  return at - stream.Order.begin();
}

int64_t TKivFrameIndex::NextKeyFrame(int32_t AStreamIndex, int64_t ANumber) {
  std::unique_lock<std::mutex> lock(FMutex);
  int64_t found = -1;
  auto search = [&](const TStreamIndex& s) {
    for (int64_t n = std::max<int64_t>(ANumber + 1, 0); NumberSettled(s, n); ++n) {
      if (size_t(n) >= s.Order.size()) return true;  // the end: there is none
      if (At(s, n).IsKeyFrame) {
        found = n;
        return true;
      }
    }
    return false;
  };
  if (!WaitFor(lock, AStreamIndex, search)) return -1;
  found = -1;
  search(FStreams[size_t(AStreamIndex)]);
  return found;
}

int64_t TKivFrameIndex::PreviousKeyFrame(int32_t AStreamIndex, int64_t ANumber) {
  std::unique_lock<std::mutex> lock(FMutex);
  if (!WaitFor(lock, AStreamIndex,
               [&](const TStreamIndex& s) { return NumberSettled(s, ANumber); }))
    return -1;
  const TStreamIndex& stream = FStreams[size_t(AStreamIndex)];
  for (int64_t n = std::min<int64_t>(ANumber, int64_t(stream.Order.size())) - 1; n >= 0; --n)
    if (At(stream, n).IsKeyFrame) return n;
  return -1;
}

bool TKivFrameIndex::StartFor(int32_t AStreamIndex, int64_t ANumber, TFrameIndexEntry& AKey,
                              int64_t& AKeyNumber) {
  std::unique_lock<std::mutex> lock(FMutex);
  const TFrameIndexEntry* picture = WaitForPicture(lock, AStreamIndex, ANumber);
  if (!picture) return false;
  const TStreamIndex& stream = FStreams[size_t(AStreamIndex)];
  const TFrameIndexEntry& target = *picture;
  // The last key frame at or before the picture in decoding order; a picture shown before
  // that key frame may refer to pictures of the group before it.
  int32_t key = target.DecodeIndex;
  auto previousKey = [&](int32_t AFrom) {
    while (AFrom >= 0 && !stream.Entries[size_t(AFrom)].IsKeyFrame) --AFrom;
    return AFrom;
  };
  key = previousKey(key);
  if (key >= 0 && target.PTS < stream.Entries[size_t(key)].PTS) {
    int32_t earlier = previousKey(key - 1);
    key = earlier >= 0 ? earlier : 0;
  }
  if (key < 0) key = 0;  // no key frame before it: decoding starts with the stream
  AKey = stream.Entries[size_t(key)];
  auto at = std::lower_bound(
      stream.Order.begin(), stream.Order.end(), AKey.PTS,
      [&](int32_t AIndex, int64_t APts) { return stream.Entries[size_t(AIndex)].PTS < APts; });
  while (at != stream.Order.end() && *at != key) ++at;
  if (at == stream.Order.end()) return false;
  AKeyNumber = at - stream.Order.begin();
  return true;
}

}  // namespace kiv
