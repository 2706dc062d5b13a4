#pragma once
// The batch on several threads, with the results of a sequential run: the same output
// bytes, the later file winning when two inputs name the same output, and the host told of
// every file in argument order.
//
// Settings are read back once, before the batch, so this suits front ends whose settings
// cannot change while a batch runs (the command line).

#include <functional>
#include <span>
#include <string>

#include "convert/batch.h"

namespace kav {

struct ParallelBatchOptions {
  unsigned jobs = 1;  // threads converting files; 1 runs the plain sequential batch
  BatchPolicy policy;
  // Called on the calling thread whenever another file has finished.
  std::function<void(std::size_t done, std::size_t total)> onProgress;
};

// Converts every path as RunBatch does. Files whose outputs are the same file are converted
// one after the other in argument order, so the later one's output stands. After a
// stopping failure no new file is started; files already started are finished and
// reported. The summary follows when more than one path was taken and nothing stopped the
// batch.
BatchOutcome RunParallelBatch(ConverterHost& host, std::span<const std::string> paths,
                              const ParallelBatchOptions& options);

}  // namespace kav
