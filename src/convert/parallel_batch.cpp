#include "convert/parallel_batch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "convert/planned_outputs.h"

namespace kav {
namespace {

constexpr std::size_t kNoFile = kNoInput;

enum class FileState { kWaiting, kConverted, kFailed, kSkipped };

// What converting one file came to, kept until it is that file's turn to be reported.
struct FileResult {
  FileState state = FileState::kWaiting;
  Conversion conversion;
};

// Workers take files in argument order; the calling thread is one of them, converting files
// whenever the next one to report is not ready yet, so it sleeps only once no file is left to
// take (a thread woken per file would cost more than a small file's conversion). A file
// whose output an unfinished earlier file also writes is left to that file's worker, to
// follow it. When a failure stops the batch,
// `stopAt_` is the earliest failed file in argument order so far: files before it go on,
// later ones are not started, and a later output is put in place only once every earlier
// file has succeeded, since any of them may still fail.
class ParallelRun {
 public:
  ParallelRun(std::span<const BatchInput> inputs, const ConversionSettings& settings,
              const ConvertFileFunction& convertFile)
      : inputs_(inputs),
        settings_(settings),
        convertFile_(convertFile),
        results_(inputs.size()),
        chainedAfter_(inputs.size(), kNoFile) {}

  // Starts `jobs` - 1 threads: the calling thread converts too, in Await().
  void Convert(unsigned jobs, bool failureStops, std::span<const PlannedOutput> planned) {
    earlierSameOutput_ = EarlierWithSameOutput(planned, inputs_.size());
    writingOverSource_ = WritingOverSources(inputs_, planned);
    failureStops_ = failureStops;
    for (unsigned i = 1; i < jobs; ++i) {
      workers_.emplace_back([this] {
        while (ConvertNext()) {
        }
      });
    }
  }

  // Waits for file `index`, converting the next files meanwhile and reporting progress.
  const FileResult& Await(std::size_t index, const ParallelBatchOptions& options) {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (options.onProgress && reportedDone_ != done_) {
        reportedDone_ = done_;
        const std::size_t done = done_;
        lock.unlock();
        options.onProgress(done, inputs_.size());
        lock.lock();
        continue;
      }
      if (results_[index].state != FileState::kWaiting) {
        return results_[index];
      }
      if (nextFile_ < inputs_.size()) {
        lock.unlock();
        ConvertNext();
        lock.lock();
        continue;
      }
      changed_.wait(lock);
    }
  }

  // Ends the batch after file `index`: nothing later is started or put in place.
  void StopAfter(std::size_t index) {
    {
      const std::lock_guard lock(mutex_);
      if (index < stopAt_) {
        stopAt_ = index;
      }
    }
    changed_.notify_all();
  }

  void Join() {
    for (std::jthread& worker : workers_) {
      worker.join();
    }
  }

 private:
  // Takes the next file and converts it, and the files chained after it; false when every
  // file was taken already.
  bool ConvertNext() {
    const std::size_t index = nextFile_++;
    if (index >= inputs_.size()) {
      return false;
    }
    if (TakeOrChain(index)) {
      for (std::size_t file = index; file != kNoFile;) {
        file = Finish(file, ConvertOne(file));
      }
    }
    return true;
  }

  // True when `index` is to be converted now; false when it was left to follow the
  // unfinished earlier file with the same output.
  bool TakeOrChain(std::size_t index) {
    const std::size_t earlier = earlierSameOutput_[index];
    if (earlier == kNoFile) {
      return true;
    }
    const std::lock_guard lock(mutex_);
    if (results_[earlier].state != FileState::kWaiting) {
      return true;
    }
    chainedAfter_[earlier] = index;
    return false;
  }

  FileResult ConvertOne(std::size_t index) {
    if (index > stopAt_) {
      return {FileState::kSkipped, {}};
    }
    const BatchInput& input = inputs_[index];
    Conversion conversion = writingOverSource_[index]
                                ? RefuseSourceAsOutput(settings_.format)
                                : convertFile_(SettingsFor(settings_, input), input.source,
                                               OutputPathOf(input, settings_.format),
                                               [this, index] { return MayPutInPlace(index); });
    const bool converted = Succeeded(conversion);
    if (!converted && failureStops_) {
      StopAfter(index);
    }
    return {converted ? FileState::kConverted : FileState::kFailed, std::move(conversion)};
  }

  // Asked by file `index` just before its output goes in place.
  bool MayPutInPlace(std::size_t index) {
    if (!failureStops_) {
      return index < stopAt_;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return firstUndecided_ >= index || stopAt_ < index; });
    return index < stopAt_;
  }

  // Keeps the result of `index`; the file chained after it, if any, is next.
  std::size_t Finish(std::size_t index, FileResult result) {
    std::size_t next = kNoFile;
    {
      const std::lock_guard lock(mutex_);
      if (result.state != FileState::kSkipped) {
        ++done_;
      }
      results_[index] = std::move(result);
      while (firstUndecided_ < results_.size() &&
             results_[firstUndecided_].state != FileState::kWaiting) {
        ++firstUndecided_;
      }
      next = chainedAfter_[index];
    }
    changed_.notify_all();
    return next;
  }

  std::span<const BatchInput> inputs_;
  ConversionSettings settings_;
  const ConvertFileFunction& convertFile_;
  std::vector<std::size_t> earlierSameOutput_;
  std::vector<bool> writingOverSource_;
  bool failureStops_ = false;
  std::atomic<std::size_t> nextFile_{0};
  std::atomic<std::size_t> stopAt_{kNoFile};  // changed only under `mutex_`
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by `mutex_`:
  std::vector<FileResult> results_;
  std::vector<std::size_t> chainedAfter_;
  std::size_t firstUndecided_ = 0;  // every file before it has a result
  std::size_t done_ = 0;
  std::size_t reportedDone_ = 0;
  std::vector<std::jthread> workers_;
};

}  // namespace

BatchOutcome RunParallelBatch(ConverterHost& host, std::span<const std::string> paths,
                              const ParallelBatchOptions& options) {
  return RunParallelBatch(host, InputsBesideSources(paths), options);
}

BatchOutcome RunParallelBatch(ConverterHost& host, std::span<const BatchInput> inputs,
                              const ParallelBatchOptions& options) {
  if (options.jobs <= 1 || inputs.size() <= 1) {
    return RunBatch(host, inputs, options.policy, options.convertFile);
  }
  host.ReadBack();
  const ConversionSettings settings = host.Settings();
  const bool failureStops = FailureStopsBatch(options.policy, settings.format);
  std::vector<PlannedOutput> planned;
  if (options.plannedOutputs.empty()) {
    planned = PlanOutputs(inputs, settings);
  }
  ParallelRun run(inputs, settings, options.convertFile);
  run.Convert(std::min<unsigned>(options.jobs, static_cast<unsigned>(inputs.size())), failureStops,
              options.plannedOutputs.empty() ? planned : options.plannedOutputs);
  BatchOutcome outcome;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const FileResult& result = run.Await(i, options);
    host.OnFileStarting(i, inputs.size(), inputs[i].source);
    ++outcome.taken;
    if (result.state != FileState::kSkipped) {
      host.Report(result.conversion);
    }
    if (result.state == FileState::kFailed) {
      ++outcome.failed;
      if (failureStops) {
        outcome.stoppedByFailure = true;
        break;
      }
    }
    if (host.StopRequested()) {
      run.StopAfter(i);
      break;
    }
  }
  run.Join();
  ShowBatchSummary(host, outcome);
  return outcome;
}

}  // namespace kav
