#include "formats/output_shell.h"

#include "formats/c_header.h"
#include "platform/file.h"

namespace kav {
namespace {

std::string_view FileNameOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// A source that shrank while it was converted counts as a file of its kind that is corrupt.
Conversion SourceDamaged(InputKind kind) {
  Conversion damaged = NothingWritten(Outcome::kSourceDamaged);
  damaged.read = {.failure = CorruptFailureOf(kind), .kind = kind, .cause = {}};
  return damaged;
}

// Writes one output of `conversion` whose bytes are ready, and notes it as written or why not.
void WriteReady(const std::string& path, const OutputTarget& target,
                const std::function<void(ByteSink&)>& encode, Conversion& conversion) {
  const OutputTarget file{.path = path,
                          .source = target.source,
                          .stillWanted = target.stillWanted,
                          .held = target.held};
  conversion.outcome = WriteOutputFile(
      file, nullptr,
      [&encode](OutputStream& output) {
        FileSink sink(output);
        encode(sink);
        return sink.Flush();
      },
      &conversion.cause);
  if (conversion.outcome == Outcome::kWritten) {
    conversion.files.push_back(path);
  }
}

// Straight into the file, with no copy in memory.
Conversion WriteBinary(Picture& source, const OutputTarget& target,
                       const std::function<bool(OutputStream&)>& write) {
  const InputKind kind = source.kind();
  Conversion conversion;
  conversion.outcome = WriteOutputFile(target, &source, write, &conversion.cause);
  if (conversion.outcome == Outcome::kSourceDamaged) {
    return SourceDamaged(kind);
  }
  if (conversion.outcome == Outcome::kWritten) {
    conversion.files.push_back(target.path);
  }
  return conversion;
}

// The bytes once in memory, then each file the settings ask for from them.
Conversion WriteFromMemory(Picture& source, const ConversionSettings& settings,
                           const OutputTarget& target,
                           const std::function<bool(OutputStream&)>& write) {
  MemoryOutput encoded;
  const bool whole = write(encoded);
  const bool damaged = source.Damaged();
  source.Release();
  if (damaged) {
    return SourceDamaged(source.kind());
  }
  if (!whole) {
    return NothingWritten(Outcome::kOutOfMemory);
  }
  const std::span<const std::uint8_t> bytes = encoded.bytes();
  Conversion conversion;
  if (settings.emitted == Emit::kBoth) {
    WriteReady(
        target.path, target, [bytes](ByteSink& sink) { sink.Write(bytes); }, conversion);
    if (conversion.outcome != Outcome::kWritten) {
      return conversion;
    }
  }
  const std::string name = HeaderNameOf(target.path, settings);
  WriteReady(
      HeaderPathOf(target.path), target,
      [bytes, &name](ByteSink& sink) { EncodeCHeader(bytes, name, sink); }, conversion);
  return conversion;
}

}  // namespace

HeldOutputs::HeldOutputs() = default;
HeldOutputs::~HeldOutputs() = default;

void HeldOutputs::Hold(std::unique_ptr<OutputFile> file, std::string path) {
  held_.emplace_back(std::move(file), std::move(path));
}

Outcome HeldOutputs::PutInPlace(std::vector<std::string>& files, std::error_code& cause) {
  for (auto& [file, path] : held_) {
    if (!file->Commit()) {
      cause = file->LastError();
      held_.clear();
      return Outcome::kCannotWrite;
    }
    files.push_back(std::move(path));
  }
  held_.clear();
  return Outcome::kWritten;
}

Outcome WriteOutputFile(const OutputTarget& target, Picture* source,
                        const std::function<bool(OutputStream&)>& write, std::error_code* error) {
  auto file = std::make_unique<OutputFile>();
  const auto failed = [&file, error](Outcome outcome) {
    if (error != nullptr) {
      *error = file->LastError();
    }
    return outcome;
  };
  if (!file->Create(target.path, target.source)) {
    return failed(Outcome::kCannotCreate);
  }
  const bool written = write(*file);
  const bool damaged = source != nullptr && source->Damaged();
  if (source != nullptr) {
    source->Release();
  }
  // On each early return the temporary file goes with `file`.
  if (damaged || file->FailedReadingSource()) {
    return failed(Outcome::kSourceDamaged);
  }
  if (!written) {
    return failed(Outcome::kCannotWrite);
  }
  if (target.held != nullptr) {
    target.held->Hold(std::move(file), target.path);
    return Outcome::kWritten;
  }
  if (target.stillWanted && !target.stillWanted()) {
    return Outcome::kNotWanted;
  }
  return failed(file->Commit() ? Outcome::kWritten : Outcome::kCannotWrite);
}

std::string HeaderPathOf(const std::string& outputPath) {
  return outputPath + ".h";
}

std::string HeaderNameOf(const std::string& outputPath, const ConversionSettings& settings) {
  const std::string path = settings.headerName.empty()
                               ? settings.headerFolder + std::string(FileNameOf(outputPath))
                               : settings.headerName;
  return CIdentifierFor(settings.headerPrefix + path);
}

Conversion WriteOutputs(Picture& source, const ConversionSettings& settings,
                        const OutputTarget& target,
                        const std::function<bool(OutputStream&)>& write) {
  Conversion conversion = settings.emitted == Emit::kBinary
                              ? WriteBinary(source, target, write)
                              : WriteFromMemory(source, settings, target, write);
  conversion.format = settings.format;
  return conversion;
}

Conversion Refuse(Picture& picture, Outcome outcome) {
  picture.Release();
  return NothingWritten(outcome);
}

}  // namespace kav
