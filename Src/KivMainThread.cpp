#include "KivMainThread.h"

#include <atomic>
#include <thread>

namespace kiv {

namespace {

std::atomic<TMainThreadDispatcher*> Dispatcher{nullptr};

// The library is loaded with the program, on its first thread.
const std::thread::id MainThreadId = std::this_thread::get_id();

}  // namespace

void SetMainThreadDispatcher(TMainThreadDispatcher* ADispatcher) { Dispatcher = ADispatcher; }

TMainThreadDispatcher* MainThreadDispatcher() { return Dispatcher; }

bool IsMainThread() { return std::this_thread::get_id() == MainThreadId; }

void RunInMainThread(const std::function<void()>& AMethod) {
  TMainThreadDispatcher* dispatcher = Dispatcher;
  if (IsMainThread() || !dispatcher)
    AMethod();
  else
    dispatcher->RunAndWait(AMethod);
}

}  // namespace kiv
