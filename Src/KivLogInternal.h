// State and helpers shared by the sources of the logger; not part of the library's interface.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "KivLog.h"

namespace kiv::logging {

// The open log file: appended to, held under an exclusive advisory lock while open.
class TLogStream {
 public:
  TLogStream() = default;
  ~TLogStream() { Close(); }
  TLogStream(const TLogStream&) = delete;
  TLogStream& operator=(const TLogStream&) = delete;

  bool IsOpen() const { return FFd >= 0; }
  // Opens or creates AFileName for appending; raises ELogFileError when it cannot, also when
  // another writer holds the file.
  void Open(const TPathFileName& AFileName);
  void Write(const std::string& ABytes);
  void Truncate();
  void Close();

 private:
  int FFd = -1;
  TPathFileName FFileName;
};

// One per process, created at module start.
struct TLogModule {
  // Lock order: CallbackLock before LoggerLock.
  std::recursive_mutex CallbackLock;
  std::recursive_mutex LoggerLock;
  TLogList PendingLines;  // under CallbackLock
  std::atomic<TKivLogger*> LoggerInstance{nullptr};
  // Under LoggerLock.
  TPathFileName LogFileName;
  bool LogToFileFlag = false;
  TLogStream LogStream;
  // The flags last given to avutil; bit 0 enables repeat collapsing. Read without a lock.
  std::atomic<int32_t> AVLogFlags{1};
  // Under CallbackLock.
  std::string LastLine;
  int32_t RepeatCount = 0;
  bool CallbackInstalled = false;  // under LoggerLock
};

TLogModule& Module();

// The level last given to avutil: the callback's first filter. Constant-initialised and kept
// outside the module state so that the test costs one load and one comparison.
extern constinit std::atomic<int32_t> AVLogLevel;

// The operating-system id of the calling thread.
uintptr_t CurrentThreadID();

// Appends AInfo as one line to the log file, opening it first when needed. The caller holds
// LoggerLock.
void WriteLogFile(const TLogInfo& AInfo);

// Converts UTF-8 text to ACodeset; characters it cannot hold become '?'.
std::string ConvertText(const std::string& AText, const std::string& ACodeset);
// The character set of the user's locale.
const std::string& SystemCodeset();

// Reports an error that must not travel further (out of the media library's callback or the
// main thread's event loop) on stderr; an error repeating the previous one is not repeated.
void ReportContainedError(const std::string& AText);

}  // namespace kiv::logging
