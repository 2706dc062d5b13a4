/* The decoder of include/kav/kav_formats.h, compiled once as C for the whole program. */
#define KAV_FORMATS_IMPLEMENTATION
#include "kav/kav_formats.h"
