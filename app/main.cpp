// The Frame Browser: one main window over the decoder. With no argument it starts empty; a
// file argument opens that file, and --screenshot writes a PNG of the window once the file's
// first picture is shown, then ends the program.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>

#include "DecoderFrm.h"
#include "KivAbout.h"
#include "KivBaseComponent.h"
#include "QtMainThread.h"

// Leaks are looked for with the sanitizer builds (scripts/test --sanitize=address), not by
// the program itself at exit.
int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QCoreApplication::setOrganizationName("Kiv");
  QCoreApplication::setApplicationName("framebrowser");

  QCommandLineParser parser;
  parser.setApplicationDescription("Shows the pictures of a video one at a time.");
  parser.addHelpOption();
  parser.addPositionalArgument("file", "The video, audio or picture file to open.", "[file]");
  const QCommandLineOption screenshot(
      "screenshot", "Write a PNG of the window after the first picture is shown, then exit.",
      "png");
  parser.addOption(screenshot);
  parser.process(application);
  const QStringList files = parser.positionalArguments();
  const QString screenshotFile = parser.value(screenshot);

  framebrowser::TQtMainThreadDispatcher dispatcher;
  kiv::SetShowAboutBox(framebrowser::ShowAboutBox);

  int result = 0;
  {
    framebrowser::TfrmDecoder window;
    window.show();
    QTimer::singleShot(0, &window, [&] {
      const bool opened = files.isEmpty() || window.OpenMediaFile(files.first());
      if (screenshotFile.isEmpty()) return;
      // The picture is drawn by now; grab renders the window as it stands.
      if (!window.grab().save(screenshotFile, "PNG")) {
        std::fprintf(stderr, "framebrowser: cannot write %s\n", qPrintable(screenshotFile));
        QCoreApplication::exit(1);
        return;
      }
      // The picture of a file that did not open is still written, but the run has failed.
      QCoreApplication::exit(opened ? 0 : 1);
    });
    result = application.exec();
  }
  kiv::SetShowAboutBox(nullptr);
  return result;
}
