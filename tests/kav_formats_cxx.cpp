// The whole decoder, declarations and implementation, as C++ (see CMakeLists.txt).
#define KAV_FORMATS_IMPLEMENTATION
#include "kav/kav_formats.h"
