#include "DecoderFrm.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QStyleOptionSlider>
#include <QTest>
#include <QUrl>
#include <fstream>
#include <thread>

#include "MyUtils.h"
#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "ZoomView.h"

using namespace framebrowser;
using namespace framebrowser::test;
using kivtest::MediaFile;

namespace {

const QColor Background(166, 202, 240);

// The share of the picture area's pixels that differ from its background colour.
double PictureShare(const TfrmDecoder& AWindow) {
  const QImage& surface = AWindow.Image1->Surface();
  int64_t differing = 0;
  for (int y = 0; y < surface.height(); ++y)
    for (int x = 0; x < surface.width(); ++x)
      if (surface.pixelColor(x, y) != Background) ++differing;
  return surface.isNull() ? 0.0 : double(differing) / (int64_t(surface.width()) * surface.height());
}

bool HasLine(const QStringList& ALines, const QString& ALine) { return ALines.contains(ALine); }

bool HasLineStarting(const QStringList& ALines, const QString& AStart) {
  return std::any_of(ALines.begin(), ALines.end(),
                     [&](const QString& ALine) { return ALine.startsWith(AStart); });
}

class DecoderFrmTest : public ::testing::Test {
 protected:
  void Open(const std::string& AFile) {
    ASSERT_TRUE(Window.OpenMediaFile(QString::fromStdString(MediaFile(AFile))))
        << Window.LogLines().join('\n').toStdString();
  }
  void MoveSlider(int APosition) { Window.TrackBar1->setValue(APosition); }

  TfrmDecoder Window;
};

struct WidgetCase {
  const char* Name;
  QWidget* Widget;
  QRect Geometry;
  const char* Text;
  const char* Hint;
};

TEST_F(DecoderFrmTest, StartsWithTheDesignedLayoutAndNoFile) {
  EXPECT_EQ(Window.windowTitle(), "Demo of KivDecoder 6.5c - Morlenta");
  // The designed client area, and the status line below it.
  EXPECT_EQ(Window.size(), QSize(681, 408 + TfrmDecoder::StatusLineHeight));
  const WidgetCase widgets[] = {
      {"btnOpen", Window.btnOpen, {16, 8, 45, 25}, "Open", ""},
      {"btnSave", Window.btnSave, {60, 8, 45, 25}, "Save", ""},
      {"btnNextFrame", Window.btnNextFrame, {104, 8, 75, 25}, "Next Frame", ""},
      {"btnPreviousFrame", Window.btnPreviousFrame, {178, 8, 95, 25}, "Previous Frame", ""},
      {"btnNextKF", Window.btnNextKF, {272, 8, 67, 25}, "Next K-F", "Next Key-frame"},
      {"btnPreviousKF",
       Window.btnPreviousKF,
       {338, 8, 75, 25},
       "Previous K-F",
       "Previous Key-frame"},
      {"btnWebSite", Window.btnWebSite, {412, 8, 67, 25}, "Web Site", "https://kiv.example.org"},
      {"btnExit", Window.btnExit, {478, 8, 45, 25}, "Exit", ""},
      {"cboLogLevel", Window.cboLogLevel, {533, 10, 57, 21}, "Info", "LogLevel"},
      {"mmoLog", Window.mmoLog, {16, 47, 305, 304}, nullptr, ""},
      {"Image1",
       Window.Image1,
       {327, 47, 340, 304},
       nullptr,
       "Click to view current picture in actual size"},
      {"TrackBar1", Window.TrackBar1, {16, 357, 651, 45}, nullptr, ""},
  };
  for (const WidgetCase& w : widgets) {
    SCOPED_TRACE(w.Name);
    EXPECT_EQ(w.Widget->geometry(), w.Geometry);
    EXPECT_EQ(w.Widget->toolTip(), w.Hint);
    if (auto* button = qobject_cast<QPushButton*>(w.Widget)) {
      EXPECT_EQ(button->text(), w.Text);
    }
  }
  QStringList items;
  for (int i = 0; i < Window.cboLogLevel->count(); ++i) items << Window.cboLogLevel->itemText(i);
  EXPECT_EQ(items, QStringList({"Quiet", "Panic", "Fatal", "Error", "Warning", "Info", "Verbose",
                                "Debug", "Trace"}));
  EXPECT_EQ(Window.cboLogLevel->currentIndex(), 5);
  EXPECT_EQ(Window.lblPTS->pos(), QPoint(596, 13));
  EXPECT_EQ(Window.lblPTS->text(), "00:00:00.000");
  EXPECT_EQ(Window.LogLines(), QStringList({"https://kiv.example.org", ""}));
  EXPECT_FALSE(Window.TrackBar1->isEnabled());
  EXPECT_EQ(Window.TrackBar1->minimum(), 0);
  EXPECT_EQ(Window.TrackBar1->maximum(), 10);
  EXPECT_EQ(Window.TrackBar1->value(), 0);
  EXPECT_EQ(Window.Image1->Surface().size(), QSize(340, 304));
  EXPECT_EQ(PictureShare(Window), 0.0);

  // Tab order: the buttons left to right, the list, the pane, the slider.
  QWidget* order[] = {Window.btnOpen,          Window.btnSave,   Window.btnNextFrame,
                      Window.btnPreviousFrame, Window.btnNextKF, Window.btnPreviousKF,
                      Window.btnWebSite,       Window.btnExit,   Window.cboLogLevel,
                      Window.mmoLog,           Window.TrackBar1};
  // The focus chain also holds the widgets' own parts (the pane's viewport, for one).
  auto next = [&](QWidget* AWidget) {
    QWidget* n = AWidget->nextInFocusChain();
    while (n != AWidget && std::find(std::begin(order), std::end(order), n) == std::end(order))
      n = n->nextInFocusChain();
    return n;
  };
  for (size_t i = 1; i < std::size(order); ++i) EXPECT_EQ(next(order[i - 1]), order[i]) << i;
}

TEST_F(DecoderFrmTest, ButtonsBeforeAnyOpenReportTheDecodersReason) {
  for (QPushButton* button : {Window.btnNextFrame, Window.btnPreviousFrame, Window.btnNextKF,
                              Window.btnPreviousKF, Window.btnSave})
    button->click();
  const QStringList lines = Window.LogLines();
  EXPECT_EQ(lines.filter(QRegularExpression("^\\*\\*\\*Decode failed: .+")).size(), 4)
      << lines.join('\n').toStdString();
}

TEST_F(DecoderFrmTest, ADroppedFileOpens) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(MediaFile("h264_bframes.mp4")))});
  QDragEnterEvent enter(QPoint(400, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&Window, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(400, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&Window, &drop);
  EXPECT_EQ(Window.Bitmap().Width(), 320);
  EXPECT_TRUE(Window.LogLines().contains("***KivDecoder.FileInfoText"));
}

TEST_F(DecoderFrmTest, StretchesWithTheWindowByItsAnchors) {
  Window.resize(801, 508 + TfrmDecoder::StatusLineHeight);
  Window.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(Window.btnExit->geometry(), QRect(478, 8, 45, 25)) << "left and top";
  EXPECT_EQ(Window.mmoLog->geometry(), QRect(16, 47, 305, 404)) << "left, top and bottom";
  EXPECT_EQ(Window.Image1->geometry(), QRect(327, 47, 460, 404)) << "all four edges";
  EXPECT_EQ(Window.TrackBar1->geometry(), QRect(16, 457, 771, 45)) << "left, right and bottom";
  EXPECT_EQ(Window.Image1->Surface().size(), QSize(460, 404));
}

TEST_F(DecoderFrmTest, OpeningWritesTheReportAndShowsTheFirstPicture) {
  Open("h264_bframes.mp4");
  const QStringList lines = Window.LogLines();
  const qsizetype report = lines.indexOf("***KivDecoder.FileInfoText");
  ASSERT_GE(report, 0) << lines.join('\n').toStdString();
  EXPECT_EQ(lines.mid(0, 2), QStringList({"https://kiv.example.org", ""}));
  // The report's own lines follow, trimmed, then an empty line and the summary.
  const qsizetype size = lines.indexOf(QString::fromStdString(
      kiv::Format("File Size: %lld", (long long)kiv::FileSizeOf(MediaFile("h264_bframes.mp4")))));
  ASSERT_GT(size, report + 2) << lines.join('\n').toStdString();
  EXPECT_EQ(lines[size - 1], "");
  EXPECT_FALSE(lines[report + 1].isEmpty());
  EXPECT_FALSE(lines[report + 1].front().isSpace());
  const QStringList summary = lines.mid(size + 1, 10);
  EXPECT_EQ(summary, QStringList({"File Duration: 00:00:02.000", "Stream #0: Video",
                                  "  Video Length: 00:00:02.000", "  Video Frame Rate: 25.00",
                                  summary.value(4), "  Frame size (width X height): 320x240",
                                  "Stream #1: Audio", "  Audio Length: 00:00:02.000",
                                  "  Audio Sample Rate: 48000 hz", summary.value(9)}))
      << lines.join('\n').toStdString();
  EXPECT_TRUE(summary.value(4).startsWith("  Video Bit Rate: ")) << summary.value(4).toStdString();
  EXPECT_TRUE(summary.value(9).startsWith("  Audio Bit Rate: ")) << summary.value(9).toStdString();

  EXPECT_TRUE(Window.TrackBar1->isEnabled());
  EXPECT_EQ(Window.Frames(), 50);
  EXPECT_EQ(Window.TrackBar1->maximum(), 50);
  EXPECT_EQ(Window.TrackBar1->tickInterval(), 5);
  EXPECT_EQ(Window.TrackBar1->pageStep(), 5);
  EXPECT_EQ(Window.Duration(), 2000000);
  EXPECT_EQ(Window.TrackBar1->value(), 0);
  EXPECT_EQ(Window.lblPTS->text(), "00:00:00.000");
  EXPECT_EQ(Window.Bitmap().Width(), 320);
  EXPECT_EQ(Window.Bitmap().Height(), 240);
  // 320 x 240 in 340 x 304: the width fills, the height is 255 with margins of 24 and 25.
  EXPECT_GT(PictureShare(Window), 0.75);
  EXPECT_EQ(Window.Image1->Surface().pixelColor(170, 10), Background) << "top margin";
  EXPECT_NE(Window.Image1->Surface().pixelColor(170, 30), Background) << "picture";
}

TEST_F(DecoderFrmTest, OneSliderStepDecodesOneFrameAndAJumpSeeks) {
  Open("h264_bframes.mp4");
  MoveSlider(1);
  EXPECT_EQ(Window.CurrentPTS(), 40000);
  EXPECT_EQ(Window.lblPTS->text(), "00:00:00.040");
  EXPECT_EQ(Window.LastPosition(), 1);
  MoveSlider(2);
  EXPECT_EQ(Window.CurrentPTS(), 80000);
  MoveSlider(1);
  EXPECT_EQ(Window.CurrentPTS(), 40000) << "one step left decodes the previous frame";
  EXPECT_EQ(Window.LastPosition(), 1);

  MoveSlider(30);  // 30 / 50 of two seconds
  EXPECT_EQ(Window.CurrentPTS(), 1200000);
  EXPECT_EQ(Window.TrackBar1->value(), 30);
  EXPECT_EQ(Window.LastPosition(), 30);
  MoveSlider(29);
  EXPECT_EQ(Window.CurrentPTS(), 1160000);

  MoveSlider(3);  // back near the start: a seek to the key frame before and decoding forward
  EXPECT_EQ(Window.CurrentPTS(), 120000);
  EXPECT_EQ(Window.TrackBar1->value(), 3);
  EXPECT_TRUE(Window.LogLines().filter(QRegularExpression("^\\*\\*\\*\\w+ failed: ")).isEmpty())
      << Window.LogLines().join('\n').toStdString();
}

TEST_F(DecoderFrmTest, AJumpBehindTheLastPictureShowsTheLastPicture) {
  Open("h264_bframes.mp4");
  MoveSlider(50);
  EXPECT_EQ(Window.CurrentPTS(), 1960000);
  EXPECT_EQ(Window.lblPTS->text(), "00:00:01.960");
  EXPECT_TRUE(HasLineStarting(Window.LogLines(), "***Decode failed: "));
  MoveSlider(49);
  EXPECT_EQ(Window.CurrentPTS(), 1920000);
}

TEST_F(DecoderFrmTest, ButtonsStepAndTheSliderFollows) {
  Open("h264_bframes.mp4");
  Window.btnNextFrame->click();
  Window.btnNextFrame->click();
  EXPECT_EQ(Window.CurrentPTS(), 80000);
  EXPECT_EQ(Window.TrackBar1->value(), 2);
  EXPECT_EQ(Window.LastPosition(), 2);
  Window.btnPreviousFrame->click();
  EXPECT_EQ(Window.CurrentPTS(), 40000);
  Window.btnNextKF->click();
  EXPECT_EQ(Window.CurrentPTS(), 480000) << "the clip has a key frame every 12 pictures";
  EXPECT_EQ(Window.TrackBar1->value(), 12);
  Window.btnPreviousKF->click();
  EXPECT_EQ(Window.CurrentPTS(), 0);
  EXPECT_EQ(Window.TrackBar1->value(), 0);
}

struct NoSliderCase {
  const char* Name;
  const char* File;
  bool Picture;
  const char* DurationLine;
};

TEST_F(DecoderFrmTest, AudioAndPicturesLeaveTheSliderDisabled) {
  const NoSliderCase cases[] = {
      {"audio only", "audio.mp3", false, "File Duration: 00:00:02.0"},
      {"image2 still picture with a duration", "picture.jpg", true, "File Duration: 00:00:00.040"},
      {"picture without a duration", "picture.png", true, "File Duration is not preseted"},
  };
  for (const NoSliderCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Open(c.File);
    const QStringList lines = Window.LogLines();
    EXPECT_TRUE(HasLineStarting(lines, c.DurationLine)) << lines.join('\n').toStdString();
    EXPECT_FALSE(Window.TrackBar1->isEnabled());
    EXPECT_EQ(Window.lblPTS->text(), "00:00:00.000");
    EXPECT_EQ(Window.Bitmap().Width() > 0, c.Picture);
    EXPECT_EQ(PictureShare(Window) > 0.5, c.Picture);
    // A disabled slider ignores moves.
    const int64_t pts = Window.CurrentPTS();
    MoveSlider(5);
    EXPECT_EQ(Window.CurrentPTS(), pts);
  }
  EXPECT_EQ(Window.Duration(), 0) << "the last file has no duration";
}

TEST_F(DecoderFrmTest, AudioOnlyWritesItsStreamAndDecodesNothing) {
  Open("audio.mp3");
  const QStringList lines = Window.LogLines();
  EXPECT_TRUE(HasLine(lines, "Stream #0: Audio")) << lines.join('\n').toStdString();
  EXPECT_TRUE(HasLine(lines, "  Audio Sample Rate: 44100 hz"));
  EXPECT_TRUE(HasLine(lines, "  Audio Bit Rate: 64 kb"));
  EXPECT_FALSE(HasLineStarting(lines, "***Decode failed"));
  EXPECT_GT(Window.Duration(), 0);
  // Resizing without a picture resets the view.
  Window.resize(700, 420);
  Window.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(Window.Duration(), 0);
}

TEST_F(DecoderFrmTest, FailuresGoToTheLogPaneAndTheViewIsReset) {
  Open("h264_bframes.mp4");
  EXPECT_FALSE(Window.OpenMediaFile(QString::fromStdString(MediaFile("random.bin"))));
  QStringList lines = Window.LogLines();
  const qsizetype failed = lines.lastIndexOf(QRegularExpression("^\\*\\*\\*File load error: .+"));
  ASSERT_GT(failed, 0) << lines.join('\n').toStdString();
  EXPECT_EQ(lines[failed - 1], "");
  EXPECT_EQ(lines.value(failed + 1), "");
  EXPECT_EQ(Window.Bitmap().Width(), 0);
  EXPECT_FALSE(Window.TrackBar1->isEnabled());
  EXPECT_EQ(PictureShare(Window), 0.0);

  // Without an open file the buttons report the decoder's reason.
  Window.btnNextFrame->click();
  Window.btnPreviousKF->click();
  lines = Window.LogLines();
  EXPECT_GE(lines.filter(QRegularExpression("^\\*\\*\\*Decode failed: .+")).size(), 2)
      << lines.join('\n').toStdString();
}

TEST_F(DecoderFrmTest, LinesFromOtherThreadsReachThePaneOnTheWindowsThread) {
  Window.cboLogLevel->setCurrentIndex(kiv::llDebug);
  EXPECT_EQ(Window.KivLogger().LogLevel(), kiv::llDebug);
  Window.cboLogLevel->setCurrentIndex(kiv::llInfo);
  EXPECT_EQ(Window.KivLogger().LogLevel(), kiv::llInfo);

  long workerId = 0;
  std::thread worker([&] {
    workerId = syscall(SYS_gettid);
    Window.KivLogger().Log(nullptr, kiv::llWarning, "from a worker");
    Window.KivLogger().Log(nullptr, kiv::llDebug, "below the level");
  });
  worker.join();
  const QString expected = QString("#%1.4: from a worker").arg(workerId);
  EXPECT_FALSE(HasLine(Window.LogLines(), expected)) << "waits for the window's thread";
  QElapsedTimer waited;
  waited.start();
  while (!HasLine(Window.LogLines(), expected) && waited.elapsed() < 30000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_TRUE(HasLine(Window.LogLines(), expected)) << Window.LogLines().join('\n').toStdString();
  EXPECT_FALSE(HasLineStarting(Window.LogLines(), QString("#%1.7:").arg(workerId)));

  Window.KivLogger().Log(nullptr, kiv::llInfo, "from the window's thread");
  EXPECT_TRUE(HasLine(Window.LogLines(),
                      QString("#%1.5: from the window's thread").arg(syscall(SYS_gettid))));
}

TEST_F(DecoderFrmTest, SavesBMPForBmpNamesAndJPEGForAnyOther) {
  EXPECT_FALSE(Window.SavePicture("/tmp/never-written.bmp")) << "no picture held";
  Open("h264_bframes.mp4");
  kivtest::TempDir dir;
  struct {
    const char* Name;
    std::string Magic;
  } const cases[] = {
      {"a.BMP", "BM"}, {"b.bmp", "BM"}, {"c.jpg", "\xFF\xD8"}, {"d.png", "\xFF\xD8"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string file = dir.File(c.Name);
    ASSERT_TRUE(Window.SavePicture(QString::fromStdString(file)));
    std::ifstream in(file, std::ios::binary);
    std::string head(2, '\0');
    in.read(head.data(), 2);
    EXPECT_EQ(head, c.Magic);
  }
  EXPECT_FALSE(Window.SavePicture("/nonexistent-folder/e.bmp"));
  EXPECT_TRUE(HasLineStarting(Window.LogLines(), "***Save failed: "));
}

TEST(DecoderFrmSettingsTest, TheOpenDialogStartsInTheFolderUsedLast) {
  kivtest::TempDir config;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromStdString(config.Path()));
  const QString folder = QFileInfo(QString::fromStdString(MediaFile("audio.mp3"))).absolutePath();
  QSettings("Kiv", "framebrowser").setValue("OpenDialog/Folder", folder);
  TfrmDecoder window;
  EXPECT_EQ(window.OpenDialog1->directory().absolutePath(), folder);
}

TEST_F(DecoderFrmTest, ActualSizeViewShowsTheHeldPicture) {
  EXPECT_EQ(Window.CreateActualSizeView(), nullptr) << "nothing to show";
  Open("h264_bframes.mp4");
  Window.btnNextFrame->click();
  std::unique_ptr<QDialog> view = Window.CreateActualSizeView();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->windowTitle(), "320x240 @ 00:00:00.040");
  EXPECT_EQ(view->size(), QSize(320, 240));
  EXPECT_EQ(view->minimumSize(), view->maximumSize()) << "not resizable";
  EXPECT_EQ(view->parent(), &Window);
}

// ---- frame identity, keys, go to, views

TEST_F(DecoderFrmTest, TheStatusLineNamesThePictureAndTheCaptionTheFile) {
  Open("h264_bframes.mp4");
  EXPECT_EQ(Window.windowTitle(), "h264_bframes.mp4 - Demo of KivDecoder 6.5c - Morlenta");
  EXPECT_TRUE(Window.lblFrameStatus->text().startsWith("Frame 0 of "))
      << Window.lblFrameStatus->text().toStdString();
  ASSERT_TRUE(WaitForExactCount(Window));
  EXPECT_EQ(Window.lblFrameStatus->text().toStdString(),
            "Frame 0 of 50  |  I  key frame  |  00:00:00.00000");
  EXPECT_EQ(Window.lblState->text(), "") << "the index is complete";
  Window.btnNextFrame->click();
  const QString second = Window.lblFrameStatus->text();
  EXPECT_TRUE(second.startsWith("Frame 1 of 50  |  ")) << second.toStdString();
  EXPECT_FALSE(second.contains("key frame")) << second.toStdString();
  EXPECT_TRUE(second.endsWith("  |  00:00:00.04000"))
      << "MP4 counts in 1/12800 s: " << second.toStdString();

  // A file that does not open leaves no name in the caption and no picture on the line.
  EXPECT_FALSE(Window.OpenMediaFile(QString::fromStdString(MediaFile("random.bin"))));
  EXPECT_EQ(Window.windowTitle(), "Demo of KivDecoder 6.5c - Morlenta");
  EXPECT_EQ(Window.lblFrameStatus->text(), "");
}

TEST_F(DecoderFrmTest, TheSliderCountsTheExactPicturesOnceKnown) {
  // Two of every five pictures dropped: the rate-based estimate is not the count.
  Open("nav_h264_vfr.mkv");
  ASSERT_TRUE(WaitForExactCount(Window));
  const int64_t count = Window.KivDecoder().FrameCount();
  EXPECT_EQ(Window.Frames(), count);
  EXPECT_EQ(Window.TrackBar1->maximum(), count);
  EXPECT_TRUE(Window.lblFrameStatus->text().startsWith(QString("Frame 0 of %1  |").arg(count)))
      << Window.lblFrameStatus->text().toStdString();
}

TEST_F(DecoderFrmTest, KeysStepWhicheverWidgetHasTheFocus) {
  Open("h264_bframes.mp4");
  ASSERT_TRUE(WaitForExactCount(Window));
  QWidget* const targets[] = {Window.btnNextFrame, Window.btnExit, Window.cboLogLevel,
                              Window.TrackBar1, Window.mmoLog};
  for (QWidget* target : targets) {
    SCOPED_TRACE(target->metaObject()->className());
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Period);
    QTest::keyClick(target, Qt::Key_Period);
    EXPECT_EQ(Window.KivDecoder().FrameNumber(), 2);
    QTest::keyClick(target, Qt::Key_Comma);
    EXPECT_EQ(Window.KivDecoder().FrameNumber(), 1);
    QTest::keyClick(target, Qt::Key_Comma);
    EXPECT_EQ(Window.KivDecoder().FrameNumber(), 0);
  }
  EXPECT_EQ(Window.cboLogLevel->currentIndex(), kiv::llInfo) << "the keys did not reach it";

  Window.cboLogLevel->setFocus();
  QTest::keyClick(Window.cboLogLevel, Qt::Key_Right);
  EXPECT_EQ(Window.KivDecoder().FrameNumber(), 1);
  QTest::keyClick(Window.cboLogLevel, Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(Window.KivDecoder().FrameNumber(), 12) << "a key frame every 12 pictures";
  QTest::keyClick(Window.cboLogLevel, Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(Window.KivDecoder().FrameNumber(), 24);
  QTest::keyClick(Window.cboLogLevel, Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(Window.KivDecoder().FrameNumber(), 12);
  QTest::keyClick(Window.cboLogLevel, Qt::Key_End);
  EXPECT_EQ(Window.KivDecoder().FrameNumber(), 49);
  EXPECT_EQ(Window.TrackBar1->value(), 49);
  QTest::keyClick(Window.cboLogLevel, Qt::Key_Home);
  EXPECT_EQ(Window.KivDecoder().FrameNumber(), 0);
  EXPECT_EQ(Window.TrackBar1->value(), 0);
  EXPECT_EQ(Shown(Window), ReferencePicture("h264_bframes.mp4", 0));

  // In the log pane the caret keys stay the pane's.
  Window.mmoLog->setFocus();
  QTest::keyClick(Window.mmoLog, Qt::Key_Right);
  QTest::keyClick(Window.mmoLog, Qt::Key_End);
  EXPECT_EQ(Window.KivDecoder().FrameNumber(), 0);

  // Ctrl+C copies the picture, or the log pane's selected text.
  QGuiApplication::clipboard()->clear();
  QTest::keyClick(Window.btnOpen, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(320, 240));
  Window.mmoLog->selectAll();
  QTest::keyClick(Window.mmoLog, Qt::Key_C, Qt::ControlModifier);
  EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith("https://kiv.example.org"));
  EXPECT_TRUE(Window.LogLines().filter(QRegularExpression("^\\*\\*\\*\\w+ failed: ")).isEmpty())
      << Window.LogLines().join('\n').toStdString();
}

TEST_F(DecoderFrmTest, AHeldKeyStepsOncePerRepeatSentAfterTheLastStep) {
  Open("h264_bframes.mp4");
  Window.btnSave->setFocus();
  auto press = [&](bool AAutoRepeat, quint64 ATimestamp) {
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Period, Qt::NoModifier, ".", AAutoRepeat);
    key.setTimestamp(ATimestamp);
    QCoreApplication::sendEvent(Window.btnSave, &key);
  };
  press(false, 1000);
  EXPECT_EQ(Window.KivDecoder().FrameNumber(), 1);
  // A repeat sent before the press that started the step cannot have come after it ended.
  press(true, 999);
  EXPECT_EQ(Window.KivDecoder().FrameNumber(), 1);
  press(true, 1000000);
  EXPECT_EQ(Window.KivDecoder().FrameNumber(), 2);
}

TEST_F(DecoderFrmTest, GoesToATimeOrAnExactPictureNumber) {
  Open("h264_bframes.mp4");
  EXPECT_TRUE(Window.GoTo("37"));
  EXPECT_EQ(Window.KivDecoder().FrameNumber(), 37);
  EXPECT_EQ(Window.CurrentPTS(), 1480000);
  EXPECT_EQ(Window.TrackBar1->value(), 37);
  EXPECT_EQ(Shown(Window), ReferencePicture("h264_bframes.mp4", 37));
  ASSERT_TRUE(WaitForExactCount(Window));
  EXPECT_TRUE(Window.lblFrameStatus->text().startsWith("Frame 37 of 50  |  "));

  EXPECT_TRUE(Window.GoTo(" 00:00:01.000 "));
  EXPECT_EQ(Window.CurrentPTS(), 1000000);
  EXPECT_EQ(Window.KivDecoder().FrameNumber(), 25);
  EXPECT_TRUE(Window.GoTo("0.52"));
  EXPECT_EQ(Window.KivDecoder().FrameNumber(), 13);

  EXPECT_FALSE(Window.GoTo("twelve"));
  EXPECT_TRUE(Window.lblState->text().startsWith("Cannot go to \"twelve\""));
  EXPECT_EQ(Window.KivDecoder().FrameNumber(), 13);
  EXPECT_FALSE(Window.GoTo("500"));
  EXPECT_TRUE(HasLineStarting(Window.LogLines(), "***Decode failed: TKivDecoder.DecodeFrame()"))
      << Window.LogLines().join('\n').toStdString();
}

TEST_F(DecoderFrmTest, TheEndOfTheStreamShowsAsSuch) {
  Open("h264_bframes.mp4");
  ASSERT_TRUE(WaitForExactCount(Window));
  Window.RunCommand(TFrameCommand::LastFrame);
  EXPECT_EQ(Window.KivDecoder().FrameNumber(), 49);
  Window.RunCommand(TFrameCommand::NextFrame);
  EXPECT_TRUE(HasLine(Window.LogLines(),
                      "***Decode failed: TKivDecoder.Decode() for video: stream eof reached."))
      << Window.LogLines().join('\n').toStdString();
  EXPECT_EQ(Window.lblState->text(), "End of stream");
  EXPECT_TRUE(Window.lblFrameStatus->text().startsWith("Frame 49 of 50  |  "))
      << "the last picture stays on show";
  EXPECT_EQ(Window.CurrentPTS(), 1960000);
  Window.RunCommand(TFrameCommand::PreviousFrame);
  EXPECT_EQ(Window.lblState->text(), "");
  EXPECT_TRUE(Window.lblFrameStatus->text().startsWith("Frame 48 of 50  |  "));
}

TEST_F(DecoderFrmTest, ClickingTheSliderTrackJumpsToThePoint) {
  Open("h264_bframes.mp4");
  Window.show();
  QCoreApplication::processEvents();
  QStyleOptionSlider option;
  option.initFrom(Window.TrackBar1);
  const QRect groove = Window.TrackBar1->style()->subControlRect(
      QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, Window.TrackBar1);
  QTest::mouseClick(Window.TrackBar1, Qt::LeftButton, {},
                    QPoint(groove.left() + groove.width() * 3 / 4, groove.center().y()));
  EXPECT_NEAR(Window.TrackBar1->value(), 37, 2) << "not one page (5) on";
  EXPECT_NEAR(double(Window.CurrentPTS()), 1500000.0, 100000.0);
}

TEST_F(DecoderFrmTest, AnAnamorphicPictureIsShownAtItsDisplayAspect) {
  // 720 x 576 with pixels 16:15 wide shows as 768 x 576 in the 340 x 304 area: 340 x 255,
  // 24 above; with square pixels it would be 340 x 272, 16 above.
  Open("sar.mkv");
  EXPECT_EQ(Window.Bitmap().Width(), 720) << "the picture itself keeps its pixels";
  const QImage& surface = Window.Image1->Surface();
  EXPECT_EQ(surface.pixelColor(170, 20), Background);
  EXPECT_EQ(surface.pixelColor(170, 23), Background);
  EXPECT_NE(surface.pixelColor(170, 25), Background);
  EXPECT_EQ(surface.pixelColor(170, 284), Background);
}

TEST_F(DecoderFrmTest, TheActualSizeViewFitsTheScreenAndZooms) {
  kivtest::TempDir dir;
  const QString big = QString::fromStdString(dir.File("big.png"));
  QImage picture(1920, 1080, QImage::Format_RGB32);
  picture.fill(qRgb(10, 20, 30));
  picture.setPixel(1919, 1079, qRgb(200, 100, 50));
  ASSERT_TRUE(picture.save(big));
  ASSERT_TRUE(Window.OpenMediaFile(big));
  std::unique_ptr<QDialog> view = Window.CreateActualSizeView();
  ASSERT_NE(view, nullptr);
  const QSize screen = Window.screen()->availableGeometry().size();
  EXPECT_LE(view->width(), screen.width());
  EXPECT_LE(view->height(), screen.height());
  EXPECT_EQ(view->minimumSize(), view->maximumSize()) << "not resizable";
  EXPECT_EQ(view->windowTitle(), "1920x1080 @ 00:00:00.000");
  auto* zoom = view->findChild<TZoomView*>();
  ASSERT_NE(zoom, nullptr);
  EXPECT_EQ(zoom->Zoom(), 1.0);
  EXPECT_EQ(zoom->Image().pixel(1919, 1079), qRgb(200, 100, 50));
  view->show();
  QTest::keyClick(zoom, Qt::Key_Plus);
  EXPECT_EQ(zoom->Zoom(), 1.5);
  EXPECT_TRUE(view->windowTitle().startsWith("1920x1080 @ 00:00:00.000  150%"))
      << view->windowTitle().toStdString();
  // Escape still closes it.
  QTest::keyClick(zoom, Qt::Key_Escape);
  EXPECT_FALSE(view->isVisible());
}

TEST_F(DecoderFrmTest, SavingStartsInTheOpenedFilesFolderAndThePaneClears) {
  Open("h264_bframes.mp4");
  Window.PrepareSaveDialog();
  EXPECT_EQ(Window.SavePictureDialog1->directory().absolutePath(),
            QFileInfo(QString::fromStdString(MediaFile("h264_bframes.mp4"))).absolutePath());
  Window.ClearLog();
  EXPECT_EQ(Window.mmoLog->toPlainText(), "");
}

// ctest runs this once more on a screen scaled to 200 % (DecoderFrmHiDpiTest); on an
// unscaled screen there is nothing to see.
TEST_F(DecoderFrmTest, ThePictureIsDrawnAtTheScreensResolution) {
  Window.show();
  QCoreApplication::processEvents();
  const qreal ratio = Window.Image1->devicePixelRatioF();
  if (ratio < 2) GTEST_SKIP() << "the screen is not scaled";
  Open("h264_bframes.mp4");
  const QImage& surface = Window.Image1->Surface();
  EXPECT_EQ(surface.size(), QSize(340, 304) * ratio) << "one surface pixel per screen pixel";
  EXPECT_EQ(surface.devicePixelRatio(), ratio);
  // Placed as on an unscaled screen: the width fills, 24 units above and below.
  EXPECT_EQ(surface.pixelColor(int(170 * ratio), int(23 * ratio)), Background);
  EXPECT_NE(surface.pixelColor(int(170 * ratio), int(25 * ratio)), Background);
  // The 320 pixels of a row are spread over 680 screen pixels, not doubled from 340.
  const int y = int(150 * ratio);
  int pairs = 0, equal = 0;
  for (int x = 0; x + 1 < surface.width(); x += 2, ++pairs)
    if (surface.pixel(x, y) == surface.pixel(x + 1, y)) ++equal;
  EXPECT_LT(equal, pairs * 0.9);
}

}  // namespace
