// The program itself on a real X server: started with a file and --screenshot, it writes a
// PNG of its window showing the file's first picture.
#include <gtest/gtest.h>

#include <filesystem>

#include <QColor>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>

#include "TestSupport.h"

namespace {

TEST(ScreenshotTest, TheWindowShowsTheFirstPictureUnderX) {
  const QString xvfbRun = QStandardPaths::findExecutable("xvfb-run");
  if (xvfbRun.isEmpty()) GTEST_SKIP() << "xvfb-run is not installed";
  kivtest::TempDir dir;
  const QString png = QString::fromStdString(dir.File("window.png"));

  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "xcb");
  environment.insert("HOME", QString::fromStdString(dir.Path()));  // no settings of the user
  program.setProcessEnvironment(environment);
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  program.start(xvfbRun, {"-a", "-s", "-screen 0 1024x768x24", FRAMEBROWSER_EXE,
                          QString::fromStdString(kivtest::MediaFile("h264_bframes.mp4")),
                          "--screenshot", png});
  ASSERT_TRUE(program.waitForStarted());
  ASSERT_TRUE(program.waitForFinished(120000));
  ASSERT_EQ(program.exitStatus(), QProcess::NormalExit);
  ASSERT_EQ(program.exitCode(), 0);

  const QImage shot(png);
  ASSERT_FALSE(shot.isNull());
  // The designed client area and the status line below it.
  ASSERT_EQ(shot.size() / shot.devicePixelRatio(), QSize(681, 428));
  // The picture area: mostly picture, not the background colour it is cleared with, and
  // the many colours of the test picture rather than one.
  const QColor background(166, 202, 240);
  const QRect area(327, 47, 340, 304);
  int64_t differing = 0, total = 0;
  QSet<QRgb> colours;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x, ++total) {
      const QColor c = shot.pixelColor(x, y);
      if (c != background) ++differing;
      colours.insert(c.rgb());
    }
  EXPECT_GT(double(differing) / total, 0.75);
  EXPECT_GT(colours.size(), 100);
}

// The layout the program is shipped in: a LibAV folder beside it holds the media libraries.
// It opens a file from there and, at the end, releases them at its shutdown.
TEST(ScreenshotTest, AProgramWithALibAVFolderBesideItShowsAPictureAndEndsNormally) {
  kivtest::TempDir dir("LibAV");
  kivtest::LinkMediaLibraries(dir.Path());
  // A copy, not a link: the program finds its folder through its own resolved path.
  const std::string program = dir.Path() + "/../framebrowser";
  std::filesystem::copy_file(FRAMEBROWSER_EXE, program);
  const std::string png = dir.Path() + "/../window.png";

  QProcess run;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  environment.insert("HOME", QString::fromStdString(dir.Path()));
  run.setProcessEnvironment(environment);
  run.setProcessChannelMode(QProcess::ForwardedChannels);
  run.start(QString::fromStdString(program),
            {QString::fromStdString(kivtest::MediaFile("h264_bframes.mp4")), "--screenshot",
             QString::fromStdString(png)});
  ASSERT_TRUE(run.waitForStarted());
  ASSERT_TRUE(run.waitForFinished(120000));
  EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(run.exitCode(), 0);
  EXPECT_FALSE(QImage(QString::fromStdString(png)).isNull());
}

}  // namespace
