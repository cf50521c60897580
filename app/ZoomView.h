// The zoomable picture view of the actual-size window: scroll bars when the picture is larger
// than the view, zoom in steps (smooth below 100 %, square pixels above it, for looking at
// single pixels) and the picture pixel under the pointer. The arithmetic is free functions so
// that tests can call it without a window.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QSize>
#include <string>

namespace framebrowser {

// The zoom factors the view steps through, from 1/8 to 32.
double ZoomIn(double AZoom);   // the next step above AZoom (the largest stays)
double ZoomOut(double AZoom);  // the next step below AZoom (the smallest stays)
// "200%", "33%" (rounded).
std::string ZoomText(double AZoom);

// The client size of the view of a picture: the picture's size, cut down to what is available.
QSize BoundedViewSize(QSize APicture, QSize AAvailable);

// Where the picture's top left corner is drawn in a viewport of AViewport at AZoom, scrolled
// by AScroll: centred on an axis where the zoomed picture is smaller than the viewport.
QPointF PictureOrigin(QSize APicture, double AZoom, QSize AViewport, QPoint AScroll);

// The picture pixel under APoint of the viewport, for a picture drawn at AOrigin at AZoom;
// (-1, -1) when the point is not on the picture.
QPoint PixelAt(QPointF APoint, QPointF AOrigin, double AZoom, QSize APicture);

// The scroll position that keeps the picture point under AAnchor (viewport coordinates) where
// it is when the zoom changes from AFrom to ATo.
QPoint ScrollKeeping(QPointF AAnchor, QPointF AOrigin, double AFrom, double ATo);

// "(12, 34) RGB 255 0 16" of a pixel and its colour.
std::string PixelText(QPoint APixel, QRgb AColor);

class TZoomView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit TZoomView(QWidget* AParent);

  void SetImage(const QImage& AImage);
  const QImage& Image() const { return FImage; }
  double Zoom() const { return FZoom; }
  // The picture pixel under the pointer, (-1, -1) when the pointer is not on the picture.
  QPoint Pixel() const { return FPixel; }
  // Changes the zoom, keeping the picture point under AAnchor (viewport coordinates) in place.
  void SetZoom(double AZoom, QPointF AAnchor);
  void SetZoom(double AZoom) { SetZoom(AZoom, QRectF(viewport()->rect()).center()); }
  // Where the picture is drawn in the viewport now.
  QPointF Origin() const;

 signals:
  // The zoom or the pixel under the pointer changed; APixel is (-1, -1) off the picture.
  void ZoomChanged(double AZoom);
  void PixelChanged(QPoint APixel);
  // The picture was clicked (pressed and released without dragging).
  void Clicked();

 protected:
  void paintEvent(QPaintEvent* AEvent) override;
  void resizeEvent(QResizeEvent* AEvent) override;
  void wheelEvent(QWheelEvent* AEvent) override;
  void keyPressEvent(QKeyEvent* AEvent) override;
  void mousePressEvent(QMouseEvent* AEvent) override;
  void mouseMoveEvent(QMouseEvent* AEvent) override;
  void mouseReleaseEvent(QMouseEvent* AEvent) override;
  bool viewportEvent(QEvent* AEvent) override;

 private:
  void UpdateScrollBars();
  void TrackPixel(QPointF APoint);

  QImage FImage;
  double FZoom = 1.0;
  QPoint FPixel{-1, -1};
  // A press on the picture: where, and the scroll position then; a drag pans.
  bool FPressed = false;
  bool FDragged = false;
  QPointF FPressAt;
  QPoint FScrollAtPress;
};

}  // namespace framebrowser
