#include "formats/output_shell.h"

#include "formats/c_header.h"
#include "input/read_picture.h"
#include "platform/format_text.h"

namespace kav {
namespace {

// Reports a written output with its status line, or why it was not written.
bool ReportWritten(ConverterHost& host, WriteOutcome outcome, std::error_code error,
                   const WriterTexts& texts, const std::string& outputPath) {
  if (!ReportWriteOutcome(host, outcome, texts.loadErrorStatus, error)) {
    return false;
  }
  host.SetStatusText(FormatText(texts.writtenFormat, outputPath.c_str()));
  return true;
}

// Writes one output whose bytes are ready, and reports it.
bool WriteReady(ConverterHost& host, const std::string& outputPath, const std::string& sourcePath,
                const WriterTexts& texts, const std::function<bool(ByteSink&)>& encode) {
  std::error_code error;
  const WriteOutcome outcome = WriteOutputFile(
      host, outputPath, sourcePath, nullptr,
      [&encode](OutputStream& file) {
        FileSink sink(file);
        return encode(sink) && sink.Flush();
      },
      &error);
  return ReportWritten(host, outcome, error, texts, outputPath);
}

std::string_view FileNameOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::optional<Picture> LoadSource(ConverterHost& host, const std::string& sourcePath,
                                  std::string_view loadErrorStatus) {
  ReadResult read = ReadPicture(sourcePath);
  if (!read) {
    host.ShowError(MessageOwner::kNone, ReadFailureText(read.failed().failure),
                   ErrorText(read.failed().cause));
    host.SetStatusText(std::string(loadErrorStatus));
    return std::nullopt;
  }
  return std::move(*read);
}

bool RefuseTooLarge(ConverterHost& host, Picture& picture) {
  picture.Release();
  host.ShowError(MessageOwner::kMainDialog, kTooLargeText);
  return false;
}

WriteOutcome WriteOutputFile(ConverterHost& host, const std::string& outputPath,
                             const std::string& sourcePath, Picture* source,
                             const std::function<bool(OutputStream&)>& write,
                             std::error_code* error) {
  OutputFile file;
  const auto failed = [&file, error](WriteOutcome outcome) {
    if (error != nullptr) {
      *error = file.LastError();
    }
    return outcome;
  };
  if (!file.Create(outputPath, sourcePath)) {
    return failed(WriteOutcome::kCannotCreate);
  }
  const bool written = write(file);
  const bool damaged = source != nullptr && source->Damaged();
  if (source != nullptr) {
    source->Release();
  }
  // On each early return the temporary file goes with `file`.
  if (damaged || file.FailedReadingSource()) {
    return failed(WriteOutcome::kSourceDamaged);
  }
  if (!written) {
    return failed(WriteOutcome::kCannotWrite);
  }
  if (!host.OutputStillWanted()) {
    return WriteOutcome::kNotWanted;
  }
  return failed(file.Commit() ? WriteOutcome::kWritten : WriteOutcome::kCannotWrite);
}

bool ReportWriteOutcome(ConverterHost& host, WriteOutcome outcome, std::string_view loadErrorStatus,
                        std::error_code error) {
  const std::string cause = ErrorText(error);
  switch (outcome) {
    case WriteOutcome::kWritten:
      return true;
    case WriteOutcome::kCannotCreate:
      host.ShowError(MessageOwner::kMainDialog, kCannotCreateText, cause);
      return false;
    case WriteOutcome::kCannotWrite:
      host.ShowError(MessageOwner::kMainDialog, kCannotWriteText, cause);
      return false;
    case WriteOutcome::kSourceDamaged:
      host.ShowError(MessageOwner::kNone, ReadFailureText(ReadFailure::kBmpCorrupt));
      host.SetStatusText(std::string(loadErrorStatus));
      return false;
    case WriteOutcome::kNotWanted:
      return false;
  }
  return false;
}

std::string HeaderPathOf(const std::string& outputPath) {
  return outputPath + ".h";
}

std::string HeaderNameOf(const std::string& outputPath, const ConversionSettings& settings) {
  return settings.headerName.empty() ? CIdentifierFor(FileNameOf(outputPath)) : settings.headerName;
}

bool WriteOutputs(ConverterHost& host, const std::string& outputPath, const std::string& sourcePath,
                  Picture& source, const WriterTexts& texts,
                  const std::function<bool(OutputStream&)>& write) {
  const ConversionSettings settings = host.Settings();
  if (settings.emitted == Emit::kBinary) {  // straight into the file, with no copy in memory
    std::error_code error;
    const WriteOutcome outcome =
        WriteOutputFile(host, outputPath, sourcePath, &source, write, &error);
    return ReportWritten(host, outcome, error, texts, outputPath);
  }
  MemoryOutput encoded;
  const bool whole = write(encoded);
  const bool damaged = source.Damaged();
  source.Release();
  if (damaged) {
    return ReportWriteOutcome(host, WriteOutcome::kSourceDamaged, texts.loadErrorStatus);
  }
  if (!whole) {
    host.SetStatusText(std::string(kAllocationErrorText));
    return false;
  }
  const std::span<const std::uint8_t> bytes = encoded.bytes();
  if (settings.emitted == Emit::kBoth &&
      !WriteReady(host, outputPath, sourcePath, texts, [bytes](ByteSink& sink) {
        sink.Write(bytes);
        return true;
      })) {
    return false;
  }
  const std::string name = HeaderNameOf(outputPath, settings);
  return WriteReady(host, HeaderPathOf(outputPath), sourcePath, texts, [&](ByteSink& sink) {
    EncodeCHeader(bytes, name, sink);
    return true;
  });
}

}  // namespace kav
