// Collects what reaches the process logger, for tests that check log lines.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "KivLog.h"

namespace kivtest {

class LogCapture {
 public:
  struct Entry {
    kiv::TComponent* Sender;
    kiv::TLogLevel Level;
    std::string Text;
  };

  explicit LogCapture(kiv::TLogLevel ALevel = kiv::llTrace) {
    kiv::TKivLogger& logger = kiv::CurrentLogger();
    logger.SetTriggerEventInMainThread(false);
    logger.SetLogLevel(ALevel);
    logger.SetOnLog(
        [this](kiv::TComponent* ASender, int32_t, kiv::TLogLevel ALevel, const std::string& AText) {
          std::lock_guard<std::mutex> guard(FLock);
          FEntries.push_back({ASender, ALevel, AText});
        });
  }
  ~LogCapture() { kiv::CurrentLogger().SetOnLog(nullptr); }

  std::vector<Entry> Entries() {
    std::lock_guard<std::mutex> guard(FLock);
    return FEntries;
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(FLock);
    FEntries.clear();
  }
  // How many lines of exactly this text arrived at this level.
  int Count(kiv::TLogLevel ALevel, const std::string& AText) {
    std::lock_guard<std::mutex> guard(FLock);
    return int(std::count_if(FEntries.begin(), FEntries.end(),
                             [&](const Entry& e) { return e.Level == ALevel && e.Text == AText; }));
  }
  bool Has(kiv::TLogLevel ALevel, const std::string& AText) { return Count(ALevel, AText) > 0; }

 private:
  std::mutex FLock;
  std::vector<Entry> FEntries;
};

}  // namespace kivtest
