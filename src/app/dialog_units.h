#pragma once
// Dialog units: positions and sizes that scale with the dialog's font. A horizontal unit is
// a quarter of the font's average character width, a vertical unit an eighth of its height,
// so a layout drawn for one font keeps its proportions, and its labels their room, in
// another.

#include <QRect>

#include "app/dialog_template.h"

class QFont;

namespace kav {

// The font's average character width and height in pixels.
struct DialogBaseUnits {
  int width = 0;
  int height = 0;
};

// The average character width is that of the 52 letters A to Z and a to z, rounded to the
// nearest pixel: the measure that dialog layouts of this kind were drawn against.
DialogBaseUnits BaseUnitsOf(const QFont& font);

// value * base / divisor, rounded to the nearest whole pixel (halves up).
int ScaleDialogUnits(int value, int base, int divisor);

QRect ToPixels(const DialogRect& rect, DialogBaseUnits units);

}  // namespace kav
