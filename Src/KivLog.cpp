#include "KivLog.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <deque>
#include <exception>
#include <iostream>

#include "AVUtilStubs.h"
#include "KivLoad.h"
#include "KivLogInternal.h"
#include "KivMainThread.h"

namespace kiv {

using logging::Module;
using logging::TLogModule;

namespace {

struct TLevelNames {
  const char* OptionWord;
  const char* DisplayName;
};

constexpr TLevelNames LevelNames[LogLevelCount] = {
    {"quiet", "Quiet"},     {"panic", "Panic"},     {"fatal", "Fatal"},
    {"error", "Error"},     {"warning", "Warning"}, {"info", "Info"},
    {"verbose", "Verbose"}, {"debug", "Debug"},     {"trace", "Trace"},
};

const std::string OneInstanceText = "Allow creating only one instance of TKivLogger.";

using TLock = std::lock_guard<std::recursive_mutex>;

// Takes both module locks in their order.
struct TBothLocks {
  TBothLocks() : Callback(Module().CallbackLock), Logger(Module().LoggerLock) {}
  TLock Callback;
  TLock Logger;
};

}  // namespace

const char* LogLevelName(TLogLevel ALevel) { return LevelNames[ALevel].DisplayName; }
const char* LogLevelOptionWord(TLogLevel ALevel) { return LevelNames[ALevel].OptionWord; }

// ---- TLogList

TLogList::~TLogList() { Clear(); }

void TLogList::Clear() {
  std::lock_guard lock(FLock);
  // Unlinked one by one: a recursive release of a long chain could exhaust the stack.
  while (FHeader) FHeader = std::move(FHeader->Next);
}

TLogItem* TLogList::FindOrAdd(uintptr_t AThreadID) {
  for (TLogItem* item = FHeader.get(); item; item = item->Next.get())
    if (item->ThreadID == AThreadID) return item;
  auto item = std::make_unique<TLogItem>();
  item->ThreadID = AThreadID;
  item->Next = std::move(FHeader);
  FHeader = std::move(item);
  return FHeader.get();
}

// ---- main-thread delivery

// Entries bound for the main thread, in LoggerLock order. Producers on other threads append
// a copy and post a drain instead of waiting: the main thread may itself be waiting for them
// (inside a media-library call that joins its workers), and a wait would never end. The main
// thread drains before it delivers its own entries, so the handler sees the LoggerLock order.
class TLogDeliveryQueue {
 public:
  explicit TLogDeliveryQueue(TKivLogger* AOwner) : FOwner(AOwner) {}

  // The caller holds LoggerLock.
  void Push(TLogInfo AInfo) { FEntries.push_back(std::move(AInfo)); }
  void Detach() {
    TLock lock(Module().LoggerLock);
    FOwner = nullptr;
    FEntries.clear();
  }

  // Runs on the main thread. With ARethrow the first handler error reaches the caller after
  // the queue is empty; otherwise errors are reported, since nothing above can handle them.
  void Drain(bool ARethrow) {
    TLock lock(Module().LoggerLock);
    std::exception_ptr first;
    while (FOwner && !FEntries.empty()) {
      TLogInfo info = std::move(FEntries.front());
      FEntries.pop_front();
      try {
        FOwner->CallOnLog(info);
      } catch (...) {
        if (ARethrow && !first)
          first = std::current_exception();
        else
          logging::ReportContainedError(DescribeError(std::current_exception()));
      }
    }
    if (first) std::rethrow_exception(first);
  }

  static std::string DescribeError(std::exception_ptr AError) {
    try {
      std::rethrow_exception(AError);
    } catch (const std::exception& e) {
      return std::string("OnLog handler failed: ") + e.what();
    } catch (...) {
      return "OnLog handler failed";
    }
  }

 private:
  TKivLogger* FOwner;
  std::deque<TLogInfo> FEntries;
};

// ---- TKivLogger

TKivLogger::TKivLogger(TComponent* AOwner)
    : TKivBaseComponent(AOwner), FMainThreadQueue(std::make_shared<TLogDeliveryQueue>(this)) {
  TLogModule& m = Module();
  TBothLocks locks;
  TKivLogger* existing = m.LoggerInstance.load();
  if (existing && existing->FAutoCreated) {
    m.LoggerInstance = nullptr;
    delete existing;
  }
  if (m.LoggerInstance.load()) throw EAssertionFailed("KivLog", OneInstanceText);
  FTriggerEventInMainThread = true;
  FLogFlags = m.AVLogFlags.load();
  FLogLevel = ToLogLevel(logging::AVLogLevel.load());
  m.LoggerInstance = this;
}

TKivLogger::~TKivLogger() {
  TLogModule& m = Module();
  TBothLocks locks;
  FOnLog = nullptr;
  FMainThreadQueue->Detach();
  if (m.LoggerInstance.load() == this) m.LoggerInstance = nullptr;
  m.LogStream.Close();
}

bool TKivLogger::Active() const {
  TLock lock(Module().LoggerLock);
  return FActive;
}

void TKivLogger::SetActive(bool AValue) {
  TLock lock(Module().LoggerLock);
  FActive = AValue;
  UpdateSkip();
}

void TKivLogger::SetLogLevel(TLogLevel AValue) {
  if (FLogLevel.exchange(AValue) != AValue) ApplyLogLevel();
}

TPathFileName TKivLogger::LogFile() const {
  TLock lock(Module().LoggerLock);
  return Module().LogFileName;
}

void TKivLogger::SetLogFile(const TPathFileName& AValue) {
  TLogModule& m = Module();
  TLock lock(m.LoggerLock);
  if (m.LogFileName == AValue) return;
  m.LogFileName = AValue;
  m.LogStream.Close();
  UpdateSkip();
}

bool TKivLogger::LogToFile() const {
  TLock lock(Module().LoggerLock);
  return Module().LogToFileFlag;
}

void TKivLogger::SetLogToFile(bool AValue) {
  TLogModule& m = Module();
  TLock lock(m.LoggerLock);
  if (m.LogToFileFlag == AValue) return;
  m.LogToFileFlag = AValue;
  m.LogStream.Close();
  UpdateSkip();
}

TLogEvent TKivLogger::OnLog() const {
  TLock lock(Module().LoggerLock);
  return FOnLog;
}

void TKivLogger::SetOnLog(TLogEvent AValue) {
  TLock lock(Module().LoggerLock);
  FOnLog = std::move(AValue);
  UpdateSkip();
}

void TKivLogger::SetLogFlags(int32_t AValue) {
  if (FLogFlags.exchange(AValue) != AValue) ApplyLogFlags();
}

void TKivLogger::UpdateSkip() {
  const TLogModule& m = Module();
  bool toFile = m.LogToFileFlag && !m.LogFileName.empty();
  FSkip = !(FActive && (FOnLog || toFile));
}

void TKivLogger::ApplyLogFlags() {
  TLogModule& m = Module();
  m.AVLogFlags = FLogFlags.load();
  if (av::av_log_set_flags) av::av_log_set_flags(m.AVLogFlags);
}

void TKivLogger::ApplyLogLevel() {
  // While avutil is not loaded the callback keeps its filter; loading installs the level.
  if (!av::av_log_set_level) return;
  logging::AVLogLevel = ToAVLogLevel(FLogLevel.load());
  av::av_log_set_level(logging::AVLogLevel);
}

void TKivLogger::InstallAVLogCallback() {
  KivAssert(av::av_log_set_callback != nullptr, "KivLog");
  KivAssert(av::av_log_set_level != nullptr, "KivLog");
  {
    TLock lock(Module().LoggerLock);
    av::av_log_set_callback(AVLogCallback);
    Module().CallbackInstalled = true;
  }
  ApplyLogFlags();
  ApplyLogLevel();
}

void TKivLogger::Log(TComponent* Sender, TLogLevel ALogLevel, const std::string& ALogMsg) {
  if (Skipped(ALogLevel)) return;
  TLock lock(Module().LoggerLock);
  Deliver(TLogInfo{Sender, logging::CurrentThreadID(), ALogLevel, ALogMsg});
}

void TKivLogger::LogFromLibrary(uintptr_t AThreadID, int ALevel, const std::string& AText) {
  if (Skip()) return;
  TLock lock(Module().LoggerLock);
  Deliver(TLogInfo{this, AThreadID, ToLogLevel(ALevel), AText});
}

// The caller holds LoggerLock, so file and handler see entries in one order.
void TKivLogger::Deliver(TLogInfo AInfo) {
  TLogModule& m = Module();
  if (m.LogToFileFlag && !m.LogFileName.empty()) logging::WriteLogFile(AInfo);
  if (!FOnLog) return;
  if (!FTriggerEventInMainThread) {
    CallOnLog(AInfo);
    return;
  }
  if (IsMainThread()) {
    FMainThreadQueue->Push(std::move(AInfo));
    FMainThreadQueue->Drain(true);
    return;
  }
  TMainThreadDispatcher* dispatcher = MainThreadDispatcher();
  if (!dispatcher) {
    CallOnLog(AInfo);  // no main-thread loop to hand over to
    return;
  }
  FMainThreadQueue->Push(std::move(AInfo));
  dispatcher->Post([queue = FMainThreadQueue] { queue->Drain(false); });
}

void TKivLogger::CallOnLog(const TLogInfo& AInfo) {
  // A copy: the handler may replace OnLog while it runs.
  TLogEvent handler = FOnLog;
  if (handler)
    handler(AInfo.Sender, static_cast<int32_t>(static_cast<uint32_t>(AInfo.ThreadID)),
            AInfo.LogLevel, AInfo.LogMsg);
}

std::string TKivLogger::FormatLogText(const char* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, AFormat, measure);
  va_end(measure);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<size_t>(length));
    std::vsnprintf(text.data(), text.size() + 1, AFormat, args);
  }
  va_end(args);
  return text;
}

void TKivLogger::OptLogLevel(const std::string& arg) {
  int level = 0;
  bool found = false;
  for (const TLevelNames& names : LevelNames) {
    if (strcasecmp(arg.c_str(), names.OptionWord) == 0) {
      level = ToAVLogLevel(TLogLevel(&names - LevelNames));
      found = true;
      break;
    }
  }
  if (!found) {
    const char* text = arg.c_str();
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (arg.empty() || *end != '\0' || errno == ERANGE || value < INT_MIN || value > INT_MAX)
      throw EConvertError("'" + arg + "' is not a valid integer value");
    level = static_cast<int>(value);
  }
  SetLogLevel(ToLogLevel(level));
}

void TKivLogger::ClearLogFile() {
  TLogModule& m = Module();
  TLock lock(m.LoggerLock);
  if (m.LogStream.IsOpen())
    m.LogStream.Truncate();
  else if (!m.LogFileName.empty() && FileExists(m.LogFileName))
    ::unlink(m.LogFileName.c_str());
}

// ---- module

TKivLogger& CurrentLogger() {
  TLogModule& m = Module();
  if (TKivLogger* logger = m.LoggerInstance.load()) return *logger;
  TBothLocks locks;
  if (!m.LoggerInstance.load()) {
    auto* hidden = new TKivLogger(nullptr);
    hidden->FAutoCreated = true;
  }
  return *m.LoggerInstance.load();
}

namespace logging {

constinit std::atomic<int32_t> AVLogLevel{32};

TLogModule& Module() {
  static TLogModule module;
  return module;
}

uintptr_t CurrentThreadID() {
  static thread_local const uintptr_t id = static_cast<uintptr_t>(::gettid());
  return id;
}

namespace {

// The last contained error and its guard, so that a repeated one is reported once.
struct TContainedErrors {
  std::mutex Guard;
  std::string Last;
};

TContainedErrors& ContainedErrors() {
  static TContainedErrors errors;
  return errors;
}

}  // namespace

void ReportContainedError(const std::string& AText) {
  TContainedErrors& errors = ContainedErrors();
  std::lock_guard lock(errors.Guard);
  if (AText == errors.Last) return;
  errors.Last = AText;
  std::cerr << "Kiv logger: " << AText << std::endl;
}

}  // namespace logging

namespace {

// Module start and end. The module state exists before any logger; the loader's hook makes
// every load of avutil install the callback of the current logger. The callback may still run
// while a module created earlier unloads the libraries at shutdown: what it reaches in other
// source files is created here, so that it is destroyed after that module.
struct TLogModuleLifetime {
  TLogModuleLifetime() {
    Module();
    logging::SystemCodeset();
    logging::ContainedErrors();
    LoaderHooks().UtilLoaded = [] { CurrentLogger().InstallAVLogCallback(); };
  }
  ~TLogModuleLifetime() {
    TLogModule& m = Module();
    TBothLocks locks;
    // A library that outlives this module must not call back into it.
    if (m.CallbackInstalled && av::av_log_set_callback && av::av_log_default_callback)
      av::av_log_set_callback(av::av_log_default_callback);
    TKivLogger* logger = m.LoggerInstance.load();
    if (logger && logger->AutoCreated()) delete logger;
    m.PendingLines.Clear();
  }
};

TLogModuleLifetime LogModuleLifetime;

}  // namespace

}  // namespace kiv
