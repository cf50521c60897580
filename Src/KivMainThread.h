// Crossing to the program's main thread. The library has no event loop of its own: a program
// with one installs a dispatcher; without a dispatcher the work runs on the calling thread.
#pragma once

#include <functional>

#include "KivExport.h"

namespace kiv {

class KIV_API TMainThreadDispatcher {
 public:
  virtual ~TMainThreadDispatcher() = default;
  // Runs AWork on the main thread and returns once it has run. Called only from other threads.
  virtual void RunAndWait(const std::function<void()>& AWork) = 0;
  // Queues AWork to run on the main thread later and returns at once.
  virtual void Post(std::function<void()> AWork) = 0;
};

// Installs (or, with nullptr, removes) the program's dispatcher. The caller keeps ownership
// and removes it before destroying it.
KIV_API void SetMainThreadDispatcher(TMainThreadDispatcher* ADispatcher);
KIV_API TMainThreadDispatcher* MainThreadDispatcher();

// True on the thread that started the program.
KIV_API bool IsMainThread();

// Runs AMethod synchronously on the main thread: directly when called there or when no
// dispatcher is installed, otherwise through the dispatcher while the caller waits.
KIV_API void RunInMainThread(const std::function<void()>& AMethod);

}  // namespace kiv
