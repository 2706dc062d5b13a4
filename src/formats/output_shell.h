#pragma once
// The file side shared by every writer: create the output beside its target, stream the
// encoded bytes into it, put it in place, and tell the user when that fails.

#include <functional>
#include <string>

#include "convert/converter_host.h"
#include "formats/byte_sink.h"

namespace kav {

inline constexpr std::string_view kCannotCreateText = "Cannot create output file";
inline constexpr std::string_view kCannotWriteText = "Cannot write output file";
inline constexpr std::string_view kTooLargeText = "This image is too large for this format";

enum class WriteOutcome { kWritten, kCannotCreate, kCannotWrite };

// Creates `outputPath` (never the file at `sourcePath`), lets `encode` write into it and
// puts it in place. On any failure no partial file is left and an older file of that name
// is untouched.
WriteOutcome WriteOutputFile(const std::string& outputPath, const std::string& sourcePath,
                             const std::function<void(ByteSink&)>& encode);

// Shows the owned message box for a failed outcome; true when the file was written.
bool ReportWriteOutcome(ConverterHost& host, WriteOutcome outcome);

}  // namespace kav
