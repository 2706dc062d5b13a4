#pragma once
// The batch on several threads, with the results of a sequential run: the same output
// bytes, the later file winning when two inputs name the same output, the host told of
// every file in argument order, and a stopping failure stopping at the same file.
//
// Settings are read back once, before the batch, so this suits front ends whose settings
// cannot change while a batch runs (the command line).

#include <functional>
#include <span>
#include <string>

#include "convert/batch.h"
#include "convert/planned_outputs.h"

namespace kav {

struct ParallelBatchOptions {
  unsigned jobs = 1;  // threads converting files; 1 runs the plain sequential batch
  BatchPolicy policy;
  // Called on the calling thread whenever another file has finished.
  std::function<void(std::size_t done, std::size_t total)> onProgress;
  // What converts each file, on the threads or alone: kavconv's -u puts its own here, and
  // tests theirs to decide when a file gets where.
  ConvertFileFunction convertFile = ConvertFile;
  // The inputs' outputs as PlanOutputs() gives them with the batch's settings, when the
  // caller has planned them already (kavconv does, to find collisions first); else planned
  // here.
  std::span<const PlannedOutput> plannedOutputs = {};
};

// Converts every input as RunBatch does. Inputs whose outputs are the same file (one name in
// one folder once links are followed, however it is spelt) are converted one after the other
// in argument order, so the later one's output stands. An input whose output is one of the
// sources, as planned, is refused (RefuseSourceAsOutput). A stopping
// failure ends the batch at the first failing file in argument order, as in RunBatch: every file
// before it is converted and reported, even one not yet started when the failure is seen; a later
// file is not reported, and its output is not put in place even if it was being written. A stop the
// host requests ends the batch after the file just reported; later files not yet put in
// place are abandoned. The summary follows when more than one path was taken and no
// failure stopped the batch.
BatchOutcome RunParallelBatch(ConverterHost& host, std::span<const BatchInput> inputs,
                              const ParallelBatchOptions& options);
// The same with every output beside its source.
BatchOutcome RunParallelBatch(ConverterHost& host, std::span<const std::string> paths,
                              const ParallelBatchOptions& options);

}  // namespace kav
