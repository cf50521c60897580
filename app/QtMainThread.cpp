#include "QtMainThread.h"

#include <QMetaObject>

namespace framebrowser {

TQtMainThreadDispatcher::TQtMainThreadDispatcher() { kiv::SetMainThreadDispatcher(this); }

TQtMainThreadDispatcher::~TQtMainThreadDispatcher() { kiv::SetMainThreadDispatcher(nullptr); }

void TQtMainThreadDispatcher::RunAndWait(const std::function<void()>& AWork) {
  QMetaObject::invokeMethod(
      this, [&AWork] { AWork(); }, Qt::BlockingQueuedConnection);
}

void TQtMainThreadDispatcher::Post(std::function<void()> AWork) {
  QMetaObject::invokeMethod(this, std::move(AWork), Qt::QueuedConnection);
}

}  // namespace framebrowser
