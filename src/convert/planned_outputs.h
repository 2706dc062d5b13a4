#pragma once
// The files a batch will write, known before anything is converted: which input writes each
// and which file each is once links are followed. From them come the inputs that must follow
// one another on threads, the inputs that would write one file where kavconv placed the
// outputs itself, and the outputs that would replace an input of the batch.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "convert/batch.h"

namespace kav {

inline constexpr std::size_t kNoInput = SIZE_MAX;

// A file by device and inode.
using FileId = std::pair<dev_t, ino_t>;

// One file a batch will write.
struct PlannedOutput {
  std::size_t input = 0;  // the place in the batch of the input that writes it
  std::string path;       // as its writer is given it
  // The same text for every spelling of one file: OutputIdentity(), or where the path cannot
  // be walked yet (its folders are made later), the path made absolute and canonical.
  std::string file;
  std::optional<FileId> existing;  // what is at the path now, its links followed
  std::string cName;               // a C header's array (HeaderNameOf); empty for a binary file
};

// The paths that converting into `outputPath` with `settings` writes, in the order they are
// written: the binary file, its C header, or both.
std::vector<std::string> FilesWritten(const std::string& outputPath,
                                      const ConversionSettings& settings);

// The same for every frame that converting `sourcePath` writes (OutputsOfSource), in frame
// order.
std::vector<std::string> FilesWritten(const std::string& sourcePath, const std::string& outputPath,
                                      const ConversionSettings& settings);

// Every file that converting `inputs` with `settings` writes, in argument order.
std::vector<PlannedOutput> PlanOutputs(std::span<const BatchInput> inputs,
                                       const ConversionSettings& settings);

// For each of `inputCount` inputs, the nearest earlier input that writes one of its files
// too, or kNoInput.
std::vector<std::size_t> EarlierWithSameOutput(std::span<const PlannedOutput> outputs,
                                               std::size_t inputCount);

// The files the sources of a batch are, by device and inode, so that no output replaces one.
// They are looked at the first time an output already exists, so a batch of new outputs
// never looks at them; any thread may ask.
class SourceFiles {
 public:
  explicit SourceFiles(std::span<const BatchInput> inputs);
  // Whether the file at `path`, its links followed, is one of the sources.
  bool Holds(const std::string& path) const { return Holds(IdOf(path)); }
  bool Holds(const std::optional<FileId>& file) const;
  // The file at `path`, its links followed, or nullopt when it cannot be looked at.
  static std::optional<FileId> IdOf(const std::string& path);

 private:
  std::vector<std::string> paths_;
  mutable std::once_flag lookedAt_;
  mutable std::set<FileId> ids_;  // once looked at
};

// Two inputs that would both write the file at `path`.
struct OutputCollision {
  std::size_t first = 0;
  std::size_t second = 0;
  std::string path;
};

// The pairs of inputs that would write one file where either must write its own
// (BatchInput::exclusiveOutputs), unless they are one source named twice, and the inputs
// whose own outputs would be one file (two frames named alike; `first` and `second` both
// that input) wherever they go: each pair of sources once, at the first file they share, in
// the order of the later input's outputs.
std::vector<OutputCollision> FindCollisions(std::span<const BatchInput> inputs,
                                            std::span<const PlannedOutput> outputs);

// Two inputs whose C headers would define one name.
struct NameCollision {
  std::size_t first = 0;
  std::size_t second = 0;
  std::string name;
};

// The pairs of inputs whose C headers would define the same array, size macro or include
// guard (CHeaderNamesOf), unless the two headers are one file: each pair once, at the first
// name they share, arrays before macros.
std::vector<NameCollision> FindNameCollisions(std::span<const PlannedOutput> outputs);

// For each input of `inputs`, whether one of its planned `outputs` is one of their sources.
std::vector<bool> WritingOverSources(std::span<const BatchInput> inputs,
                                     std::span<const PlannedOutput> outputs);

// An output that is a source of the batch, refused as a writer refuses an output it cannot
// create: "Cannot create output file", cause "it is an input of this batch".
Conversion RefuseSourceAsOutput(OutputFormat format);

// `convertFile`, except that a file whose outputs include a source of `sources`, looked at
// just before it is converted, is refused (RefuseSourceAsOutput).
ConvertFileFunction RefusingSources(std::shared_ptr<const SourceFiles> sources,
                                    ConvertFileFunction convertFile);

}  // namespace kav
