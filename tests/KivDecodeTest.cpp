#include "KivDecode.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#include "KivLoad.h"
#include "KivMainThread.h"
#include "KivUtils.h"
#include "LogCapture.h"
#include "LoopbackServer.h"
#include "SwScaleStubs.h"
#include "TestSupport.h"

using namespace kiv;
using kivtest::LogCapture;
using kivtest::MediaFile;

namespace {

class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Decoder.LoadAVLib("")) << Decoder.LastErrMsg(); }

  void ExpectNoInput() {
    EXPECT_EQ(Decoder.FileHandle(), nullptr);
    EXPECT_EQ(Decoder.FileSize(), -1);
    EXPECT_EQ(Decoder.StreamCount(), -1);
    EXPECT_EQ(Decoder.ProgramCount(), -1);
    EXPECT_EQ(Decoder.VideoStreamCount(), -1);
    EXPECT_EQ(Decoder.AudioStreamCount(), -1);
    EXPECT_EQ(Decoder.FirstVideoStreamIndex(), -1);
    EXPECT_EQ(Decoder.ForceFormat(), "");
  }

  TCustomDecoder Decoder;
};

TEST(DecoderDefaults, ANewDecoderHasNoInputAndTheComponentDefaults) {
  TCustomDecoder decoder;
  EXPECT_EQ(decoder.FileSize(), -1);
  EXPECT_EQ(decoder.StreamCount(), -1);
  EXPECT_EQ(decoder.VideoStreamCount(), -1);
  EXPECT_EQ(decoder.FirstVideoStreamIndex(), -1);
  EXPECT_EQ(decoder.LastErrMsg(), "");
  EXPECT_TRUE(decoder.TriggerEventInMainThread());
  EXPECT_TRUE(decoder.GetLongCodecName());
  EXPECT_EQ(decoder.Version(), "6.5c");
  EXPECT_EQ(decoder.ReadTimeout(), 30000);
}

TEST(DecoderWithoutLibraries, RefusesToOpenAndToTakeOptions) {
  KivLoader->Unload(AVLibraries);
  TCustomDecoder decoder;
  EXPECT_FALSE(decoder.AVLibLoaded());
  try {
    decoder.LoadFile(MediaFile("h264_bframes.mp4"));
    FAIL() << "no error raised";
  } catch (const ELibraryNotLoaded& e) {
    EXPECT_STREQ(e.what(), "Library avcodec not loaded.");
  }
  EXPECT_THROW(decoder.SetFileHandle(reinterpret_cast<AVFormatContext*>(&decoder)),
               ELibraryNotLoaded);
  EXPECT_FALSE(decoder.opt_default("probesize", "100000"));
  EXPECT_EQ(decoder.LastErrMsg(), "FFmpeg libraries not loaded.");
}

TEST_F(DecoderTest, LoadAVLibFailureKeepsTheLoaderText) {
  kivtest::TempDir dir;
  dir.Write("libavcodec.so.59", "broken");
  Decoder.UnloadAVLib();
  EXPECT_FALSE(Decoder.LoadAVLib(dir.Path()));
  EXPECT_EQ(Decoder.LastErrMsg().rfind(
                "Load library " + dir.File("libavcodec.so.59") + " error(#8): ", 0),
            0u)
      << Decoder.LastErrMsg();
  EXPECT_FALSE(Decoder.AVLibLoaded());
}

TEST_F(DecoderTest, CountsStreamsByType) {
  struct Case {
    const char* file;
    int streams, video, firstVideo, audio, firstAudio, subtitles, firstSubtitle, programs;
  } cases[] = {
      {"two_audio.mkv", 3, 1, 0, 2, 1, 0, -1, 0},
      {"audio.mp3", 1, 0, -1, 1, 0, 0, -1, 0},
      {"picture.png", 1, 1, 0, 0, -1, 0, -1, 0},
      {"programs.ts", 3, 2, 0, 1, 1, 0, -1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(Decoder.LoadFile(MediaFile(c.file))) << Decoder.LastErrMsg();
    EXPECT_EQ(Decoder.StreamCount(), c.streams);
    EXPECT_EQ(Decoder.VideoStreamCount(), c.video);
    EXPECT_EQ(Decoder.FirstVideoStreamIndex(), c.firstVideo);
    EXPECT_EQ(Decoder.AudioStreamCount(), c.audio);
    EXPECT_EQ(Decoder.FirstAudioStreamIndex(), c.firstAudio);
    EXPECT_EQ(Decoder.SubtitleStreamCount(), c.subtitles);
    EXPECT_EQ(Decoder.FirstSubtitleStreamIndex(), c.firstSubtitle);
    EXPECT_EQ(Decoder.ProgramCount(), c.programs);
    EXPECT_EQ(Decoder.FileSize(), FileSizeOf(MediaFile(c.file)));
  }
  Decoder.CloseFile();
  ExpectNoInput();
}

TEST_F(DecoderTest, FailedOpensLeaveNoInputAndSayWhy) {
  const std::string missing = MediaFile("no-such-file.mp4");
  struct Case {
    std::string file;
    std::string format;
    std::string message;
  } cases[] = {
      {MediaFile("h264_bframes.mp4"), "no_such_format", "Unknown input format: no_such_format"},
      {missing, "", missing + ": No such file or directory"},
      {MediaFile("random.bin"), "",
       MediaFile("random.bin") + ": Invalid data found when processing input"},
      {MediaFile("empty.bin"), "",
       MediaFile("empty.bin") + ": Invalid data found when processing input"},
      {MediaFile(""), "", MediaFile("") + ": "},  // a directory
  };
  LogCapture log;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " " + c.format);
    ASSERT_TRUE(Decoder.LoadFile(MediaFile("two_audio.mkv")));  // open before: closed after
    EXPECT_FALSE(Decoder.LoadFile(c.file, c.format));
    EXPECT_EQ(Decoder.LastErrMsg().rfind(c.message, 0), 0u) << Decoder.LastErrMsg();
    ExpectNoInput();
  }
  EXPECT_TRUE(log.Has(llError, "Unknown input format: no_such_format"));
  // Open failures are left to the caller to show.
  EXPECT_FALSE(log.Has(llError, missing + ": No such file or directory"));
}

TEST_F(DecoderTest, AForcedFormatIsUsedAndRemembered) {
  ASSERT_TRUE(Decoder.LoadFile(MediaFile("audio.wav"), "wav")) << Decoder.LastErrMsg();
  EXPECT_EQ(Decoder.ForceFormat(), "wav");
  EXPECT_EQ(Decoder.FormatName(), "wav");
  EXPECT_FALSE(Decoder.LoadFile(MediaFile("audio.wav"), "mpegts"));
  EXPECT_EQ(Decoder.ForceFormat(), "");
}

TEST_F(DecoderTest, FormatOptionsApplyToTheNextOpenOnly) {
  LogCapture log;
  ASSERT_TRUE(Decoder.opt_default("fflags", "+genpts"));
  ASSERT_TRUE(Decoder.opt_default("framerate", "10"));  // a demuxer option Matroska lacks
  ASSERT_TRUE(Decoder.LoadFile(MediaFile("two_audio.mkv"))) << Decoder.LastErrMsg();
  EXPECT_TRUE(Decoder.FileHandle()->flags & AVFMT_FLAG_GENPTS);
  EXPECT_TRUE(Decoder.FileHandle()->flags & AVFMT_FLAG_NONBLOCK);
  EXPECT_EQ(log.Count(llError, "Option framerate not found, ignored."), 1);
  ASSERT_TRUE(Decoder.LoadFile(MediaFile("two_audio.mkv")));
  EXPECT_FALSE(Decoder.FileHandle()->flags & AVFMT_FLAG_GENPTS);
  EXPECT_EQ(log.Count(llError, "Option framerate not found, ignored."), 1);
}

TEST_F(DecoderTest, AnInvalidStreamSpecifierRaisesAndLeavesNoInput) {
  ASSERT_TRUE(Decoder.opt_default("threads:zz", "2"));
  try {
    Decoder.LoadFile(MediaFile("two_audio.mkv"));
    FAIL() << "no error raised";
  } catch (const EOptionError& e) {
    EXPECT_STREQ(e.what(), "invalid stream specification");
  }
  ExpectNoInput();
  EXPECT_EQ(Decoder.Options().codec_opts(), nullptr);
  EXPECT_TRUE(Decoder.LoadFile(MediaFile("two_audio.mkv"))) << Decoder.LastErrMsg();
}

TEST_F(DecoderTest, BeforeFindStreamInfoMayTuneTheProbing) {
  int calls = 0;
  Decoder.SetOnBeforeFindStreamInfo([&](TComponent* ASender, AVFormatContext* AContext) {
    ++calls;
    EXPECT_EQ(ASender, &Decoder);
    EXPECT_EQ(AContext, Decoder.FileHandle());
    AContext->max_analyze_duration = 123456;
  });
  ASSERT_TRUE(Decoder.LoadFile(MediaFile("programs.ts")));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Decoder.FileHandle()->max_analyze_duration, 123456);
  EXPECT_FALSE(Decoder.LoadFile(MediaFile("no-such-file.ts")));
  EXPECT_EQ(calls, 1);  // no input, no event
}

// Runs queued work on the thread that calls Pump, as a program's event loop would.
class QueueDispatcher : public TMainThreadDispatcher {
 public:
  void RunAndWait(const std::function<void()>& AWork) override {
    std::atomic<bool> done{false};
    Post([&] {
      AWork();
      done = true;
    });
    std::unique_lock<std::mutex> lock(FLock);
    FChanged.wait(lock, [&] { return done.load(); });
  }
  void Post(std::function<void()> AWork) override {
    std::lock_guard<std::mutex> guard(FLock);
    FQueue.push_back(std::move(AWork));
    FChanged.notify_all();
  }
  // Runs queued work until AUntil holds.
  void Pump(const std::function<bool()>& AUntil) {
    std::unique_lock<std::mutex> lock(FLock);
    while (!AUntil()) {
      if (FQueue.empty()) {
        FChanged.wait_for(lock, std::chrono::milliseconds(10));
        continue;
      }
      auto work = std::move(FQueue.front());
      FQueue.pop_front();
      lock.unlock();
      work();
      lock.lock();
      FChanged.notify_all();
    }
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<std::function<void()>> FQueue;
};

TEST_F(DecoderTest, BeforeFindStreamInfoRunsOnTheMainThreadWhenAsked) {
  QueueDispatcher dispatcher;
  SetMainThreadDispatcher(&dispatcher);
  bool onMain = false;
  Decoder.SetOnBeforeFindStreamInfo(
      [&](TComponent*, AVFormatContext*) { onMain = IsMainThread(); });
  std::atomic<bool> finished{false};
  bool loaded = false;
  std::thread worker([&] {
    loaded = Decoder.LoadFile(MediaFile("two_audio.mkv"));
    finished = true;
  });
  dispatcher.Pump([&] { return finished.load(); });
  worker.join();
  SetMainThreadDispatcher(nullptr);
  EXPECT_TRUE(loaded);
  EXPECT_TRUE(onMain);
}

TEST_F(DecoderTest, AnAdoptedContextIsDescribedButNeverClosed) {
  AVFormatContext* context = nullptr;
  ASSERT_EQ(av::avformat_open_input(&context, MediaFile("two_audio.mkv").c_str(), nullptr, nullptr),
            0);
  ASSERT_GE(av::avformat_find_stream_info(context, nullptr), 0);
  Decoder.SetFileHandle(context);
  EXPECT_EQ(Decoder.FileHandle(), context);
  EXPECT_EQ(Decoder.StreamCount(), 3);
  EXPECT_EQ(Decoder.AudioStreamCount(), 2);
  Decoder.SetFileHandle(context);  // the same handle: nothing happens
  EXPECT_EQ(Decoder.StreamCount(), 3);
  Decoder.CloseFile();
  ExpectNoInput();
  EXPECT_EQ(context->nb_streams, 3u);  // still open and ours
  AVPacket* packet = av::av_packet_alloc();
  EXPECT_GE(av::av_read_frame(context, packet), 0);
  av::av_packet_free(&packet);
  av::avformat_close_input(&context);
}

TEST_F(DecoderTest, DefaultOptionsSetsEveryOptionOfTheText) {
  LogCapture log;
  EXPECT_TRUE(Decoder.DefaultOptions(""));
  EXPECT_TRUE(log.Entries().empty());

  EXPECT_TRUE(Decoder.DefaultOptions("-fflags +genpts stray -probesize"));
  EXPECT_TRUE(log.Has(llInfo, "ParseOptions: -fflags +genpts stray -probesize"));
  EXPECT_TRUE(log.Has(llError, "Invalid option found while parsing options, ignore"));
  AVDictionary* format = Decoder.Options().format_opts();
  EXPECT_STREQ(av::av_dict_get(format, "fflags", nullptr, 0)->value, "+genpts");
  EXPECT_STREQ(av::av_dict_get(format, "probesize", nullptr, 0)->value, "");

  EXPECT_FALSE(Decoder.DefaultOptions("-no_such_option 1 -analyzeduration 5000"));
  EXPECT_STREQ(
      av::av_dict_get(Decoder.Options().format_opts(), "analyzeduration", nullptr, 0)->value,
      "5000");
}

TEST(SplitCommandLine, FollowsTheCRuntimeQuotingRules) {
  struct Case {
    const char* text;
    std::vector<std::string> args;
  } cases[] = {
      {"a  b\tc", {"a", "b", "c", ""}},
      {"\"a b\" c", {"a b", "c", ""}},
      {"a\\\"b", {"a\"b", ""}},             // odd backslashes: a literal quote
      {"a\\\\\"b c\"", {"a\\b c", ""}},     // even backslashes: the quote delimits
      {"\"a\"\"b\" c", {"a\"b", "c", ""}},  // doubled quote inside quotes
      {"a\\\\b", {"a\\\\b", ""}},           // backslashes before other characters stay
      {"  ", {""}},
      {"-vf \"scale=320:-1, hflip\"", {"-vf", "scale=320:-1, hflip", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(SplitCommandLine(c.text), c.args);
  }
}

// The scaler flags are evaluated while the process logger takes FFmpeg's log, which reads the
// context of every complaint: an invalid value fails with its own text and the open goes on.
TEST_F(DecoderTest, ScalerFlagsOfTheOptionStoreAreEvaluatedOnARealContext) {
  struct Case {
    const char* value;
    bool valid;
    unsigned flags;
  } cases[] = {
      {"bilinear+accurate_rnd", true, SWS_BILINEAR | SWS_ACCURATE_RND},
      {"nonsense", false, 0},
      {"bicubic+nonsense", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    LogCapture log;
    auto store = [&] {
      AVDictionary* dict = nullptr;
      av::av_dict_set(&dict, "sws_flags", c.value, 0);
      Decoder.Options().Setsws_dict(dict);
    };
    store();
    EXPECT_EQ(Decoder.Options().FetchSwsFlags() >= 0, c.valid);
    if (c.valid) {
      EXPECT_EQ(Decoder.Options().sws_flags(), c.flags);
    }
    store();
    EXPECT_TRUE(Decoder.LoadFile(MediaFile("h264_bframes.mp4"))) << Decoder.LastErrMsg();
    const auto entries = log.Entries();
    // The text has no line end: it reaches the log joined to the next line of the thread.
    const bool failed = std::any_of(entries.begin(), entries.end(), [](const auto& e) {
      return e.Text.rfind("av_opt_eval_flags() failed", 0) == 0;
    });
    EXPECT_EQ(failed, !c.valid);
  }
}

// Cancels the decoder's blocking calls from another thread, again and again, while it lives.
class Canceller {
 public:
  explicit Canceller(TCustomDecoder& ADecoder)
      : FThread([this, &ADecoder] {
          while (!FStop) {
            ADecoder.Interrupt();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
          }
        }) {}
  ~Canceller() {
    FStop = true;
    FThread.join();
  }

 private:
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// A stalled open ends at the read time-out, or, without one, when the caller cancels it.
TEST_F(DecoderTest, AStalledNetworkOpenEndsAtTheReadTimeoutOrWhenCanceled) {
  struct Case {
    int32_t timeout;
    const char* logged;
    const char* notLogged;
  } cases[] = {
      {1000, "connecting/reading timeout", "connecting/reading canceled"},
      {0, "connecting/reading canceled", "connecting/reading timeout"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.timeout);
    kivtest::LoopbackServer server;
    LogCapture log;
    Decoder.SetReadTimeout(c.timeout);
    // Should neither work, the server hangs up after a while, so the test cannot hang.
    kivtest::Watchdog watchdog(30, [&] { server.Hangup(); });
    std::optional<Canceller> canceller;
    if (c.timeout == 0) canceller.emplace(Decoder);
    EXPECT_FALSE(Decoder.LoadFile(server.Url("/clip.mp4")));
    canceller.reset();
    EXPECT_FALSE(watchdog.Stop()) << "the open did not end by itself";
    EXPECT_TRUE(log.Has(llInfo, c.logged));
    EXPECT_FALSE(log.Has(llInfo, c.notLogged));
    ExpectNoInput();
  }
}

// A server that sends the first half of a transport stream and then goes silent: every call
// that reads ends at the read time-out, or without one when the caller cancels it, and not
// only the first.
TEST(StalledNetworkTest, EveryReadingCallEndsAtTheReadTimeoutOrWhenCanceled) {
  std::ifstream in(MediaFile("programs.ts"), std::ios::binary);
  const std::string clip((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(clip.empty());
  using TOperation = std::function<bool(TKivDecoder&)>;
  struct Call {
    const char* name;
    TOperation run;  // one call: false when it failed
    int count;       // how many calls at most
  } calls[] = {
      {"Decode", [](TKivDecoder& d) { return d.Decode(-1); }, 1000},
      {"DecodeAudio", [](TKivDecoder& d) { return d.DecodeAudio(-1); }, 1000},
      {"Decode(dtBoth)", [](TKivDecoder& d) { return d.Decode(dtBoth) != drError; }, 1000},
      {"Seek", [](TKivDecoder& d) { return d.Seek(1900000); }, 1},  // into the missing half
  };
  for (const int32_t timeout : {1000, 0}) {
    for (const Call& call : calls) {
      SCOPED_TRACE(std::string(call.name) + " with ReadTimeout " + std::to_string(timeout));
      kivtest::LoopbackServer server(
          kivtest::LoopbackServer::HttpHeader(clip.size(), "video/MP2T") +
          clip.substr(0, clip.size() / 2));
      kivtest::Watchdog watchdog(60, [&] { server.Hangup(); });
      TKivDecoder decoder;
      ASSERT_TRUE(decoder.LoadAVLib("")) << decoder.LastErrMsg();
      // The probing stops well inside the half that arrives.
      ASSERT_TRUE(decoder.opt_default("analyzeduration", "400000"));
      decoder.SetReadTimeout(1000);
      ASSERT_TRUE(decoder.LoadFile(server.Url("/clip.ts"))) << decoder.LastErrMsg();
      decoder.SetReadTimeout(timeout);
      LogCapture log;
      std::optional<Canceller> canceller;
      if (timeout == 0) canceller.emplace(decoder);
      // Calls go on until one fails, or as many as are needed to reach the missing half.
      int succeeded = 0;
      while (succeeded < call.count && call.run(decoder)) ++succeeded;
      canceller.reset();
      EXPECT_FALSE(watchdog.Stop()) << "a call did not end by itself after " << succeeded;
      EXPECT_TRUE(log.Has(
          llInfo, timeout > 0 ? "connecting/reading timeout" : "connecting/reading canceled"));
    }
  }
}

}  // namespace
