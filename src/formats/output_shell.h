#pragma once
// The file side shared by every writer: create the output beside its target, stream the
// encoded bytes into it, put it in place, and say what that came to.

#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "formats/byte_sink.h"
#include "formats/conversion.h"
#include "formats/output_format.h"
#include "input/picture.h"

namespace kav {

class OutputFile;

// Outputs written in full and not yet put in place, in the order they were written: those
// still held when it goes are removed unseen.
class HeldOutputs {
 public:
  HeldOutputs();
  ~HeldOutputs();
  HeldOutputs(const HeldOutputs&) = delete;
  HeldOutputs& operator=(const HeldOutputs&) = delete;

  void Hold(std::unique_ptr<OutputFile> file, std::string path);
  // Puts every output in place in order, adding each path to `files`, up to the first that
  // fails: then kCannotWrite, `cause` saying why, and the rest are removed.
  Outcome PutInPlace(std::vector<std::string>& files, std::error_code& cause);

 private:
  std::vector<std::pair<std::unique_ptr<OutputFile>, std::string>> held_;
};

// Writes one output file: creates `target.path` (never the file at `target.source`), lets
// `write` fill it from its start (returning whether every write succeeded) and puts it in
// place, or hands it to `target.held` when there is one (which then asks nothing), unless the
// `source` picture (if any) was damaged meanwhile (its file shrank while mapped) or the
// output is no longer wanted. Otherwise no partial file is left and an older
// file of that name is untouched; `error`, when given, is set to why it failed
// (OutputFile::LastError()). `source` is released once written, before the target is asked
// whether the output is still wanted: the batch may then wait for other conversions, which
// may be waiting for the picture memory it holds.
Outcome WriteOutputFile(const OutputTarget& target, Picture* source,
                        const std::function<bool(OutputStream&)>& write,
                        std::error_code* error = nullptr);

// The C header of the output `outputPath`: its path, and its array's name as the settings
// give it (ConversionSettings::headerName).
std::string HeaderPathOf(const std::string& outputPath);
std::string HeaderNameOf(const std::string& outputPath, const ConversionSettings& settings);

// Writes the files the settings ask for: the binary file at `target.path`, a C header of the
// same bytes at `target.path` + ".h", or the two, the binary first. `write` fills an output
// from its start; `source` is released once it is no longer needed.
Conversion WriteOutputs(Picture& source, const ConversionSettings& settings,
                        const OutputTarget& target,
                        const std::function<bool(OutputStream&)>& write);

// A picture the writer refuses for `outcome`, its memory given back at once.
Conversion Refuse(Picture& picture, Outcome outcome);

}  // namespace kav
