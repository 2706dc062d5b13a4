#include "viewer/palette_grid.h"

#include <QMouseEvent>
#include <QPainter>

namespace kav {
namespace {

constexpr int kColumns = 16;
constexpr int kSwatch = 12;  // pixels a side, the grid line included

}  // namespace

QColor WidenedColour(std::uint16_t colour) {
  const int red = colour >> 11, green = colour >> 5 & 63, blue = colour & 31;
  return QColor(red << 3 | red >> 2, green << 2 | green >> 4, blue << 3 | blue >> 2);
}

PaletteGrid::PaletteGrid(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setFixedSize(sizeHint());
}

QSize PaletteGrid::sizeHint() const {
  return {kColumns * kSwatch + 1, kColumns * kSwatch + 1};
}

void PaletteGrid::SetTable(const ColourTable& colours, int transparent) {
  colours_ = colours;
  transparent_ = transparent;
  update();
}

void PaletteGrid::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Dark));
  for (int index = 0; index < KAV_TABLE_ENTRIES; ++index) {
    const QRect swatch((index % kColumns) * kSwatch + 1, (index / kColumns) * kSwatch + 1,
                       kSwatch - 1, kSwatch - 1);
    painter.fillRect(swatch, WidenedColour(colours_[static_cast<std::size_t>(index)]));
    if (index == transparent_) {
      painter.setPen(palette().color(QPalette::WindowText));
      painter.drawLine(swatch.topLeft(), swatch.bottomRight());
      painter.drawLine(swatch.topRight(), swatch.bottomLeft());
    }
  }
}

void PaletteGrid::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  const int column = at.x() / kSwatch, row = at.y() / kSwatch;
  const bool inside = at.x() >= 0 && at.y() >= 0 && column < kColumns && row < kColumns;
  Q_EMIT entryHovered(inside ? row * kColumns + column : -1);
}

void PaletteGrid::leaveEvent(QEvent* /*event*/) {
  Q_EMIT entryHovered(-1);
}

}  // namespace kav
