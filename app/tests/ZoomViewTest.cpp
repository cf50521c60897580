#include "ZoomView.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace framebrowser;

namespace {

TEST(ZoomViewTest, ZoomStepsFromAnEighthToThirtyTwo) {
  EXPECT_EQ(ZoomIn(1.0), 1.5);
  EXPECT_EQ(ZoomOut(1.0), 2.0 / 3);
  EXPECT_EQ(ZoomIn(1.2), 1.5) << "from between two steps to the next";
  EXPECT_EQ(ZoomOut(1.2), 1.0);
  EXPECT_EQ(ZoomIn(32), 32);
  EXPECT_EQ(ZoomOut(0.125), 0.125);
  double zoom = 1;
  for (int i = 0; i < 40; ++i) zoom = ZoomOut(zoom);
  EXPECT_EQ(zoom, 0.125);
  EXPECT_EQ(ZoomText(2), "200%");
  EXPECT_EQ(ZoomText(1.0 / 3), "33%");
}

TEST(ZoomViewTest, AFullHDPictureIsCutToTheScreen) {
  EXPECT_EQ(BoundedViewSize({1920, 1080}, {1248, 736}), QSize(1248, 736));
  EXPECT_EQ(BoundedViewSize({320, 240}, {1248, 736}), QSize(320, 240));
  EXPECT_EQ(BoundedViewSize({320, 2000}, {1248, 736}), QSize(320, 736));
}

TEST(ZoomViewTest, FindsThePixelUnderThePointer) {
  // A 100 x 50 picture at 400 % in a 200 x 300 viewport: wider than the view (scrolled by
  // 40), lower than it (centred: 300 - 200 = 100, 50 above).
  const QPointF origin = PictureOrigin({100, 50}, 4, {200, 300}, {40, 999});
  EXPECT_EQ(origin, QPointF(-40, 50));
  EXPECT_EQ(PixelAt({0, 50}, origin, 4, {100, 50}), QPoint(10, 0));
  EXPECT_EQ(PixelAt({3.9, 53.9}, origin, 4, {100, 50}), QPoint(10, 0)) << "same square";
  EXPECT_EQ(PixelAt({4, 54}, origin, 4, {100, 50}), QPoint(11, 1));
  EXPECT_EQ(PixelAt({10, 49}, origin, 4, {100, 50}), QPoint(-1, -1)) << "above the picture";
  EXPECT_EQ(PixelAt({10, 250}, origin, 4, {100, 50}), QPoint(-1, -1)) << "below it";
  EXPECT_EQ(PixelText({11, 1}, qRgb(255, 0, 16)), "(11, 1) RGB 255 0 16");
}

TEST(ZoomViewTest, ZoomingKeepsThePointUnderTheAnchor) {
  // Picture pixel 30 lies at viewport x 20 (origin -100, zoom 4); at zoom 8 it must still.
  const QPoint scroll = ScrollKeeping({20, 20}, {-100, -100}, 4, 8);
  EXPECT_EQ(scroll, QPoint(220, 220));
  EXPECT_EQ(PixelAt({20, 20}, QPointF(-scroll), 8, {1000, 1000}), QPoint(30, 30));
}

TEST(ZoomViewTest, ShowsSquarePixelsAboveActualSizeAndTellsThePixel) {
  QImage image(4, 4, QImage::Format_RGB32);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) image.setPixel(x, y, qRgb(x * 60, y * 60, 200));
  TZoomView view(nullptr);
  view.resize(64, 64);
  view.SetImage(image);
  view.show();
  QSignalSpy zoomed(&view, &TZoomView::ZoomChanged);
  view.SetZoom(16);
  ASSERT_EQ(zoomed.size(), 1);
  EXPECT_EQ(view.Zoom(), 16);
  EXPECT_EQ(view.Origin(), QPointF(0, 0));
  const QImage shown = view.viewport()->grab().toImage();
  // Every 16 x 16 square holds exactly its pixel's colour: no smoothing across squares.
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      for (QPoint at : {QPoint(x * 16, y * 16), QPoint(x * 16 + 15, y * 16 + 15)})
        EXPECT_EQ(shown.pixel(at), image.pixel(x, y)) << x << "," << y;

  QSignalSpy pixels(&view, &TZoomView::PixelChanged);
  QTest::mouseMove(view.viewport(), QPoint(40, 8));
  ASSERT_FALSE(pixels.isEmpty());
  EXPECT_EQ(view.Pixel(), QPoint(2, 0));

  QTest::keyClick(&view, Qt::Key_Minus);
  EXPECT_EQ(view.Zoom(), 12);
  QTest::keyClick(&view, Qt::Key_1);
  EXPECT_EQ(view.Zoom(), 1);
  QSignalSpy clicked(&view, &TZoomView::Clicked);
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(30, 30));
  EXPECT_EQ(clicked.size(), 1);
}

TEST(ZoomViewTest, ALargePictureScrolls) {
  QImage image(1920, 1080, QImage::Format_RGB32);
  image.fill(Qt::darkGreen);
  TZoomView view(nullptr);
  view.resize(640, 360);
  view.SetImage(image);
  view.show();
  QCoreApplication::processEvents();
  EXPECT_GE(view.horizontalScrollBar()->maximum(), 1920 - 640);
  EXPECT_GE(view.verticalScrollBar()->maximum(), 1080 - 360);
  view.SetZoom(0.25, QPointF(0, 0));
  EXPECT_EQ(view.horizontalScrollBar()->maximum(), 0) << "the whole picture fits at 25 %";
  EXPECT_EQ(view.verticalScrollBar()->maximum(), 0);
}

}  // namespace
