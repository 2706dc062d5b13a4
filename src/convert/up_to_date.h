#pragma once
// Partial rebuilds (kavconv's -u): an input whose outputs are all as a conversion now would
// write them is passed over.

#include <cstdint>
#include <string>

#include "convert/batch.h"

namespace kav {

// Whether every file the settings ask for (the binary file, its C header, or both, of every
// frame converted: OutputsOfSource) exists, is not older than the source nor than the
// settings' palette file (to the nanosecond), passes the decoder's whole check (kav_open; a
// header must also be exactly the header of the bytes it holds) and was written in the format
// of `settings` with the same settings.
bool OutputsUpToDate(const ConversionSettings& settings, const std::string& sourcePath,
                     const std::string& outputPath);

// Converts as ConvertFile does, unless the outputs are up to date (OutputsUpToDate): then
// nothing is written and the conversion comes to kUpToDate, each of its files listed.
Conversion ConvertUnlessUpToDate(const ConversionSettings& settings, const std::string& sourcePath,
                                 const std::string& outputPath, const OutputWanted& stillWanted);

}  // namespace kav
