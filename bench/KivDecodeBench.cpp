// Measurements of the decoder on one media file, one kind per run, as one JSON object on
// standard output (scripts/bench runs it several times, next to the ffmpeg tool, and reports):
//   KivDecodeBench decode FILE plain|ptr|copy   the decode loop to the end of the stream
//   KivDecodeBench step FILE POSITIONS          frame and key-frame steps from spread positions
//   KivDecodeBench jump FILE TARGETS SEED       slider jumps: Seek, then decode to the target
//   KivDecodeBench memory FILE BACKSTEPS        resident size stepping forward, then backward
//   KivDecodeBench index FILE                   building the frame index, from LoadFile on
//   KivDecodeBench backwalk FILE STEPS          forward steps, then STEPS steps back from the
//                                               last picture, and the resident size
// Times are wall (steady clock) and process CPU seconds; opening the file is not timed.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "KivDecode.h"
#include "KivLog.h"

using namespace kiv;

namespace {

[[noreturn]] void Fail(const std::string& AText) {
  std::fprintf(stderr, "KivDecodeBench: %s\n", AText.c_str());
  std::exit(1);
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct TSample {
  double Wall = 0;
  double Cpu = 0;
};

// Times one call of AWork.
template <typename TWork>
TSample Time(TWork&& AWork) {
  const double wall = WallSeconds(), cpu = CpuSeconds();
  AWork();
  return {WallSeconds() - wall, CpuSeconds() - cpu};
}

// A JSON object written member by member.
class TJson {
 public:
  TJson& Add(const std::string& AName, double AValue) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", AValue);
    return Raw(AName, text);
  }
  TJson& Add(const std::string& AName, const std::vector<TSample>& ASamples) {
    std::string wall = "[", cpu = "[";
    for (size_t i = 0; i < ASamples.size(); ++i) {
      char w[32], c[32];
      std::snprintf(w, sizeof w, "%s%.9g", i ? "," : "", ASamples[i].Wall);
      std::snprintf(c, sizeof c, "%s%.9g", i ? "," : "", ASamples[i].Cpu);
      wall += w;
      cpu += c;
    }
    return Raw(AName, "{\"wall\":" + wall + "],\"cpu\":" + cpu + "]}");
  }
  TJson& Raw(const std::string& AName, const std::string& AValue) {
    FText.append(FText.empty() ? "{\"" : ",\"").append(AName).append("\":").append(AValue);
    return *this;
  }
  std::string Text() const { return FText + "}"; }

 private:
  std::string FText;
};

// A decoder with the system's FFmpeg loaded and AFileName open, pictures at 32 bits.
class TBenchDecoder {
 public:
  explicit TBenchDecoder(const std::string& AFileName) {
    // Only failures: the end of the stream is reported at the info level on every pass.
    CurrentLogger().SetLogLevel(llError);
    if (!FDecoder.LoadAVLib("")) Fail(FDecoder.LastErrMsg());
    if (!FDecoder.LoadFile(AFileName)) Fail(FDecoder.LastErrMsg());
    FDecoder.SetBitmapBitsPixel(32);
    const TVideoStreamInfo info = FDecoder.FirstVideoStreamInfo();
    if (info.FrameRate.num <= 0 || info.FrameRate.den <= 0) Fail("no frame rate: " + AFileName);
    FFrameDuration = FrameRateToDuration(info.FrameRate);
    FDuration = FDecoder.FileStreamInfo().Duration;
    if (FDuration <= 0) Fail("no duration: " + AFileName);
    // The steps are timed on a complete index; building it is measured on its own.
    if (FDecoder.FrameIndex()) FDecoder.FrameIndex()->WaitComplete();
  }

  TKivDecoder& operator*() { return FDecoder; }
  TKivDecoder* operator->() { return &FDecoder; }
  int64_t FrameDuration() const { return FFrameDuration; }
  int64_t Duration() const { return FDuration; }
  int64_t PTS() const { return FDecoder.FrameInfo().PTS; }

  // What the frame browser's slider does: Seek with its fall-backs, then decode forward up to
  // the first picture at or after the target. A plain Seek lands on the first key frame at or
  // after the target, so this decodes from a key frame before it only when there is none.
  bool JumpTo(int64_t ATarget) {
    if (!FDecoder.Seek(ATarget) && !FDecoder.Seek(ATarget, TSeekFlags{sfBackward}) &&
        !FDecoder.Seek(ATarget, TSeekFlags{sfAny}))
      return false;
    while (FDecoder.Decode(-1))
      if (PTS() >= ATarget) return true;
    return false;
  }

  // The first picture at or after ATarget, decoded from the key frame before it.
  bool GoTo(int64_t ATarget) {
    if (!FDecoder.Seek(ATarget, TSeekFlags{sfBackward})) return false;
    while (FDecoder.Decode(-1))
      if (PTS() >= ATarget) return true;
    return false;
  }

  // The stream ended, or fails with the reason.
  void CheckEnded() {
    if (!FDecoder.Eof()) Fail("decoding stopped early: " + FDecoder.LastErrMsg());
  }

 private:
  TKivDecoder FDecoder{nullptr};
  int64_t FFrameDuration = 0;
  int64_t FDuration = 0;
};

// The decode loop: Decode(-1) to the end, with nothing, GetBitmapPtr or CopyToBitmap after
// each picture.
std::string RunDecode(const std::string& AFile, const std::string& AMode) {
  std::function<void(TKivDecoder&)> after;
  TBitmap bitmap;
  uint64_t touched = 0;  // one byte of every RGB picture, so the conversion cannot be dropped
  if (AMode == "plain") {
    after = [](TKivDecoder&) {};
  } else if (AMode == "ptr") {
    after = [&](TKivDecoder& ADecoder) {
      const TDIBDescriptor* dib = ADecoder.GetBitmapPtr();
      if (!dib) Fail(ADecoder.LastErrMsg());
      touched += static_cast<const uint8_t*>(dib->bmBits)[0];
    };
  } else if (AMode == "copy") {
    after = [&](TKivDecoder& ADecoder) {
      if (!ADecoder.CopyToBitmap(bitmap)) Fail(ADecoder.LastErrMsg());
      touched += bitmap.Bits()[0];
    };
  } else {
    Fail("unknown decode mode " + AMode);
  }

  TBenchDecoder decoder(AFile);
  int64_t frames = 0;
  const TSample sample = Time([&] {
    while (decoder->Decode(-1)) {
      after(*decoder);
      ++frames;
    }
  });
  decoder.CheckEnded();
  return TJson()
      .Add("frames", double(frames))
      .Add("wall", sample.Wall)
      .Add("cpu", sample.Cpu)
      .Add("touched", double(touched))
      .Text();
}

// Positions spread evenly over the file, away from its very end.
std::vector<int64_t> SpreadPositions(const TBenchDecoder& ADecoder, int ACount) {
  std::vector<int64_t> positions;
  const int64_t usable = ADecoder.Duration() - 2 * ADecoder.FrameDuration();
  for (int i = 0; i < ACount; ++i) positions.push_back(usable * (2 * i + 1) / (2 * ACount));
  return positions;
}

// Each step timed from the same picture at each position; and one whole GOP decoded forward
// from the first key frame up to the next key frame, as the yardstick.
std::string RunStep(const std::string& AFile, int APositions) {
  TBenchDecoder decoder(AFile);
  using TStep = bool (TKivDecoder::*)(int32_t);
  const std::pair<const char*, TStep> steps[] = {
      {"previous_frame", &TKivDecoder::DecodePreviousFrame},
      {"next_key_frame", &TKivDecoder::DecodeNextKeyFrame},
      {"previous_key_frame", &TKivDecoder::DecodePreviousKeyFrame},
  };
  TJson json;
  for (const auto& [name, step] : steps) {
    std::vector<TSample> samples;
    for (int64_t position : SpreadPositions(decoder, APositions)) {
      if (!decoder.GoTo(position)) Fail("cannot reach position: " + decoder->LastErrMsg());
      // After the last key frame there is no next one to step to: nothing to time.
      if (step == &TKivDecoder::DecodeNextKeyFrame && decoder->FrameIndex() &&
          decoder->FrameIndex()->NextKeyFrame(decoder->FirstVideoStreamIndex(),
                                              decoder->FrameNumber()) < 0)
        continue;
      bool ok = false;
      samples.push_back(Time([&] { ok = ((*decoder).*step)(-1); }));
      if (!ok) Fail(std::string(name) + " failed: " + decoder->LastErrMsg());
    }
    json.Add(name, samples);
  }

  // The GOP's length is counted first, so that the timed pass decodes exactly its pictures
  // (seeking to its key frame included, as a step does) and not the next key frame too.
  auto toStart = [&] {
    if (!decoder->Seek(0)) Fail("cannot seek to the start: " + decoder->LastErrMsg());
  };
  toStart();
  int64_t gopFrames = 0;
  while (decoder->Decode(-1) && !(gopFrames > 0 && decoder->FrameInfo().IsKeyFrame)) ++gopFrames;
  const TSample gop = Time([&] {
    toStart();
    for (int64_t i = 0; i < gopFrames; ++i)
      if (!decoder->Decode(-1)) Fail("GOP decoding failed: " + decoder->LastErrMsg());
  });
  return json.Add("gop", std::vector<TSample>{gop}).Add("gop_frames", double(gopFrames)).Text();
}

std::string RunJump(const std::string& AFile, int ATargets, unsigned ASeed) {
  TBenchDecoder decoder(AFile);
  if (!decoder->Decode(-1)) Fail("no first picture: " + decoder->LastErrMsg());
  std::mt19937_64 random(ASeed);
  std::uniform_int_distribution<int64_t> pick(0, decoder.Duration() - 2 * decoder.FrameDuration());
  std::vector<TSample> samples;
  for (int i = 0; i < ATargets; ++i) {
    const int64_t target = pick(random);
    bool ok = false;
    samples.push_back(Time([&] { ok = decoder.JumpTo(target); }));
    if (!ok) Fail("jump failed: " + decoder->LastErrMsg());
  }
  return TJson().Add("jump", samples).Text();
}

// VmRSS and VmHWM of this process in KiB.
std::pair<int64_t, int64_t> ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  int64_t rss = -1, hwm = -1;
  while (std::getline(status, line)) {
    std::istringstream fields(line);
    std::string key;
    int64_t value = 0;
    fields >> key >> value;
    if (key == "VmRSS:") rss = value;
    if (key == "VmHWM:") hwm = value;
  }
  return {rss, hwm};
}

// Steps forward through the whole file (Decode), then ABackSteps back (DecodePreviousFrame,
// all the way to the start when ABackSteps is 0), sampling the resident size after each
// step, keeping no decoded pictures. The size after N and after 2N steps of each direction shows
// any growth with steps.
std::string RunMemory(const std::string& AFile, int ABackSteps) {
  TBenchDecoder decoder(AFile);
  // Kept pictures grow the size by design, up to their budget (the backwalk mode measures
  // that): without them any growth is memory lost.
  decoder->SetPictureCacheBudget(0);
  struct TTrace {
    std::vector<int64_t> Rss, Hwm;
  } forward, backward;
  auto sample = [](TTrace& ATrace) {
    auto [rss, hwm] = ResidentKiB();
    ATrace.Rss.push_back(rss);
    ATrace.Hwm.push_back(hwm);
  };
  while (decoder->Decode(-1)) sample(forward);
  decoder.CheckEnded();
  if (!decoder.GoTo(decoder.Duration() - 2 * decoder.FrameDuration()))
    Fail("cannot reach the end: " + decoder->LastErrMsg());
  for (int i = 0; ABackSteps == 0 || i < ABackSteps; ++i) {
    if (decoder.PTS() <= 0) break;
    if (!decoder->DecodePreviousFrame(-1))
      Fail("DecodePreviousFrame failed: " + decoder->LastErrMsg());
    sample(backward);
  }
  auto describe = [](const TTrace& ATrace) {
    const size_t n = ATrace.Rss.size();
    if (n < 2) Fail("too few steps");
    return TJson()
        .Add("steps", double(n))
        .Add("rss_n_kib", double(ATrace.Rss[n / 2 - 1]))
        .Add("rss_2n_kib", double(ATrace.Rss[n - 1]))
        .Add("hwm_n_kib", double(ATrace.Hwm[n / 2 - 1]))
        .Add("hwm_2n_kib", double(ATrace.Hwm[n - 1]))
        .Add("rss_max_kib", double(*std::max_element(ATrace.Rss.begin(), ATrace.Rss.end())))
        .Text();
  };
  return TJson().Raw("forward", describe(forward)).Raw("backward", describe(backward)).Text();
}

// The frame index is read on its own thread from the end of LoadFile on: the time until it is
// complete, and the process's CPU time meanwhile (the waiting thread uses none).
std::string RunIndex(const std::string& AFile) {
  CurrentLogger().SetLogLevel(llError);
  TKivDecoder decoder(nullptr);
  if (!decoder.LoadAVLib("")) Fail(decoder.LastErrMsg());
  if (!decoder.LoadFile(AFile)) Fail(decoder.LastErrMsg());
  if (!decoder.FrameIndex()) Fail("no frame index for " + AFile);
  const TSample sample = Time([&] { decoder.FrameIndex()->WaitComplete(); });
  if (decoder.FrameCount() <= 0) Fail("the frame index is empty: " + AFile);
  return TJson()
      .Add("frames", double(decoder.FrameCount()))
      .Add("wall", sample.Wall)
      .Add("cpu", sample.Cpu)
      .Text();
}

// Decode to the end, timing each forward step; then ASteps DecodePreviousFrame from the last
// picture, each timed, with the decoded-picture cache and the decoding ahead at work; then
// CloseFile. All of it twice: the first file also pays for what the libraries set up once
// (code and tables touched on first use), which the second shows apart. The resident size:
// its peak, and before opening and after closing each file; the steps of the second file.
std::string RunBackwalk(const std::string& AFile, int ASteps) {
  CurrentLogger().SetLogLevel(llError);
  TKivDecoder loader(nullptr);  // the libraries are loaded before the size is taken
  if (!loader.LoadAVLib("")) Fail(loader.LastErrMsg());
  struct TCycle {
    std::vector<TSample> Forward, Backward;
    int64_t Before = 0, AfterClose = 0;
  };
  auto cycle = [&] {
    TCycle c;
    c.Before = ResidentKiB().first;
    TBenchDecoder decoder(AFile);
    for (bool more = true; more;) c.Forward.push_back(Time([&] { more = decoder->Decode(-1); }));
    c.Forward.pop_back();  // the call that found the end
    decoder.CheckEnded();
    for (int i = 0; i < ASteps; ++i) {
      bool ok = false;
      c.Backward.push_back(Time([&] { ok = decoder->DecodePreviousFrame(-1); }));
      if (!ok) Fail("DecodePreviousFrame failed: " + decoder->LastErrMsg());
    }
    decoder->CloseFile();
    c.AfterClose = ResidentKiB().first;
    return c;
  };
  const TCycle first = cycle();
  const TCycle second = cycle();
  return TJson()
      .Add("forward", second.Forward)
      .Add("backward", second.Backward)
      .Add("rss_before_kib", double(first.Before))
      .Add("rss_after_close_kib", double(first.AfterClose))
      .Add("rss_again_before_kib", double(second.Before))
      .Add("rss_again_after_close_kib", double(second.AfterClose))
      .Add("hwm_kib", double(ResidentKiB().second))
      .Add("budget_kib", double(TKivDecoder(nullptr).PictureCacheBudget() / 1024))
      .Text();
}

int Number(const char* AText) {
  char* end = nullptr;
  const long value = std::strtol(AText, &end, 10);
  if (!end || *end || value < 0) Fail(std::string("not a count: ") + AText);
  return int(value);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string out;
  if (args.size() == 3 && args[0] == "decode")
    out = RunDecode(args[1], args[2]);
  else if (args.size() == 3 && args[0] == "step")
    out = RunStep(args[1], Number(argv[3]));
  else if (args.size() == 4 && args[0] == "jump")
    out = RunJump(args[1], Number(argv[3]), unsigned(Number(argv[4])));
  else if (args.size() == 3 && args[0] == "memory")
    out = RunMemory(args[1], Number(argv[3]));
  else if (args.size() == 2 && args[0] == "index")
    out = RunIndex(args[1]);
  else if (args.size() == 3 && args[0] == "backwalk")
    out = RunBackwalk(args[1], Number(argv[3]));
  else
    Fail(
        "usage: KivDecodeBench decode FILE plain|ptr|copy | step FILE POSITIONS | jump FILE "
        "TARGETS SEED | memory FILE BACKSTEPS | index FILE | backwalk FILE STEPS");
  std::printf("%s\n", out.c_str());
  return 0;
}
