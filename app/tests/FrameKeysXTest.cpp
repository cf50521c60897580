// The window on a real X server (the test runs under xvfb-run, see CMakeLists.txt): key
// presses on the focused widget step, go to pictures and zoom, and the window shows the very
// pictures a second decoder finds for those numbers. With FRAMEBROWSER_SHOTS naming a folder,
// the screen's pictures of the window and of the view are written there to look at.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include "DecoderFrm.h"
#include "WindowTestSupport.h"
#include "ZoomView.h"

using namespace framebrowser;
using namespace framebrowser::test;

namespace {

class FrameKeysXTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server";
    Window.show();
    Window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window));
  }

  // What the X server shows of a widget.
  static QImage OnScreen(QWidget* AWidget) {
    QCoreApplication::processEvents();
    return AWidget->screen()
        ->grabWindow(AWidget->window()->winId(), AWidget->mapTo(AWidget->window(), QPoint()).x(),
                     AWidget->mapTo(AWidget->window(), QPoint()).y(), AWidget->width(),
                     AWidget->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
  }

  static void Keep(const QImage& AShot, const char* AName) {
    const QString folder = qEnvironmentVariable("FRAMEBROWSER_SHOTS");
    if (!folder.isEmpty()) AShot.save(folder + "/" + AName + ".png");
  }

  // A key press on whichever widget of the window has the focus.
  void Press(Qt::Key AKey, Qt::KeyboardModifiers AModifiers = Qt::NoModifier) {
    QWidget* focused = Window.focusWidget();
    ASSERT_NE(focused, nullptr);
    QTest::keyClick(focused, AKey, AModifiers);
  }

  // The picture on show is picture ANumber, in the window and on the screen, and the status
  // line says so.
  void ExpectPicture(int64_t ANumber) {
    EXPECT_EQ(Window.KivDecoder().FrameNumber(), ANumber);
    EXPECT_TRUE(
        Window.lblFrameStatus->text().startsWith(QString("Frame %1 of 50  |  ").arg(ANumber)))
        << Window.lblFrameStatus->text().toStdString();
    EXPECT_EQ(Shown(Window), ReferencePicture("h264_bframes.mp4", ANumber)) << ANumber;
    const QImage& surface = Window.Image1->Surface();
    EXPECT_EQ(OnScreen(Window.Image1), surface.convertToFormat(QImage::Format_RGB32))
        << "the screen shows the surface the picture was drawn into";
  }

  TfrmDecoder Window;
};

TEST_F(FrameKeysXTest, FrameKeysWithTheFocusOnAButton) {
  ASSERT_TRUE(Window.OpenMediaFile(QString::fromStdString(kivtest::MediaFile("h264_bframes.mp4"))));
  ASSERT_TRUE(WaitForExactCount(Window));
  for (QPushButton* button : {Window.btnNextFrame, Window.btnExit}) {
    SCOPED_TRACE(button->text().toStdString());
    button->setFocus();
    ASSERT_EQ(Window.focusWidget(), button);
    Press(Qt::Key_Period);
    Press(Qt::Key_Period);
    ExpectPicture(2);
    Press(Qt::Key_Comma);
    Press(Qt::Key_Comma);
    ExpectPicture(0);
  }
  EXPECT_TRUE(Window.isVisible()) << "the keys did not press the focused button";

  kiv::TKivDecoder reference;
  ASSERT_TRUE(reference.LoadAVLib(kiv::ExeFilePath() + "LibAV"));
  ASSERT_TRUE(reference.LoadFile(kivtest::MediaFile("h264_bframes.mp4")));
  ASSERT_TRUE(reference.DecodeFrame(0));
  ASSERT_TRUE(reference.DecodeNextKeyFrame());
  const int64_t nextKey = reference.FrameNumber();
  ASSERT_GT(nextKey, 0);
  Press(Qt::Key_Right, Qt::ShiftModifier);
  ExpectPicture(nextKey);
  EXPECT_TRUE(Window.lblFrameStatus->text().contains("key frame"));

  // Ctrl+G opens the go-to box; typed into, it goes to that exact picture.
  bool typed = false;
  QTimer::singleShot(0, &Window, [&] {
    QWidget* box = QApplication::activeModalWidget();
    auto* field = box ? box->findChild<QLineEdit*>() : nullptr;
    if (!field) {
      if (box) box->close();
      return;
    }
    QTest::keyClicks(field, "37");
    QTest::keyClick(field, Qt::Key_Return);
    typed = true;
  });
  Press(Qt::Key_G, Qt::ControlModifier);
  ASSERT_TRUE(typed) << "no go-to box came up";
  ExpectPicture(37);
  Keep(OnScreen(&Window), "window");
}

TEST_F(FrameKeysXTest, TheActualSizeViewOfAFullHDPictureFitsTheScreenAndZooms) {
  kivtest::TempDir dir;
  QImage picture(1920, 1080, QImage::Format_RGB32);
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      picture.setPixel(x, y, qRgb(x * 255 / 1919, y * 255 / 1079, (x / 8 + y / 8) % 2 * 255));
  const QString file = QString::fromStdString(dir.File("fullhd.png"));
  ASSERT_TRUE(picture.save(file));
  ASSERT_TRUE(Window.OpenMediaFile(file));
  std::unique_ptr<QDialog> view = Window.CreateActualSizeView();
  ASSERT_NE(view, nullptr);
  view->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
  const QRect screen = Window.screen()->availableGeometry();
  ASSERT_EQ(screen.size(), QSize(1280, 800)) << "xvfb-run's screen";
  EXPECT_TRUE(screen.contains(view->frameGeometry()))
      << view->frameGeometry().width() << "x" << view->frameGeometry().height();
  auto* zoom = view->findChild<TZoomView*>();
  ASSERT_NE(zoom, nullptr);
  EXPECT_EQ(zoom->Image().size(), QSize(1920, 1080));
  EXPECT_GT(zoom->horizontalScrollBar()->maximum(), 0) << "the rest of the picture scrolls";

  // At 100 % every picture pixel is one screen pixel.
  const QImage actual = OnScreen(zoom->viewport());
  EXPECT_EQ(actual.pixel(100, 50), picture.pixel(100, 50));
  Keep(actual, "view-100");
  // Zoomed in to 400 % around the centre, a pixel is a square of 4 x 4 of one colour.
  for (int i = 0; i < 4; ++i) QTest::keyClick(zoom, Qt::Key_Plus);
  EXPECT_EQ(zoom->Zoom(), 4.0);
  EXPECT_TRUE(view->windowTitle().contains("400%")) << view->windowTitle().toStdString();
  const QImage zoomed = OnScreen(zoom->viewport());
  Keep(zoomed, "view-400");
  const QPointF origin = zoom->Origin();
  const QPoint first = PixelAt(QPointF(0.5, 0.5), origin, 4, picture.size());
  ASSERT_GE(first.x(), 0);
  // The first whole square in view, and its four corners on the screen.
  const QPoint square = first + QPoint(1, 1);
  const QPoint at = (QPointF(square) * 4 + origin).toPoint();
  for (QPoint corner : {at, at + QPoint(3, 0), at + QPoint(0, 3), at + QPoint(3, 3)})
    EXPECT_EQ(zoomed.pixel(corner), picture.pixel(square));
  // The pointer over a pixel names it and its colour in the caption.
  const QPointF over = at + QPointF(1.5, 1.5);
  QMouseEvent move(QEvent::MouseMove, over, zoom->viewport()->mapToGlobal(over), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(zoom->viewport(), &move);
  EXPECT_EQ(zoom->Pixel(), square);
  EXPECT_TRUE(view->windowTitle().endsWith(
      QString::fromStdString(PixelText(square, picture.pixel(square)))))
      << view->windowTitle().toStdString();
  QTest::keyClick(zoom, Qt::Key_Escape);
  EXPECT_FALSE(view->isVisible());
}

}  // namespace
