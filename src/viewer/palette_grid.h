#pragma once
// A colour table as a 16 x 16 grid of swatches, index 0 at the top left and index 16 below
// it; the transparent index, if any, is crossed out.

#include <array>
#include <cstdint>

#include <QWidget>

#include "kav/kav_formats.h"

namespace kav {

using ColourTable = std::array<std::uint16_t, KAV_TABLE_ENTRIES>;

class PaletteGrid : public QWidget {
  Q_OBJECT

 public:
  explicit PaletteGrid(QWidget* parent = nullptr);

  // The table's RGB565 colours, and the transparent index (-1 for none).
  void SetTable(const ColourTable& colours, int transparent);
  const ColourTable& colours() const { return colours_; }
  QSize sizeHint() const override;

 Q_SIGNALS:
  void entryHovered(int index);  // -1 when the mouse leaves the grid

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  ColourTable colours_{};
  int transparent_ = -1;
};

// An RGB565 colour as an engine's RGBA8888 drawing shows it: each channel widened by
// repeating its high bits.
QColor WidenedColour(std::uint16_t colour);

}  // namespace kav
