// A main-thread dispatcher for tests: work handed to the main thread waits in a queue until
// the test's main thread runs it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "KivMainThread.h"

namespace kivtest {

class TQueueDispatcher : public kiv::TMainThreadDispatcher {
 public:
  TQueueDispatcher() { kiv::SetMainThreadDispatcher(this); }
  ~TQueueDispatcher() override { kiv::SetMainThreadDispatcher(nullptr); }

  void RunAndWait(const std::function<void()>& AWork) override {
    bool done = false;
    Post([&] {
      AWork();
      std::lock_guard lock(FLock);
      done = true;
      FChanged.notify_all();
    });
    std::unique_lock lock(FLock);
    FChanged.wait(lock, [&] { return done; });
  }

  void Post(std::function<void()> AWork) override {
    std::lock_guard lock(FLock);
    FQueue.push_back(std::move(AWork));
    FChanged.notify_all();
  }

  // Runs what is queued now, on the calling thread; returns how many items ran.
  int RunPending() {
    int ran = 0;
    for (;;) {
      std::function<void()> work;
      {
        std::lock_guard lock(FLock);
        if (FQueue.empty()) return ran;
        work = std::move(FQueue.front());
        FQueue.pop_front();
      }
      work();
      ++ran;
    }
  }

  // Serves the queue until ADone holds or ATimeout has passed; returns ADone().
  bool RunUntil(const std::function<bool()>& ADone, std::chrono::seconds ATimeout) {
    auto deadline = std::chrono::steady_clock::now() + ATimeout;
    for (;;) {
      RunPending();
      if (ADone()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::unique_lock lock(FLock);
      FChanged.wait_for(lock, std::chrono::milliseconds(10), [&] { return !FQueue.empty(); });
    }
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<std::function<void()>> FQueue;
};

// Ends the test program with a message when the scope is not left within ATimeout: a test
// whose fault is a deadlock then fails instead of hanging the suite.
class TWatchdog {
 public:
  TWatchdog(std::chrono::seconds ATimeout, std::string AWhat)
      : FThread([this, ATimeout, what = std::move(AWhat)] {
          std::unique_lock lock(FLock);
          if (!FChanged.wait_for(lock, ATimeout, [this] { return FLeft; })) {
            std::fprintf(stderr, "watchdog: %s did not finish in time\n", what.c_str());
            std::_Exit(1);
          }
        }) {}
  ~TWatchdog() {
    {
      std::lock_guard lock(FLock);
      FLeft = true;
    }
    FChanged.notify_all();
    FThread.join();
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FLeft = false;
  std::thread FThread;
};

}  // namespace kivtest
