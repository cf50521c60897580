#include "KivLog.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <fcntl.h>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "AVUtilStubs.h"
#include "KivLoad.h"
#include "KivLogInternal.h"
#include "KivMainThread.h"
#include "TestDispatcher.h"
#include "TestSupport.h"

using namespace kiv;
using kivtest::TempDir;
using kivtest::TQueueDispatcher;
using kivtest::TWatchdog;

namespace {

// Bounds every wait for another thread, so that a fault fails the test instead of hanging it.
constexpr std::chrono::seconds Watchdog{30};

struct TEntry {
  TComponent* Sender;
  int32_t ThreadID;
  TLogLevel Level;
  std::string Msg;
  bool OnMainThread;
};

int32_t ThreadID32() { return static_cast<int32_t>(static_cast<uint32_t>(::gettid())); }

std::string ReadFile(const std::string& AName) {
  std::ifstream in(AName, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The messages of a log file's lines, in file order.
std::vector<std::string> FileMessages(const std::string& AName) {
  std::vector<std::string> messages;
  std::string text = ReadFile(AName);
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    std::string line = text.substr(start, end - start);
    size_t colon = line.find(": ");
    messages.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
  }
  return messages;
}

void LibraryLog(void* AContext, int ALevel, const char* AFormat, ...)
    __attribute__((format(printf, 3, 4)));
void LibraryLog(void* AContext, int ALevel, const char* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  av::av_vlog(AContext, ALevel, AFormat, args);
  va_end(args);
}

// A logging object of the media library: an AVClass pointer first, optionally a parent.
struct TFakeContext {
  const AVClass* Class;
  TFakeContext* Parent;
};

AVClass MakeClass(const char* AName, bool AWithParent) {
  AVClass avClass{};
  avClass.class_name = AName;
  avClass.item_name = av::av_default_item_name;
  avClass.version = LIBAVUTIL_VERSION_INT;
  if (AWithParent) avClass.parent_log_context_offset = offsetof(TFakeContext, Parent);
  return avClass;
}

std::string PrefixOf(const char* AName, const void* AContext) {
  char text[64];
  std::snprintf(text, sizeof text, "[%s @ %p] ", AName, AContext);
  return text;
}

// Every test owns a fresh explicit logger and leaves the process-wide settings as it found
// them.
class LoggerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(KivLoader->Load(AVLibraries)) << KivLoader->LastErrMsg();
  }

  void SetUp() override { Logger = std::make_unique<TKivLogger>(nullptr); }

  void TearDown() override {
    if (!Logger) return;
    Logger->SetLogLevel(llInfo);
    Logger->SetLogFlags(1);
    Logger->SetLogToFile(false);
    Logger->SetLogFile("");
    Logger.reset();
  }

  void Record() {
    Logger->SetOnLog(
        [this](TComponent* ASender, int32_t AThreadID, TLogLevel ALevel, const std::string& AMsg) {
          std::lock_guard lock(FEntriesLock);
          FEntries.push_back({ASender, AThreadID, ALevel, AMsg, IsMainThread()});
        });
  }

  std::vector<TEntry> Entries() {
    std::lock_guard lock(FEntriesLock);
    return FEntries;
  }
  size_t EntryCount() {
    std::lock_guard lock(FEntriesLock);
    return FEntries.size();
  }
  std::vector<std::string> Messages() {
    std::vector<std::string> messages;
    for (const TEntry& entry : Entries()) messages.push_back(entry.Msg);
    return messages;
  }
  void ClearEntries() {
    std::lock_guard lock(FEntriesLock);
    FEntries.clear();
  }

  void UseLogFile(const std::string& AName) {
    Logger->SetLogFile(AName);
    Logger->SetLogToFile(true);
  }

  std::unique_ptr<TKivLogger> Logger;

 private:
  std::mutex FEntriesLock;
  std::vector<TEntry> FEntries;
};

// ---- levels

TEST(LogLevels, ToLogLevelBandsOfEight) {
  const std::vector<std::pair<int, TLogLevel>> cases = {
      {-100, llQuiet}, {-8, llQuiet}, {-7, llPanic}, {-1, llPanic},   {0, llPanic}, {7, llPanic},
      {8, llFatal},    {15, llFatal}, {16, llError}, {24, llWarning}, {32, llInfo}, {40, llVerbose},
      {48, llDebug},   {55, llDebug}, {56, llTrace}, {1000, llTrace},
  };
  for (auto [number, level] : cases) EXPECT_EQ(ToLogLevel(number), level) << number;
  for (int i = 0; i < LogLevelCount; ++i) EXPECT_EQ(ToLogLevel(ToAVLogLevel(TLogLevel(i))), i);
  EXPECT_EQ(ToAVLogLevel(llQuiet), AV_LOG_QUIET);
  EXPECT_EQ(ToAVLogLevel(llTrace), AV_LOG_TRACE);
}

TEST_F(LoggerTest, OptLogLevelTakesWordsAndNumbers) {
  const std::vector<std::pair<std::string, TLogLevel>> cases = {
      {"Debug", llDebug}, {"QUIET", llQuiet}, {"warning", llWarning},
      {"trace", llTrace}, {"-1", llPanic},    {"100", llTrace},
      {"-100", llQuiet},  {"24", llWarning},  {"info", llInfo},
  };
  for (const auto& [text, level] : cases) {
    Logger->OptLogLevel(text);
    EXPECT_EQ(Logger->LogLevel(), level) << text;
  }
  Logger->OptLogLevel("error");
  for (const char* bad : {"loud", "", "12x", "99999999999"}) {
    EXPECT_THROW(Logger->OptLogLevel(bad), EConvertError) << bad;
    EXPECT_EQ(Logger->LogLevel(), llError) << bad;
  }
}

TEST_F(LoggerTest, LogLevelFiltersTheLibrary) {
  Record();
  Logger->OptLogLevel("warning");
  LibraryLog(nullptr, AV_LOG_INFO, "below the level\n");
  LibraryLog(nullptr, AV_LOG_WARNING, "at the level\n");
  Logger->SetLogLevel(llQuiet);
  LibraryLog(nullptr, AV_LOG_PANIC, "panic is above quiet\n");
  LibraryLog(nullptr, AV_LOG_QUIET, "quiet passes\n");
  auto entries = Entries();
  ASSERT_EQ(Messages(), (std::vector<std::string>{"at the level", "quiet passes"}));
  EXPECT_EQ(entries[0].Level, llWarning);
  EXPECT_EQ(entries[1].Level, llQuiet);
  EXPECT_EQ(entries[0].Sender, Logger.get());
}

// ---- instances

TEST_F(LoggerTest, OnlyOneExplicitLogger) {
  try {
    TKivLogger second(nullptr);
    FAIL() << "a second logger was created";
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Allow creating only one instance of TKivLogger.");
  }
  EXPECT_EQ(&CurrentLogger(), Logger.get());
}

TEST_F(LoggerTest, HiddenLoggerIsSilentAndGivesWayToAnExplicitOne) {
  Logger.reset();
  TKivLogger& hidden = CurrentLogger();
  EXPECT_TRUE(hidden.AutoCreated());
  EXPECT_TRUE(hidden.Skip());
  LibraryLog(nullptr, AV_LOG_ERROR, "nobody listens\n");
  EXPECT_EQ(&CurrentLogger(), &hidden);

  Logger = std::make_unique<TKivLogger>(nullptr);
  EXPECT_EQ(&CurrentLogger(), Logger.get());
  EXPECT_FALSE(Logger->AutoCreated());
  Record();
  LibraryLog(nullptr, AV_LOG_ERROR, "now it listens\n");
  EXPECT_EQ(Messages(), std::vector<std::string>{"now it listens"});
}

TEST_F(LoggerTest, OwnerFreesTheLogger) {
  Logger.reset();
  {
    TKivBaseComponent owner(nullptr);
    auto* owned = new TKivLogger(&owner);
    EXPECT_EQ(&CurrentLogger(), owned);
  }
  EXPECT_TRUE(CurrentLogger().AutoCreated());
  Logger = std::make_unique<TKivLogger>(nullptr);
}

// ---- Log

TEST_F(LoggerTest, LogDeliversTheEntryAboveTheLevelOnly) {
  TKivBaseComponent sender(nullptr);
  Logger->Log(&sender, llError, "no handler yet");
  Record();
  Logger->Log(&sender, llError, "100% plain text");
  Logger->Log(&sender, llDebug, "below the level");
  Logger->SetLogLevel(llQuiet);
  Logger->Log(nullptr, llQuiet, "quiet always passes");
  Logger->SetLogLevel(llInfo);
  Logger->Log(&sender, llWarning, "%s.%s: %d %X", std::string("TKivDecoder"), "Seek()", 7, 255u);
  Logger->SetActive(false);
  Logger->Log(&sender, llError, "inactive");

  auto entries = Entries();
  ASSERT_EQ(Messages(), (std::vector<std::string>{"100% plain text", "quiet always passes",
                                                  "TKivDecoder.Seek(): 7 FF"}));
  EXPECT_EQ(entries[0].Sender, &sender);
  EXPECT_EQ(entries[0].ThreadID, ThreadID32());
  EXPECT_EQ(entries[0].Level, llError);
  EXPECT_EQ(entries[1].Sender, nullptr);
}

TEST_F(LoggerTest, HandlerThatLogsAgainSeesItsOwnValues) {
  std::vector<std::string> seen;
  Logger->SetOnLog([&](TComponent*, int32_t, TLogLevel, const std::string& AMsg) {
    if (AMsg == "outer") Logger->Log(nullptr, llError, "inner");
    seen.push_back(AMsg);
  });
  Logger->Log(nullptr, llError, "outer");
  EXPECT_EQ(seen, (std::vector<std::string>{"inner", "outer"}));
}

// ---- the library callback

TEST_F(LoggerTest, LibraryLinesCarryTheirContextPrefix) {
  Record();
  AVClass parentClass = MakeClass("parent", false);
  AVClass childClass = MakeClass("child", true);
  TFakeContext parent{&parentClass, nullptr};
  TFakeContext child{&childClass, &parent};
  TFakeContext orphan{&childClass, nullptr};
  const std::string prefix = PrefixOf("parent", &parent) + PrefixOf("child", &child);

  LibraryLog(&child, AV_LOG_ERROR, "value %d\n", 5);
  LibraryLog(&orphan, AV_LOG_ERROR, "alone\n");
  LibraryLog(&child, AV_LOG_WARNING, "partial ");
  LibraryLog(&child, AV_LOG_ERROR, "and the rest\n");  // continues the line: no prefix
  LibraryLog(&child, AV_LOG_INFO, "one\r\ntwo\n");
  LibraryLog(nullptr, AV_LOG_INFO, "%s", "");
  LibraryLog(nullptr, AV_LOG_INFO, "no context\n");

  auto entries = Entries();
  ASSERT_EQ(Messages(),
            (std::vector<std::string>{prefix + "value 5", PrefixOf("child", &orphan) + "alone",
                                      prefix + "partial and the rest", prefix + "one\r", "two",
                                      "no context"}));
  EXPECT_EQ(entries[2].Level, llError);  // the message that ends the line gives the level
  EXPECT_EQ(entries[3].Level, llInfo);
  EXPECT_EQ(entries[4].Level, llInfo);
}

struct TRepeatCase {
  const char* Name;
  int Repeats;
  std::vector<std::string> Expected;
};

TEST_F(LoggerTest, RepeatedLibraryMessagesCollapse) {
  Record();
  const std::vector<TRepeatCase> cases = {
      {"A then B", 1, {"A", "B"}},
      {"A twice", 2, {"A", "B"}},
      {"A three times", 3, {"A", "A", "B"}},
      {"A five times", 5, {"A", "A (repeated 4 times)", "B"}},
  };
  for (const TRepeatCase& c : cases) {
    ClearEntries();
    for (int i = 0; i < c.Repeats; ++i) LibraryLog(nullptr, AV_LOG_ERROR, "A\n");
    LibraryLog(nullptr, AV_LOG_WARNING, "B\n");
    EXPECT_EQ(Messages(), c.Expected) << c.Name;
    auto entries = Entries();
    if (c.Repeats >= 3) {
      EXPECT_EQ(entries[1].Level, llWarning) << c.Name;
    }
  }

  ClearEntries();
  AVClass childClass = MakeClass("child", false);
  TFakeContext child{&childClass, nullptr};
  for (int i = 0; i < 4; ++i) LibraryLog(&child, AV_LOG_ERROR, "same\n");
  LibraryLog(nullptr, AV_LOG_ERROR, "other\n");
  std::string prefix = PrefixOf("child", &child);
  EXPECT_EQ(Messages(), (std::vector<std::string>{prefix + "same",
                                                  prefix + "same (repeated 3 times)", "other"}));
}

TEST_F(LoggerTest, RepeatsPassWhenCollapsingIsOff) {
  Record();
  Logger->SetLogFlags(0);
  for (int i = 0; i < 3; ++i) LibraryLog(nullptr, AV_LOG_ERROR, "again\n");
  Logger->SetLogFlags(1);
  LibraryLog(nullptr, AV_LOG_ERROR, "again\n");  // the last line was not recorded meanwhile
  EXPECT_EQ(Messages(), std::vector<std::string>(4, "again"));
}

TEST_F(LoggerTest, LongLibraryMessagesArriveWhole) {
  Record();
  AVClass childClass = MakeClass("child", false);
  TFakeContext child{&childClass, nullptr};
  const std::string prefix = PrefixOf("child", &child);
  // Around the 2048-byte buffer, then the first heap block and its growth.
  const std::vector<size_t> totals = {
      2046, 2047, 2048, 2049, 4000, prefix.size() + 4096, prefix.size() + 4097, 20000};
  for (size_t total : totals) {
    ClearEntries();
    std::string body(total - prefix.size() - 1, 'x');
    body[0] = 'a';
    body.back() = 'z';
    LibraryLog(&child, AV_LOG_ERROR, "%s\n", body.c_str());
    ASSERT_EQ(EntryCount(), 1u) << total;
    EXPECT_EQ(Entries()[0].Msg, prefix + body) << total;
  }
}

TEST_F(LoggerTest, ThreadsLoggingAtOnceKeepTheirLinesApart) {
  Record();
  Logger->SetTriggerEventInMainThread(false);
  constexpr int threadCount = 4, lineCount = 200;
  std::vector<int32_t> ids(threadCount);
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; ++t) {
    threads.emplace_back([t, &ids] {
      ids[t] = ThreadID32();
      for (int i = 0; i < lineCount; ++i) {
        LibraryLog(nullptr, AV_LOG_INFO, "thread %d ", t);
        LibraryLog(nullptr, AV_LOG_INFO, "line %d", i);
        LibraryLog(nullptr, AV_LOG_INFO, " end\n");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::map<std::string, int32_t> seen;
  for (const TEntry& entry : Entries()) {
    EXPECT_TRUE(seen.emplace(entry.Msg, entry.ThreadID).second) << "twice: " << entry.Msg;
  }
  ASSERT_EQ(seen.size(), size_t(threadCount * lineCount));
  for (int t = 0; t < threadCount; ++t) {
    for (int i = 0; i < lineCount; ++i) {
      std::string line = "thread " + std::to_string(t) + " line " + std::to_string(i) + " end";
      auto found = seen.find(line);
      ASSERT_NE(found, seen.end()) << "missing: " << line;
      EXPECT_EQ(found->second, ids[t]) << line;
    }
  }
}

// ---- the main thread

// The main thread waits for a worker without serving its event queue, as it does inside a
// media-library call that joins the codec's threads. A worker that logs meanwhile must not
// wait for the main thread.
TEST_F(LoggerTest, WorkerLoggingWhileTheMainThreadWaitsForItDoesNotBlock) {
  TQueueDispatcher dispatcher;
  Record();
  std::promise<void> finished;
  std::future<void> done = finished.get_future();
  std::thread worker([&] {
    LibraryLog(nullptr, AV_LOG_ERROR, "from the worker's library ");
    LibraryLog(nullptr, AV_LOG_ERROR, "call\n");
    CurrentLogger().Log(nullptr, llWarning, "from the worker's component");
    finished.set_value();
  });
  bool finishedInTime = done.wait_for(Watchdog) == std::future_status::ready;
  if (!finishedInTime) {  // release the worker so that the suite goes on
    dispatcher.RunUntil(
        [&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        Watchdog);
  }
  worker.join();
  ASSERT_TRUE(finishedInTime) << "the worker waited for the busy main thread";

  EXPECT_EQ(EntryCount(), 0u) << "the handler ran off the main thread";
  dispatcher.RunPending();
  auto entries = Entries();
  ASSERT_EQ(Messages(), (std::vector<std::string>{"from the worker's library call",
                                                  "from the worker's component"}));
  for (const TEntry& entry : entries) EXPECT_TRUE(entry.OnMainThread) << entry.Msg;
  EXPECT_NE(entries[0].ThreadID, ThreadID32());
  EXPECT_EQ(entries[0].Level, llError);
}

// Entries from workers and from the main thread reach the handler once each, on the main
// thread, in the order in which they reached the log file (the order of the logger's lock).
TEST_F(LoggerTest, MainThreadDeliveryKeepsTheLockOrder) {
  TWatchdog watchdog(2 * Watchdog, "MainThreadDeliveryKeepsTheLockOrder");
  TempDir dir;
  TQueueDispatcher dispatcher;
  UseLogFile(dir.File("order.log"));
  Record();
  constexpr int workerCount = 3, lineCount = 100;
  std::vector<std::thread> workers;
  for (int w = 0; w < workerCount; ++w) {
    workers.emplace_back([w] {
      for (int i = 0; i < lineCount; ++i) {
        if (i % 2)
          LibraryLog(nullptr, AV_LOG_ERROR, "worker %d line %d\n", w, i);
        else
          CurrentLogger().Log(nullptr, llError, "worker %d line %d", w, i);
      }
    });
  }
  for (int i = 0; i < lineCount; ++i) {
    Logger->Log(nullptr, llError, "main line %d", i);
    dispatcher.RunPending();
  }
  for (std::thread& worker : workers) worker.join();
  const size_t total = (workerCount + 1) * lineCount;
  ASSERT_TRUE(dispatcher.RunUntil([&] { return EntryCount() >= total; }, Watchdog));
  dispatcher.RunPending();

  std::vector<std::string> delivered = Messages();
  EXPECT_EQ(delivered.size(), total);
  EXPECT_EQ(delivered, FileMessages(dir.File("order.log")));
  for (const TEntry& entry : Entries()) ASSERT_TRUE(entry.OnMainThread) << entry.Msg;
}

// ---- errors inside the callback

TEST_F(LoggerTest, HandlerErrorsStayInsideTheCallback) {
  Logger->SetTriggerEventInMainThread(false);
  std::vector<std::string> seen;
  Logger->SetOnLog([&](TComponent*, int32_t, TLogLevel, const std::string& AMsg) {
    seen.push_back(AMsg);
    if (AMsg.rfind("bad", 0) == 0) throw std::runtime_error("handler broke");
  });
  testing::internal::CaptureStderr();
  LibraryLog(nullptr, AV_LOG_ERROR, "bad one\nfine one\n");
  LibraryLog(nullptr, AV_LOG_ERROR, "bad two\n");
  LibraryLog(nullptr, AV_LOG_ERROR, "fine two\n");
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(seen, (std::vector<std::string>{"bad one", "fine one", "bad two", "fine two"}));
  EXPECT_NE(errors.find("handler broke"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("handler broke"), errors.rfind("handler broke")) << "reported twice";

  // Outside the library the handler's error reaches the caller.
  EXPECT_THROW(Logger->Log(nullptr, llError, "bad three"), std::runtime_error);
}

TEST_F(LoggerTest, UnwritableLogFileStaysInsideTheCallbackAndIsRetried) {
  TempDir dir;
  Record();
  const std::string name = dir.File("later/kiv.log");
  UseLogFile(name);
  testing::internal::CaptureStderr();
  LibraryLog(nullptr, AV_LOG_ERROR, "lost line\n");
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find(name), std::string::npos) << errors;
  EXPECT_THROW(Logger->Log(nullptr, llError, "component line"), ELogFileError);
  EXPECT_EQ(EntryCount(), 0u) << "an entry the file refused reached the handler";

  std::filesystem::create_directory(dir.File("later"));
  LibraryLog(nullptr, AV_LOG_ERROR, "kept line\n");
  EXPECT_EQ(Messages(), std::vector<std::string>{"kept line"});
  EXPECT_EQ(FileMessages(name), std::vector<std::string>{"kept line"});
}

// ---- the log file

TEST_F(LoggerTest, LogFileLineFormat) {
  TempDir dir;
  const std::string name = dir.File("kiv.log");
  UseLogFile(name);
  EXPECT_FALSE(Logger->Skip());
  Logger->Log(nullptr, llWarning, "first");
  LibraryLog(nullptr, AV_LOG_ERROR, "second\n");
  std::string text = ReadFile(name);
  char thread[16];
  std::snprintf(thread, sizeof thread, "%.8X", static_cast<unsigned>(::gettid()));
  std::regex expected(std::string("\\d\\d:\\d\\d:\\d\\d \\d{3} \\[") + thread +
                      "\\] Warning: first\r\n"
                      "\\d\\d:\\d\\d:\\d\\d \\d{3} \\[" +
                      thread + "\\] Error: second\r\n");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(LoggerTest, LogFileAppendsAcrossLoggers) {
  TempDir dir;
  const std::string name = dir.File("kiv.log");
  dir.Write("kiv.log", "earlier\r\n");
  UseLogFile(name);
  Logger->Log(nullptr, llError, "one");
  Logger.reset();  // closes the file; the settings stay
  Logger = std::make_unique<TKivLogger>(nullptr);
  EXPECT_EQ(Logger->LogFile(), name);
  Logger->SetActive(true);
  Logger->Log(nullptr, llError, "two");
  EXPECT_EQ(FileMessages(name), (std::vector<std::string>{"earlier", "one", "two"}));
}

TEST_F(LoggerTest, SecondWriterIsRefused) {
  TempDir dir;
  const std::string name = dir.File("kiv.log");
  int other = ::open(name.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  UseLogFile(name);
  try {
    Logger->Log(nullptr, llError, "refused");
    FAIL() << "wrote to a file another writer holds";
  } catch (const ELogFileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open log file " + name + ": it is in use by another writer");
  }
  ::close(other);
  Logger->Log(nullptr, llError, "accepted");
  EXPECT_EQ(FileMessages(name), std::vector<std::string>{"accepted"});

  // The logger now holds the file: the same name keeps it open, so others stay refused.
  Logger->SetLogFile(name);
  int third = ::open(name.c_str(), O_WRONLY);
  EXPECT_NE(::flock(third, LOCK_EX | LOCK_NB), 0);
  ::close(third);
}

TEST_F(LoggerTest, ClearLogFile) {
  TempDir dir;
  const std::string name = dir.File("kiv.log");
  Logger->SetLogFile(name);
  Logger->ClearLogFile();  // no file: nothing happens
  EXPECT_FALSE(std::filesystem::exists(name));

  Logger->SetLogToFile(true);
  Logger->Log(nullptr, llError, "old");
  Logger->ClearLogFile();  // open: truncated, later lines from the start
  Logger->Log(nullptr, llError, "new");
  EXPECT_EQ(FileMessages(name), std::vector<std::string>{"new"});

  Logger->SetLogToFile(false);  // closes it
  Logger->ClearLogFile();
  EXPECT_FALSE(std::filesystem::exists(name));
}

TEST(LogFileText, ConvertsToTheLocaleCharacterSet) {
  EXPECT_EQ(logging::ConvertText("caf\xC3\xA9 \xE6\x97\xA5!", "ISO-8859-1"), "caf\xE9 ?!");
  EXPECT_EQ(logging::ConvertText("caf\xC3\xA9", "UTF-8"), "caf\xC3\xA9");
  EXPECT_EQ(logging::ConvertText("broken \xC3", "ISO-8859-1"), "broken ?");
}

// ---- loading avutil

TEST_F(LoggerTest, LoadingTheUtilityLibraryInstallsTheCallback) {
  Record();
  av::av_log_set_callback(av::av_log_default_callback);
  KivLoader->SetInstallLogger(false);
  KivLoader->Unload(avUtil);
  ASSERT_TRUE(KivLoader->Load(avUtil));
  testing::internal::CaptureStderr();
  LibraryLog(nullptr, AV_LOG_ERROR, "to the default callback\n");
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(EntryCount(), 0u);

  KivLoader->SetInstallLogger(true);
  KivLoader->Unload(avUtil);
  ASSERT_TRUE(KivLoader->Load(avUtil));
  LibraryLog(nullptr, AV_LOG_ERROR, "to the logger\n");
  EXPECT_EQ(Messages(), std::vector<std::string>{"to the logger"});
}

}  // namespace
