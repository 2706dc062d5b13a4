#include "viewer/picture_canvas.h"

#include <algorithm>

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

namespace kav {
namespace {

constexpr int kCheckerSquare = 8;  // screen pixels, whatever the zoom
const QColor kCheckerLight(0xCC, 0xCC, 0xCC);
const QColor kCheckerDark(0x99, 0x99, 0x99);

QPixmap Checkerboard() {
  QPixmap tile(2 * kCheckerSquare, 2 * kCheckerSquare);
  tile.fill(kCheckerLight);
  QPainter painter(&tile);
  painter.fillRect(0, 0, kCheckerSquare, kCheckerSquare, kCheckerDark);
  painter.fillRect(kCheckerSquare, kCheckerSquare, kCheckerSquare, kCheckerSquare, kCheckerDark);
  return tile;
}

}  // namespace

PictureCanvas::PictureCanvas(QWidget* parent) : QWidget(parent), checker_(Checkerboard()) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureCanvas::SetPicture(QImage picture, int shownRows) {
  picture_ = std::move(picture);
  shownRows_ = picture_.isNull() ? 0 : shownRows;
  FitSize();
  update();
}

void PictureCanvas::SetZoom(int zoom) {
  zoom_ = std::clamp(zoom, kMinZoom, kMaxZoom);
  FitSize();
  update();
}

void PictureCanvas::FitSize() {
  setFixedSize(picture_.size() * zoom_);
}

void PictureCanvas::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect exposed = event->rect();
  const int shownHeight = shownRows_ * zoom_;
  painter.fillRect(exposed & QRect(0, 0, width(), shownHeight), QBrush(checker_));
  const QRect undrawn = exposed & QRect(0, shownHeight, width(), height() - shownHeight);
  if (!undrawn.isEmpty()) {
    painter.fillRect(undrawn, palette().window());
    painter.fillRect(undrawn, QBrush(palette().color(QPalette::Mid), Qt::BDiagPattern));
  }
  // The picture's pixels under the exposed part (integer division: the coordinates are not
  // negative), each scaled up alone: nearest neighbour, as SmoothPixmapTransform is off.
  const QRect source = QRect(QPoint(exposed.left() / zoom_, exposed.top() / zoom_),
                             QPoint(exposed.right() / zoom_, exposed.bottom() / zoom_)) &
                       QRect(0, 0, picture_.width(), shownRows_);
  if (!source.isEmpty()) {
    painter.drawImage(QRect(source.x() * zoom_, source.y() * zoom_, source.width() * zoom_,
                            source.height() * zoom_),
                      picture_, source);
  }
}

void PictureCanvas::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  Q_EMIT pixelHovered(QPoint(at.x() / zoom_, at.y() / zoom_));
}

void PictureCanvas::leaveEvent(QEvent* /*event*/) {
  Q_EMIT pixelLeft();
}

void PictureCanvas::wheelEvent(QWheelEvent* event) {
  if (!event->modifiers().testFlag(Qt::ControlModifier)) {
    event->ignore();  // the scroll area scrolls
    return;
  }
  const int delta = event->angleDelta().y();
  if (delta != 0) {
    Q_EMIT zoomWheeled(delta > 0 ? 1 : -1, event->position().toPoint());
  }
  event->accept();
}

}  // namespace kav
