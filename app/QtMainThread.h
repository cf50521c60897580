// Runs the library's main-thread work on the Qt event loop.
#pragma once

#include <QObject>

#include "KivMainThread.h"

namespace framebrowser {

// Installs itself as the library's dispatcher while it lives; create it on the main thread
// after the application object and before any window.
class TQtMainThreadDispatcher : public QObject, public kiv::TMainThreadDispatcher {
 public:
  TQtMainThreadDispatcher();
  ~TQtMainThreadDispatcher() override;

  void RunAndWait(const std::function<void()>& AWork) override;
  void Post(std::function<void()> AWork) override;
};

}  // namespace framebrowser
