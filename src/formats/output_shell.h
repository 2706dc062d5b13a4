#pragma once
// The file side shared by every writer: create the output beside its target, stream the
// encoded bytes into it, put it in place, and tell the user when that fails.

#include <functional>
#include <string>
#include <system_error>

#include "formats/byte_sink.h"
#include "input/picture.h"
#include "platform/converter_host.h"
#include "platform/memory_block.h"

namespace kav {

inline constexpr std::string_view kCannotCreateText = "Cannot create output file";
inline constexpr std::string_view kCannotWriteText = "Cannot write output file";
inline constexpr std::string_view kTooLargeText = "This image is too large for this format";
inline constexpr std::string_view kAllocationErrorText = "Error allocating memory!";

// Reads the picture at `sourcePath` for a writer. When it cannot be read, an unowned message
// box says why, the status line becomes `loadErrorStatus` and the result is empty.
std::optional<Picture> LoadSource(ConverterHost& host, const std::string& sourcePath,
                                  std::string_view loadErrorStatus);

// Releases the picture and tells the user, in an owned message box, that it does not fit the
// format. Always false, for the writer to return.
bool RefuseTooLarge(ConverterHost& host, Picture& picture);

enum class WriteOutcome { kWritten, kCannotCreate, kCannotWrite, kSourceDamaged, kNotWanted };

// Creates `outputPath` (never the file at `sourcePath`), lets `write` fill it from its start
// (returning whether every write succeeded) and puts it in place, unless the `source`
// picture was damaged meanwhile (its file shrank while mapped) or the host no longer wants the
// output. Otherwise no partial file is left and an older file of that name is untouched;
// `error`, when given, is set to why it failed (OutputFile::LastError()). `source` is released
// once written, before the host is asked: the host may wait for other conversions, which may
// be waiting for the picture memory it holds.
WriteOutcome WriteOutputFile(ConverterHost& host, const std::string& outputPath,
                             const std::string& sourcePath, Picture* source,
                             const std::function<bool(OutputStream&)>& write,
                             std::error_code* error = nullptr);

// Tells the user about a failed outcome: an owned message box, or for a damaged source the
// reader's unowned "This BMP file is corrupt" followed by `loadErrorStatus` in the status
// line, as when the file cannot be loaded; an output no longer wanted is not reported. Why it
// failed, `error`, goes with the message as its cause. True when the file was written.
bool ReportWriteOutcome(ConverterHost& host, WriteOutcome outcome, std::string_view loadErrorStatus,
                        std::error_code error = {});

// How a writer reports: the status line after a failed load, and the status line of each file
// written, "%s" standing for its path.
struct WriterTexts {
  std::string_view loadErrorStatus;
  const char* writtenFormat;
};

// The C header of the output `outputPath`: its path, and its array's name as the settings
// give it or, by default, from the output's file name.
std::string HeaderPathOf(const std::string& outputPath);
std::string HeaderNameOf(const std::string& outputPath, const ConversionSettings& settings);

// Writes and reports the files the settings ask for: the binary file at `outputPath`, a C
// header of the same bytes at `outputPath` + ".h", or the two, each with its own status line
// once it is in place (the binary's first). `write` fills an output from its start;
// `source` is released once it is no longer needed. True when every file was written.
bool WriteOutputs(ConverterHost& host, const std::string& outputPath, const std::string& sourcePath,
                  Picture& source, const WriterTexts& texts,
                  const std::function<bool(OutputStream&)>& write);

}  // namespace kav
