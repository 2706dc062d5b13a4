#include "color/rgb565.h"

namespace kav {

static_assert(PackRgb565(255, 255, 255) == 0xFFFF);
static_assert(PackRgb565(5, 255, 0) == 0x07E0);
static_assert(RedOf(0x1234) == 2 && GreenOf(0x1234) == 17 && BlueOf(0x1234) == 20);

}  // namespace kav
