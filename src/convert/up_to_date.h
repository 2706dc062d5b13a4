#pragma once
// Partial rebuilds (kavconv's -u): an input whose outputs are all as a conversion now would
// write them is passed over.

#include <cstdint>
#include <string>

#include "platform/converter_host.h"

namespace kav {

// Converts as ConvertFile does, unless every file the settings ask for (the binary file, its C
// header, or both) exists, is not older than the source (to the nanosecond), and was written
// in the format asked for with the same settings: then each gets the status line
// "<output> is up to date", and the result is true.
bool ConvertUnlessUpToDate(ConverterHost& host, std::int32_t format, const std::string& sourcePath,
                           const std::string& outputPath);

}  // namespace kav
