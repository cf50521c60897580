// The process logger: the single sink of the media libraries' log and of the components' own
// messages. It filters by level, cuts the library's text into lines, collapses repeated
// library messages, appends each line to an optional log file and raises OnLog once per line.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "KivBaseComponent.h"
#include "KivExport.h"
#include "KivTypes.h"

namespace kiv {

// In this order; FFmpeg's level of a value is 8 * ordinal - 8 (AV_LOG_QUIET .. AV_LOG_TRACE).
enum TLogLevel : int {
  llQuiet,
  llPanic,
  llFatal,
  llError,
  llWarning,
  llInfo,
  llVerbose,
  llDebug,
  llTrace,
};

inline constexpr int LogLevelCount = llTrace + 1;

constexpr int ToAVLogLevel(TLogLevel ALevel) { return 8 * ALevel - 8; }

// The level of an FFmpeg level number: bands of eight, -7..7 is llPanic, clamped at both ends.
constexpr TLogLevel ToLogLevel(int ALevel) {
  int ordinal = ALevel / 8 + 1;
  if (ordinal < 0) ordinal = 0;
  if (ordinal > llTrace) ordinal = llTrace;
  return TLogLevel(ordinal);
}

// "Quiet" .. "Trace": the names written to the log file.
KIV_API const char* LogLevelName(TLogLevel ALevel);
// "quiet" .. "trace": the words OptLogLevel accepts.
KIV_API const char* LogLevelOptionWord(TLogLevel ALevel);

// The entry handed to OnLog.
struct TLogInfo {
  TComponent* Sender = nullptr;  // the component that logged; the logger for library lines
  uintptr_t ThreadID = 0;        // operating-system id of the producing thread
  TLogLevel LogLevel = llInfo;
  std::string LogMsg;  // one line without its line end
};

// AThreadID is the low 32 bits of the producing thread's id.
using TLogEvent = std::function<void(TComponent* Sender, int32_t AThreadID, TLogLevel ALogLevel,
                                     const std::string& ALogMsg)>;

// One thread's library text that has not reached a line feed yet.
struct TLogItem {
  uintptr_t ThreadID = 0;
  std::string LogMsg;
  std::unique_ptr<TLogItem> Next;
};

// The pending partial lines, one node per thread, newest first.
class KIV_API TLogList {
 public:
  TLogList() = default;
  ~TLogList();
  TLogList(const TLogList&) = delete;
  TLogList& operator=(const TLogList&) = delete;

  void Clear();
  // The node of AThreadID, added empty at the head when missing. Takes no lock: the caller
  // serialises it with every other use of the list.
  TLogItem* FindOrAdd(uintptr_t AThreadID);

 private:
  std::unique_ptr<TLogItem> FHeader;
  std::mutex FLock;
};

// The log file cannot be opened, is held by another writer, or a write fails.
class KIV_API ELogFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A text that is neither a level word nor an integer.
class KIV_API EConvertError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

class TLogDeliveryQueue;

class KIV_API TKivLogger : public TKivBaseComponent {
 public:
  // Becomes the current logger, replacing a hidden one. A second explicit logger raises
  // EAssertionFailed "Allow creating only one instance of TKivLogger.".
  explicit TKivLogger(TComponent* AOwner = nullptr);
  ~TKivLogger() override;

  std::string ClassName() const override { return "TKivLogger"; }

  bool Active() const;
  void SetActive(bool AValue);
  TLogLevel LogLevel() const { return FLogLevel.load(std::memory_order_relaxed); }
  void SetLogLevel(TLogLevel AValue);
  // Process-wide: every logger reads and writes the same log file settings.
  TPathFileName LogFile() const;
  void SetLogFile(const TPathFileName& AValue);
  bool LogToFile() const;
  void SetLogToFile(bool AValue);
  // True: OnLog runs on the main thread (see Log); false: on the producing thread.
  bool TriggerEventInMainThread() const { return FTriggerEventInMainThread.load(); }
  void SetTriggerEventInMainThread(bool AValue) { FTriggerEventInMainThread = AValue; }
  TLogEvent OnLog() const;
  void SetOnLog(TLogEvent AValue);
  // FFmpeg's log flags; bit 0 (AV_LOG_SKIP_REPEATED) collapses repeated library messages.
  int32_t LogFlags() const { return FLogFlags.load(std::memory_order_relaxed); }
  void SetLogFlags(int32_t AValue);

  // True for the hidden logger that CurrentLogger made.
  bool AutoCreated() const { return FAutoCreated; }

  // Installs AVLogCallback and hands the flags and the level to avutil.
  void InstallAVLogCallback();

  // One message, dropped below LogLevel (llQuiet always passes). With
  // TriggerEventInMainThread and a main-thread dispatcher installed, a message from another
  // thread is queued for the main thread and Log returns without waiting for the handler.
  void Log(TComponent* Sender, TLogLevel ALogLevel, const std::string& ALogMsg);
  // The same with the C library's printf formatting (%d, %s, %X, %.3f ...); std::string
  // arguments are passed as their text.
  template <typename... TArgs>
  requires(sizeof...(TArgs) > 0) void Log(TComponent* Sender, TLogLevel ALogLevel,
                                          const char* AFormat, const TArgs&... AArgs) {
    if (Skipped(ALogLevel)) return;
    Log(Sender, ALogLevel, FormatLogText(AFormat, PrintfArg(AArgs)...));
  }

  // A line of the library's log: AThreadID produced it, ALevel is FFmpeg's level number.
  void LogFromLibrary(uintptr_t AThreadID, int ALevel, const std::string& AText);

  // Sets LogLevel from a level word (any letter case) or an FFmpeg level number; raises
  // EConvertError for anything else.
  void OptLogLevel(const std::string& arg);

  // Empties the log file: truncates the open file, or deletes a closed one.
  void ClearLogFile();

  // True when nothing consumes entries (inactive, or neither handler nor file).
  bool Skip() const { return FSkip.load(std::memory_order_relaxed); }

 private:
  friend TKivLogger& CurrentLogger();
  friend class TLogDeliveryQueue;

  bool Skipped(TLogLevel ALogLevel) const { return Skip() || ALogLevel > LogLevel(); }
  void UpdateSkip();
  void ApplyLogFlags();
  void ApplyLogLevel();
  void Deliver(TLogInfo AInfo);
  void CallOnLog(const TLogInfo& AInfo);

  template <typename T>
  static auto PrintfArg(const T& AValue) {
    if constexpr (std::is_same_v<T, std::string>)
      return AValue.c_str();
    else if constexpr (std::is_array_v<T>)
      return static_cast<const std::remove_extent_t<T>*>(AValue);
    else {
      static_assert(std::is_scalar_v<T>, "printf formatting takes scalars and strings only");
      return AValue;
    }
  }
  static std::string FormatLogText(const char* AFormat, ...) __attribute__((format(printf, 1, 2)));

  bool FAutoCreated = false;
  std::atomic<bool> FSkip{true};
  bool FActive = true;
  std::atomic<bool> FTriggerEventInMainThread{true};
  std::atomic<int32_t> FLogFlags{1};
  std::atomic<TLogLevel> FLogLevel{llInfo};
  TLogEvent FOnLog;
  std::shared_ptr<TLogDeliveryQueue> FMainThreadQueue;
};

// The process's logger; creates a hidden, silent one when there is none.
KIV_API TKivLogger& CurrentLogger();

// The callback handed to av_log_set_callback. It never lets an exception out: a failing log
// file or handler is reported on stderr and the following lines go on.
KIV_API void AVLogCallback(void* avcl, int level, const char* fmt, va_list vl);

// While one is alive, the media library's messages on the thread that made it are dropped:
// for background work that repeats what the decoder already reports, such as a second
// reading of the same input.
class TQuietLibraryLog {
 public:
  TQuietLibraryLog();
  ~TQuietLibraryLog();
  TQuietLibraryLog(const TQuietLibraryLog&) = delete;
  TQuietLibraryLog& operator=(const TQuietLibraryLog&) = delete;
};

}  // namespace kiv
