#include "ZoomView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <iterator>

#include "MyUtils.h"

namespace framebrowser {

namespace {

constexpr double ZoomSteps[] = {1.0 / 8, 1.0 / 4, 1.0 / 3, 1.0 / 2, 2.0 / 3, 1,  1.5, 2,
                                3,       4,       6,       8,       12,      16, 24,  32};
// Steps closer than this count as the same zoom.
constexpr double SameZoom = 1e-9;
// Pointer travel (pixels) that turns a press into a drag.
constexpr double DragDistance = 4;

}  // namespace

double ZoomIn(double AZoom) {
  for (double step : ZoomSteps)
    if (step > AZoom + SameZoom) return step;
  return std::max(AZoom, ZoomSteps[std::size(ZoomSteps) - 1]);
}

double ZoomOut(double AZoom) {
  for (auto it = std::rbegin(ZoomSteps); it != std::rend(ZoomSteps); ++it)
    if (*it < AZoom - SameZoom) return *it;
  return std::min(AZoom, ZoomSteps[0]);
}

std::string ZoomText(double AZoom) { return kiv::Format("%.0f%%", AZoom * 100); }

QSize BoundedViewSize(QSize APicture, QSize AAvailable) {
  return APicture.boundedTo(AAvailable).expandedTo(QSize(1, 1));
}

QPointF PictureOrigin(QSize APicture, double AZoom, QSize AViewport, QPoint AScroll) {
  auto axis = [AZoom](int APictureLength, int AViewLength, int AScrollAt) {
    const double length = APictureLength * AZoom;
    return length < AViewLength ? std::floor((AViewLength - length) / 2) : -double(AScrollAt);
  };
  return {axis(APicture.width(), AViewport.width(), AScroll.x()),
          axis(APicture.height(), AViewport.height(), AScroll.y())};
}

QPoint PixelAt(QPointF APoint, QPointF AOrigin, double AZoom, QSize APicture) {
  if (AZoom <= 0) return {-1, -1};
  const double x = std::floor((APoint.x() - AOrigin.x()) / AZoom);
  const double y = std::floor((APoint.y() - AOrigin.y()) / AZoom);
  if (x < 0 || y < 0 || x >= APicture.width() || y >= APicture.height()) return {-1, -1};
  return {int(x), int(y)};
}

QPoint ScrollKeeping(QPointF AAnchor, QPointF AOrigin, double AFrom, double ATo) {
  // The picture point under the anchor, in picture pixels, is to stay under the anchor.
  const QPointF point = (AAnchor - AOrigin) / AFrom;
  const QPointF scroll = point * ATo - AAnchor;
  return {int(std::lround(scroll.x())), int(std::lround(scroll.y()))};
}

std::string PixelText(QPoint APixel, QRgb AColor) {
  return kiv::Format("(%d, %d) RGB %d %d %d", APixel.x(), APixel.y(), qRed(AColor), qGreen(AColor),
                     qBlue(AColor));
}

TZoomView::TZoomView(QWidget* AParent) : QAbstractScrollArea(AParent) {
  setFrameShape(QFrame::NoFrame);
  viewport()->setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
}

void TZoomView::SetImage(const QImage& AImage) {
  FImage = AImage;
  UpdateScrollBars();
  viewport()->update();
}

QPointF TZoomView::Origin() const {
  return PictureOrigin(FImage.size(), FZoom, viewport()->size(),
                       {horizontalScrollBar()->value(), verticalScrollBar()->value()});
}

void TZoomView::SetZoom(double AZoom, QPointF AAnchor) {
  if (AZoom <= 0 || std::abs(AZoom - FZoom) < SameZoom) return;
  const QPoint scroll = ScrollKeeping(AAnchor, Origin(), FZoom, AZoom);
  FZoom = AZoom;
  UpdateScrollBars();
  horizontalScrollBar()->setValue(scroll.x());
  verticalScrollBar()->setValue(scroll.y());
  viewport()->update();
  emit ZoomChanged(FZoom);
  TrackPixel(viewport()->mapFromGlobal(QCursor::pos()));
}

void TZoomView::UpdateScrollBars() {
  const QSize zoomed(int(std::ceil(FImage.width() * FZoom)),
                     int(std::ceil(FImage.height() * FZoom)));
  const QSize view = viewport()->size();
  horizontalScrollBar()->setRange(0, std::max(0, zoomed.width() - view.width()));
  verticalScrollBar()->setRange(0, std::max(0, zoomed.height() - view.height()));
  horizontalScrollBar()->setPageStep(view.width());
  verticalScrollBar()->setPageStep(view.height());
  horizontalScrollBar()->setSingleStep(std::max(1, int(FZoom * 8)));
  verticalScrollBar()->setSingleStep(std::max(1, int(FZoom * 8)));
}

void TZoomView::paintEvent(QPaintEvent* /*AEvent*/) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), palette().color(QPalette::Window));
  if (FImage.isNull()) return;
  const QPointF origin = Origin();
  // Only the pixels in view are scaled: at a large zoom the whole picture would be huge.
  const QRectF visible = QRectF(viewport()->rect()).translated(-origin);
  const QRect source = QRectF(visible.topLeft() / FZoom, visible.bottomRight() / FZoom)
                           .toAlignedRect()
                           .intersected(FImage.rect());
  if (source.isEmpty()) return;
  const QRectF target(origin + QPointF(source.topLeft()) * FZoom, QSizeF(source.size()) * FZoom);
  // Below 100 % a smooth reduction; from 100 % on every picture pixel stays a sharp square.
  painter.setRenderHint(QPainter::SmoothPixmapTransform, FZoom < 1.0);
  painter.drawImage(target, FImage, source);
}

void TZoomView::resizeEvent(QResizeEvent* AEvent) {
  QAbstractScrollArea::resizeEvent(AEvent);
  UpdateScrollBars();
}

void TZoomView::wheelEvent(QWheelEvent* AEvent) {
  if (!(AEvent->modifiers() & Qt::ControlModifier)) {
    QAbstractScrollArea::wheelEvent(AEvent);
    return;
  }
  const int delta = AEvent->angleDelta().y();
  if (delta != 0) SetZoom(delta > 0 ? ZoomIn(FZoom) : ZoomOut(FZoom), AEvent->position());
  AEvent->accept();
}

void TZoomView::keyPressEvent(QKeyEvent* AEvent) {
  switch (AEvent->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      SetZoom(ZoomIn(FZoom));
      break;
    case Qt::Key_Minus:
      SetZoom(ZoomOut(FZoom));
      break;
    case Qt::Key_1:
      SetZoom(1.0);
      break;
    default:
      QAbstractScrollArea::keyPressEvent(AEvent);
      return;
  }
  AEvent->accept();
}

void TZoomView::mousePressEvent(QMouseEvent* AEvent) {
  if (AEvent->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(AEvent);
  FPressed = true;
  FDragged = false;
  FPressAt = AEvent->position();
  FScrollAtPress = {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void TZoomView::mouseMoveEvent(QMouseEvent* AEvent) {
  if (FPressed) {
    const QPointF moved = AEvent->position() - FPressAt;
    if (FDragged || moved.manhattanLength() > DragDistance) {
      FDragged = true;
      horizontalScrollBar()->setValue(FScrollAtPress.x() - int(std::lround(moved.x())));
      verticalScrollBar()->setValue(FScrollAtPress.y() - int(std::lround(moved.y())));
    }
  }
  TrackPixel(AEvent->position());
}

void TZoomView::mouseReleaseEvent(QMouseEvent* AEvent) {
  if (AEvent->button() != Qt::LeftButton || !FPressed)
    return QAbstractScrollArea::mouseReleaseEvent(AEvent);
  FPressed = false;
  if (!FDragged && viewport()->rect().contains(AEvent->position().toPoint())) emit Clicked();
}

bool TZoomView::viewportEvent(QEvent* AEvent) {
  if (AEvent->type() == QEvent::Leave) TrackPixel({-1e9, -1e9});
  return QAbstractScrollArea::viewportEvent(AEvent);
}

void TZoomView::TrackPixel(QPointF APoint) {
  const QPoint pixel = PixelAt(APoint, Origin(), FZoom, FImage.size());
  if (pixel == FPixel) return;
  FPixel = pixel;
  emit PixelChanged(pixel);
}

}  // namespace framebrowser
