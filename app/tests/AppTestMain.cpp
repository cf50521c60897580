// The main of the program's tests: an application object and the main-thread dispatcher
// exist for every test, as in the program.
#include <gtest/gtest.h>

#include <QApplication>

#include "QtMainThread.h"

int main(int argc, char* argv[]) {
  // Listing the tests at build time needs no display either.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  framebrowser::TQtMainThreadDispatcher dispatcher;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
