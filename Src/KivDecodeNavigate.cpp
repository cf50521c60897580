// Exact navigation on the frame index: picture numbers, going to a picture, and the index-based
// forms of the stepping calls and of a time seek.
#include <cstring>

#include "KivDecode.h"
#include "KivDecodeInternal.h"
#include "KivLog.h"
#include "KivUtils.h"
#include "KivUtilsOptions.h"

namespace kiv {

void TKivDecoder::FileLoaded() {
  FNextNumber = 0;  // the decoder starts with the first picture
  AVIOContext* pb = FFileHandle->pb;
  // A second reading of the input must be possible and must see the same file: a pipe or a
  // live stream cannot be read twice. Only local files are indexed: a second connection to a
  // server could stall where the decoder's own reading has a time-out, and the calls that
  // wait for the index would stall with it.
  const char* protocol = av::avio_find_protocol_name(FOpenedUrl.c_str());
  if (!FUseFrameIndex || FVideoStreamCount <= 0 || FOpenedUrl.empty() || !pb ||
      !(pb->seekable & AVIO_SEEKABLE_NORMAL) || IsImage2(FFileHandle) ||
      (FFileHandle->iformat->flags & AVFMT_NOFILE) || !protocol ||
      std::strcmp(protocol, "file") != 0)
    return;
  TFrameIndexSource& source = FIndexSource;
  source = TFrameIndexSource();
  source.Url = FOpenedUrl;
  source.FormatName = FForceFormat;
  source.Options = FOpenedOptions;
  source.StreamCount = FFileHandle->nb_streams;
  for (unsigned i = 0; i < FFileHandle->nb_streams; ++i)
    source.StreamTypes.push_back(FFileHandle->streams[i]->codecpar->codec_type);
  FFrameIndex = std::make_unique<TKivFrameIndex>(source);
}

bool TKivDecoder::IndexNavigable(int32_t AStreamIndex) {
  // A filter graph may make, drop or retime pictures, so its output has no numbers.
  return FFrameIndex && Fvfilters.empty() && IsVideoStream(AStreamIndex) &&
         FFrameIndex->Usable(AStreamIndex);
}

int64_t TKivDecoder::NumberOfDecoded(int64_t APTS) const {
  if (FFrameIndex && FDesireVideoIndex >= 0) {
    const int64_t number = FFrameIndex->TryNumberOfPTS(FDesireVideoIndex, APTS);
    if (number >= 0) return number;
  }
  return FNextNumber;
}

void TKivDecoder::ResetForSeek() {
  FVideo.Forget();
  FAudio.Forget();
  FEOF = FEOFpkt = false;
  ResetFrameInfo();
  ResetWaveInfo();
  FCursor.Drop();
  FNextNumber = FSkipBelow = -1;
  FDiscardBefore = AV_NOPTS_VALUE;
}

bool TKivDecoder::PositionAtKeyFrame(int32_t AStreamIndex, const TFrameIndexEntry& AKey,
                                     int64_t AKeyNumber, const std::string& AWhere) {
  // Going elsewhere: what is being decoded ahead for the old place would only take the cores.
  if (FPrefetcher) FPrefetcher->Abandon();
  ResetForSeek();
  if (FCursor.PositionAt(FFileHandle, AStreamIndex, AKey)) {
    FNextNumber = AKeyNumber;
    // Pictures shown before the key frame refer to the group before it: not shown from here.
    if (!AKey.PTSDerived) FDiscardBefore = AKey.PTS;
    return true;
  }
  ResetForSeek();
  const AVStream* stream = FFileHandle->streams[AStreamIndex];
  int64_t seconds = AKey.PTS;
  if (stream->start_time != AV_NOPTS_VALUE) seconds -= stream->start_time;
  ReportErrorFmt(AV_LOG_ERROR, "%s: could not seek to position %0.3f seconds", AWhere.c_str(),
                 double(seconds) * av_q2d(stream->time_base));
  return false;
}

bool TKivDecoder::GoToPicture(int32_t AStreamIndex, int64_t ANumber, const std::string& AWhere) {
  TFrameIndexEntry key;
  int64_t keyNumber = -1;
  if (!FFrameIndex->StartFor(AStreamIndex, ANumber, key, keyNumber)) {
    ReportErrorFmt(AV_LOG_ERROR, "%s: picture %lld does not exist.", AWhere.c_str(),
                   (long long)ANumber);
    return false;
  }
  if (FPicture.Ready && FPictureNumber == ANumber) return true;
  AdoptPrefetched(ANumber);
  // Pictures being decoded ahead are waited for: they are the shorter way. They are kept as
  // they come, so that the kept pictures stay within the budget meanwhile.
  while (!FPictureCache.Find(ANumber) && FPrefetcher && FPrefetcher->Covers(ANumber)) {
    FPrefetcher->WaitForPictures();
    AdoptPrefetched(ANumber);
  }
  if (HoldKeptPicture(ANumber)) return true;
  // Decoding on reaches the picture when the decoder is not past it and the key frame it
  // needs is not ahead: cheaper than going back to that key frame.
  const bool onward = FNextNumber >= 0 && FNextNumber <= ANumber && keyNumber <= FNextNumber &&
                      !FEOF && !FEOFpkt && FVideo.Decodes(AStreamIndex);
  if (!onward && !PositionAtKeyFrame(AStreamIndex, key, keyNumber, AWhere)) return false;
  FSkipBelow = ANumber;
  bool decoded;
  while ((decoded = Decode(AStreamIndex)) && FPictureNumber >= 0 && FPictureNumber < ANumber) {
  }
  FSkipBelow = -1;
  return decoded;
}

void TKivDecoder::AdoptPrefetched(int64_t ACenter) {
  if (!FPrefetcher) return;
  for (TKivPrefetcher::TPicture& picture : FPrefetcher->TakeDecoded())
    FPictureCache.Put(picture.Number, std::move(picture.Frame), picture.Stamp, ACenter);
}

void TKivDecoder::PrefetchBefore(int32_t AStreamIndex, int64_t ANumber) {
  if (FPictureCache.Budget() == 0 || !Fvfilters.empty() || ANumber < 0) return;
  TFrameIndexEntry key, previousKey;
  int64_t keyNumber = -1, previousNumber = -1;
  if (!FFrameIndex->StartFor(AStreamIndex, ANumber, key, keyNumber) || keyNumber <= 0 ||
      !FFrameIndex->StartFor(AStreamIndex, keyNumber - 1, previousKey, previousNumber))
    return;
  if (FPictureCache.Find(previousNumber) && FPictureCache.Find(keyNumber - 1)) return;
  PrefetcherFor(AStreamIndex).Request(previousKey, previousNumber, keyNumber);
}

void TKivDecoder::PrefetchStepBack(int32_t AStreamIndex, int64_t ATarget, int64_t ACurrent) {
  if (FPictureCache.Budget() == 0 || !Fvfilters.empty() || ATarget < 0 || ATarget >= ACurrent ||
      FPictureCache.Find(ATarget) || (FPrefetcher && FPrefetcher->Covers(ATarget)))
    return;
  TFrameIndexEntry key;
  int64_t keyNumber = -1;
  if (!FFrameIndex->StartFor(AStreamIndex, ATarget, key, keyNumber)) return;
  // The current picture too, so that stepping forward again finds it kept; from there the
  // decoder itself still stands where it was.
  PrefetcherFor(AStreamIndex).Request(key, keyNumber, ACurrent + 1);
}

TKivPrefetcher& TKivDecoder::PrefetcherFor(int32_t AStreamIndex) {
  if (!FPrefetcher) {
    // The decoder's own codec options, as its decoder was opened with.
    std::map<std::string, std::string> options;
    AVStream* st = FFileHandle->streams[AStreamIndex];
    if (const AVCodec* codec = av::avcodec_find_decoder(st->codecpar->codec_id)) {
      AVDictionary* dict =
          stream_codec_opts(FOptions->codec_opts(), st->codecpar->codec_id, FFileHandle, st, codec);
      for (AVDictionaryEntry* e = nullptr;
           (e = av::av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX));)
        options[e->key] = e->value;
      av::av_dict_free(&dict);
    }
    FPrefetcher =
        std::make_unique<TKivPrefetcher>(FIndexSource, AStreamIndex, *FFrameIndex, options);
  }
  return *FPrefetcher;
}

bool TKivDecoder::HoldKeptPicture(int64_t ANumber) {
  const TKivPictureCache::TEntry* kept = FPictureCache.Find(ANumber);
  if (!kept || !Fvfilters.empty()) return false;
  FShownFromCache.reset(av::av_frame_clone(kept->Frame.get()));
  if (!FShownFromCache) return false;
  HoldPicture(FShownFromCache.get(), kept->Stamp, ANumber);
  return true;
}

bool TKivDecoder::DecodeAfterKeptPicture(int32_t AStreamIndex, const std::string& AWhere) {
  const int64_t next = FPictureNumber + 1;
  TFrameIndexEntry entry;
  if (!FFrameIndex->Entry(AStreamIndex, next, entry)) {
    // The held picture is the last: the stream ends here as it does for the decoder itself.
    FEOF = FEOFpkt = true;
    ReportErrorFmt(AV_LOG_INFO, "%s: stream eof reached.", AWhere.c_str());
    return false;
  }
  return GoToPicture(AStreamIndex, next, AWhere);
}

bool TKivDecoder::IndexSeek(int64_t ATarget, TSeekFlags ASeekFlags, const std::string& AWhere) {
  const int32_t index = FSeekIndex;
  int64_t number = FFrameIndex->NumberAtOrAfter(index, ATarget);
  if (number < 0) {
    ResetForSeek();
    ReportErrorFmt(AV_LOG_ERROR, "%s: the stream has no pictures.", AWhere.c_str());
    return false;
  }
  if (!ASeekFlags.Contains(sfBackward)) {
    // The first key frame at or after the target; without one, the one before it (as a seek
    // retried in the other direction does).
    TFrameIndexEntry entry;
    const bool isKey =
        FFrameIndex->Entry(index, number, entry) && entry.IsKeyFrame && entry.PTS >= ATarget;
    const int64_t key = isKey ? number : FFrameIndex->NextKeyFrame(index, number);
    if (key >= 0) number = key;
  }
  TFrameIndexEntry key;
  int64_t keyNumber = -1;
  if (!FFrameIndex->StartFor(index, number, key, keyNumber)) return false;
  return PositionAtKeyFrame(index, key, keyNumber, AWhere);
}

bool TKivDecoder::IndexNextKeyFrame(int32_t AStreamIndex) {
  const std::string where = Where("DecodeNextKeyFrame()");
  // With no picture held the search starts at the first picture.
  const int64_t current = FPicture.Ready ? FPictureNumber : 0;
  const int64_t next = FFrameIndex->NextKeyFrame(AStreamIndex, current);
  if (next < 0) {
    ReportErrorFmt(AV_LOG_INFO, "%s: no key frame after the current picture.", where.c_str());
    return false;
  }
  return GoToPicture(AStreamIndex, next, where);
}

bool TKivDecoder::IndexPreviousKeyFrame(int32_t AStreamIndex) {
  int64_t current;
  if (FPicture.Ready) {
    current = FPictureNumber;
  } else if (FLastNumber >= 0) {
    current = FLastNumber;
  } else {  // nothing decoded yet: from the end of the stream
    FFrameIndex->WaitComplete();
    current = FFrameIndex->FrameCount(AStreamIndex);
  }
  int64_t previous = FFrameIndex->PreviousKeyFrame(AStreamIndex, current);
  // On the first key frame or before it, the first key frame is the answer.
  if (previous < 0) previous = FFrameIndex->NextKeyFrame(AStreamIndex, -1);
  if (!GoToPicture(AStreamIndex, std::max<int64_t>(previous, 0), Where("DecodePreviousKeyFrame()")))
    return false;
  PrefetchBefore(AStreamIndex, FPictureNumber);
  return true;
}

bool TKivDecoder::IndexPreviousFrame(int32_t AStreamIndex) {
  int64_t current = 0;
  if (FPicture.Ready)
    current = FPictureNumber;
  else if (FLastNumber >= 0)
    current = FLastNumber;
  // The first picture stays the first picture.
  const int64_t target = std::max<int64_t>(current - 1, 0);
  if (FPicture.Ready) PrefetchStepBack(AStreamIndex, target, current);
  if (!GoToPicture(AStreamIndex, target, Where("DecodePreviousFrame()"))) return false;
  PrefetchBefore(AStreamIndex, FPictureNumber);
  return true;
}

bool TKivDecoder::DecodeFrame(int64_t ANumber, int32_t AStreamIndex) {
  const int32_t index = SelectVideoStream(AStreamIndex);
  if (index < 0) return false;
  const std::string where = Where("DecodeFrame()");
  if (!IndexNavigable(index)) {
    ReportErrorFmt(AV_LOG_ERROR, "%s: no frame index for this stream.", where.c_str());
    return false;
  }
  if (ANumber < 0) {
    ReportErrorFmt(AV_LOG_ERROR, "%s: picture %lld does not exist.", where.c_str(),
                   (long long)ANumber);
    return false;
  }
  return GoToPicture(index, ANumber, where);
}

int64_t TKivDecoder::FrameCount() {
  const int32_t index = FDesireVideoIndex >= 0 ? FDesireVideoIndex : FFirstVideoStreamIndex;
  return FFrameIndex ? FFrameIndex->FrameCount(index) : -1;
}

bool TKivDecoder::FrameIndexEntry(int64_t ANumber, TFrameIndexEntry& AEntry, int32_t AStreamIndex) {
  const int32_t index = AStreamIndex >= 0        ? AStreamIndex
                        : FDesireVideoIndex >= 0 ? FDesireVideoIndex
                                                 : FFirstVideoStreamIndex;
  return FFrameIndex && FFrameIndex->Entry(index, ANumber, AEntry);
}

}  // namespace kiv
