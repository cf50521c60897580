// The media library's log callback: filter, format, assemble lines per thread, collapse
// repeats, deliver.
#include <algorithm>
#include <cstdio>
#include <string_view>

#include "AVUtilStubs.h"
#include "KivLog.h"
#include "KivLogInternal.h"

namespace kiv {

using logging::Module;
using logging::TLogModule;

namespace {

constexpr size_t LineBufferSize = 2048;
constexpr int SkipRepeatedFlag = 1;  // AV_LOG_SKIP_REPEATED

const AVClass* ClassOf(void* AContext) { return *static_cast<const AVClass* const*>(AContext); }

const char* ItemName(void* AContext) {
  const AVClass* avClass = ClassOf(AContext);
  const char* name = avClass->item_name ? avClass->item_name(AContext) : avClass->class_name;
  return name ? name : "";
}

// Appends "[name @ address] " within ARoom bytes; returns the bytes written.
size_t WriteItemPrefix(char* ABuffer, size_t ARoom, void* AContext) {
  int written = std::snprintf(ABuffer, ARoom, "[%s @ %p] ", ItemName(AContext), AContext);
  if (written < 0) return 0;
  return std::min(static_cast<size_t>(written), ARoom - 1);
}

// The prefix of a context at the start of a line: its parent's item first, when it has one.
size_t WritePrefix(char* ABuffer, void* AContext) {
  if (!AContext || !ClassOf(AContext)) return 0;
  size_t length = 0;
  if (int offset = ClassOf(AContext)->parent_log_context_offset) {
    void* parent = *reinterpret_cast<void**>(static_cast<char*>(AContext) + offset);
    if (parent && ClassOf(parent)) length = WriteItemPrefix(ABuffer, LineBufferSize, parent);
  }
  return length + WriteItemPrefix(ABuffer + length, LineBufferSize - length, AContext);
}

// Formats from the start of the argument list each time.
int FormatInto(char* ABuffer, size_t ARoom, const char* AFormat, va_list AArgs) {
  va_list args;
  va_copy(args, AArgs);
  int length = std::vsnprintf(ABuffer, ARoom, AFormat, args);
  va_end(args);
  return length;
}

// Prefix and message as one text. The common message fits the 2048-byte buffer on the stack;
// a longer one goes to a heap block of the prefix length + 4097 bytes, grown in steps of
// 2048 until it fits (vsnprintf tells the length, so the final size is found at once). The
// bytes are kept as they are: FFmpeg's texts are UTF-8 like the library's strings.
std::string FormatLibraryMessage(void* AContext, bool AAtLineStart, const char* AFormat,
                                 va_list AArgs) {
  char buffer[LineBufferSize];
  size_t prefix = AAtLineStart ? WritePrefix(buffer, AContext) : 0;
  int length = FormatInto(buffer + prefix, LineBufferSize - prefix, AFormat, AArgs);
  // An encoding error leaves the message part empty rather than retrying forever.
  if (length < 0) return std::string(buffer, prefix);
  size_t needed = static_cast<size_t>(length);
  if (prefix + needed < LineBufferSize) return std::string(buffer, prefix + needed);

  size_t blockSize = prefix + 4097;
  while (needed >= blockSize - prefix - 1) blockSize += 2048;
  std::string block(blockSize, '\0');
  std::copy(buffer, buffer + prefix, block.begin());
  FormatInto(block.data() + prefix, blockSize - prefix - 1, AFormat, AArgs);
  block.resize(prefix + needed);
  return block;
}

std::string_view Trim(std::string_view AText) {
  while (!AText.empty() && static_cast<unsigned char>(AText.front()) <= ' ') AText.remove_prefix(1);
  while (!AText.empty() && static_cast<unsigned char>(AText.back()) <= ' ') AText.remove_suffix(1);
  return AText;
}

std::string DescribeError(const char* AWhat) {
  return std::string("a library log line was not delivered: ") + AWhat;
}

// Hands a text to the current logger; an error stops at this line.
void DeliverContained(uintptr_t AThreadID, int ALevel, const std::string& AText) {
  try {
    CurrentLogger().LogFromLibrary(AThreadID, ALevel, AText);
  } catch (const std::exception& e) {
    logging::ReportContainedError(DescribeError(e.what()));
  } catch (...) {
    logging::ReportContainedError(DescribeError("unknown error"));
  }
}

// The run of suppressed repeats ending now, reported with the level of the message that ends it.
void ReportRepeats(TLogModule& m, uintptr_t AThreadID, int ALevel) {
  if (m.RepeatCount == 2) {
    DeliverContained(AThreadID, ALevel, std::string(Trim(m.LastLine)));
  } else if (m.RepeatCount >= 3) {
    DeliverContained(
        AThreadID, ALevel,
        std::string(Trim(m.LastLine)) + " (repeated " + std::to_string(m.RepeatCount) + " times)");
  }
  m.RepeatCount = 0;
}

void ResetX87() {
  // Media code may leave the x87 unit in MMX state. Only 32-bit x86 code computes with it.
#if defined(__i386__)
  asm volatile("fninit");
#endif
}

// Guards of TQuietLibraryLog alive on this thread.
thread_local int QuietDepth = 0;

void HandleLibraryMessage(void* AContext, int ALevel, const char* AFormat, va_list AArgs) {
  TLogModule& m = Module();
  std::lock_guard lock(m.CallbackLock);
  if (CurrentLogger().Skip()) return;
  TLogItem* item = m.PendingLines.FindOrAdd(logging::CurrentThreadID());
  ResetX87();
  const bool atLineStart = item->LogMsg.empty();
  std::string text = FormatLibraryMessage(AContext, atLineStart, AFormat, AArgs);

  bool collapse = (m.AVLogFlags.load(std::memory_order_relaxed) & SkipRepeatedFlag) != 0;
  // Only a message that starts a line can be a repeat: the end of another thread's line that
  // happens to match would otherwise be dropped and leave this thread's line unfinished.
  if (collapse && atLineStart && !text.empty() && text.back() == '\n' && text == m.LastLine) {
    ++m.RepeatCount;
    return;
  }
  ReportRepeats(m, item->ThreadID, ALevel);
  if (collapse) m.LastLine = text;

  item->LogMsg += text;
  for (size_t feed; (feed = item->LogMsg.find('\n')) != std::string::npos;) {
    std::string line = item->LogMsg.substr(0, feed);
    item->LogMsg.erase(0, feed + 1);
    DeliverContained(item->ThreadID, ALevel, line);
  }
}

}  // namespace

TQuietLibraryLog::TQuietLibraryLog() { ++QuietDepth; }
TQuietLibraryLog::~TQuietLibraryLog() { --QuietDepth; }

void AVLogCallback(void* avcl, int level, const char* fmt, va_list vl) {
  if (level > logging::AVLogLevel.load(std::memory_order_relaxed) || QuietDepth > 0) return;
  // Nothing may unwind into the media library's C frames.
  try {
    HandleLibraryMessage(avcl, level, fmt, vl);
  } catch (const std::exception& e) {
    logging::ReportContainedError(DescribeError(e.what()));
  } catch (...) {
    logging::ReportContainedError(DescribeError("unknown error"));
  }
}

}  // namespace kiv
