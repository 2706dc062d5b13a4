#include "app/dialog_units.h"

#include <QFont>
#include <QFontMetrics>

namespace kav {
namespace {

constexpr int kUnitsPerCharacterWidth = 4;
constexpr int kUnitsPerCharacterHeight = 8;
constexpr QStringView kLetters = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

}  // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = static_cast<int>(kLetters.size());
  return {.width = ScaleDialogUnits(metrics.horizontalAdvance(kLetters.toString()), 1, letters),
          .height = metrics.height()};
}

int ScaleDialogUnits(int value, int base, int divisor) {
  const long long scaled = static_cast<long long>(value) * base;
  return static_cast<int>((2 * scaled + divisor) / (2 * static_cast<long long>(divisor)));
}

QRect ToPixels(const DialogRect& rect, DialogBaseUnits units) {
  return {ScaleDialogUnits(rect.x, units.width, kUnitsPerCharacterWidth),
          ScaleDialogUnits(rect.y, units.height, kUnitsPerCharacterHeight),
          ScaleDialogUnits(rect.width, units.width, kUnitsPerCharacterWidth),
          ScaleDialogUnits(rect.height, units.height, kUnitsPerCharacterHeight)};
}

}  // namespace kav
