#include "convert/parallel_batch.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "convert/output_path.h"
#include "platform/format_text.h"

namespace kav {
namespace {

constexpr const char* kSummaryFormat = "%d files processed!";

// What a writer told the user about one file, kept until it is that file's turn.
class RecordedFile final : public ConverterHost {
 public:
  struct Event {
    bool isMessage;
    MessageOwner owner;
    std::string text;
    std::string cause;
  };

  explicit RecordedFile(const ConversionSettings& settings) : settings_(settings) {}
  ConversionSettings Settings() const override { return settings_; }
  bool ReadBack() override { return true; }
  void SetStatusText(const std::string& text) override {
    events.push_back({false, MessageOwner::kNone, text, {}});
  }
  void ShowError(MessageOwner owner, std::string_view text, std::string_view cause) override {
    events.push_back({true, owner, std::string(text), std::string(cause)});
  }

  std::vector<Event> events;

 private:
  ConversionSettings settings_;
};

enum class FileState { kWaiting, kConverted, kFailed, kSkipped };

struct FileResult {
  FileState state = FileState::kWaiting;
  std::vector<RecordedFile::Event> events;
};

// Files that write the same output, in argument order; groups ordered by their first file.
std::vector<std::vector<std::size_t>> GroupBySameOutput(std::span<const std::string> paths,
                                                        std::int32_t format) {
  std::error_code ignored;
  const std::filesystem::path folder = std::filesystem::current_path(ignored);
  std::map<std::string, std::size_t> groupOfOutput;
  std::vector<std::vector<std::size_t>> groups;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::filesystem::path output = MakeOutputPath(paths[i], ExtensionForFormat(format));
    const std::string key =
        (output.is_absolute() ? output : folder / output).lexically_normal().string();
    const auto [entry, added] = groupOfOutput.emplace(key, groups.size());
    if (added) {
      groups.emplace_back();
    }
    groups[entry->second].push_back(i);
  }
  return groups;
}

bool StopsTheBatch(const BatchPolicy& policy, std::int32_t format) {
  const bool mzr = format != kFormatRle && format != kFormatRls;
  return policy.stopAfterAnyFailure || (policy.stopAfterMzrFailure && mzr);
}

class ParallelRun {
 public:
  ParallelRun(std::span<const std::string> paths, const ConversionSettings& settings)
      : paths_(paths), settings_(settings), results_(paths.size()) {}

  void Convert(unsigned jobs, bool failureStops) {
    groups_ = GroupBySameOutput(paths_, settings_.format);
    failureStops_ = failureStops;
    for (unsigned i = 0; i < jobs; ++i) {
      workers_.emplace_back([this] { Work(); });
    }
  }

  // Waits for file `index`, reporting progress meanwhile.
  FileResult& Await(std::size_t index, const ParallelBatchOptions& options) {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (options.onProgress && reportedDone_ != done_) {
        reportedDone_ = done_;
        const std::size_t done = done_;
        lock.unlock();
        options.onProgress(done, paths_.size());
        lock.lock();
        continue;
      }
      if (results_[index].state != FileState::kWaiting) {
        return results_[index];
      }
      changed_.wait(lock);
    }
  }

  void StopStartingFiles() { stopped_ = true; }

  void Join() {
    for (std::jthread& worker : workers_) {
      worker.join();
    }
  }

 private:
  void Work() {
    for (std::size_t g = nextGroup_++; g < groups_.size(); g = nextGroup_++) {
      for (const std::size_t index : groups_[g]) {
        Finish(index, stopped_ ? Skip() : ConvertOne(index));
      }
    }
  }

  FileResult Skip() { return {FileState::kSkipped, {}}; }

  FileResult ConvertOne(std::size_t index) {
    RecordedFile recorder(settings_);
    const std::string& source = paths_[index];
    const std::string output = MakeOutputPath(source, ExtensionForFormat(settings_.format));
    const bool converted = ConvertFile(recorder, settings_.format, source, output);
    if (!converted && failureStops_) {
      stopped_ = true;
    }
    return {converted ? FileState::kConverted : FileState::kFailed, std::move(recorder.events)};
  }

  void Finish(std::size_t index, FileResult result) {
    {
      const std::lock_guard lock(mutex_);
      if (result.state != FileState::kSkipped) {
        ++done_;
      }
      results_[index] = std::move(result);
    }
    changed_.notify_all();
  }

  std::span<const std::string> paths_;
  ConversionSettings settings_;
  std::vector<FileResult> results_;
  std::vector<std::vector<std::size_t>> groups_;
  bool failureStops_ = false;
  std::atomic<std::size_t> nextGroup_{0};
  std::atomic<bool> stopped_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t done_ = 0;
  std::size_t reportedDone_ = 0;
  std::vector<std::jthread> workers_;
};

void Replay(ConverterHost& host, const FileResult& result) {
  for (const RecordedFile::Event& event : result.events) {
    if (event.isMessage) {
      host.ShowError(event.owner, event.text, event.cause);
    } else {
      host.SetStatusText(event.text);
    }
  }
}

}  // namespace

BatchOutcome RunParallelBatch(ConverterHost& host, std::span<const std::string> paths,
                              const ParallelBatchOptions& options) {
  if (options.jobs <= 1 || paths.size() <= 1) {
    return RunBatch(host, paths, options.policy);
  }
  host.ReadBack();
  const ConversionSettings settings = host.Settings();
  ParallelRun run(paths, settings);
  run.Convert(std::min<unsigned>(options.jobs, static_cast<unsigned>(paths.size())),
              StopsTheBatch(options.policy, settings.format));
  BatchOutcome outcome;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const FileResult& result = run.Await(i, options);
    if (result.state == FileState::kSkipped) {
      continue;
    }
    host.OnFileStarting(i, paths.size(), paths[i]);
    ++outcome.taken;
    Replay(host, result);
    if (result.state == FileState::kFailed) {
      ++outcome.failed;
      outcome.stoppedByFailure |= StopsTheBatch(options.policy, settings.format);
    }
    if (host.StopRequested()) {
      run.StopStartingFiles();
    }
  }
  run.Join();
  if (outcome.taken > 1 && !outcome.stoppedByFailure) {
    host.SetStatusText(FormatText(kSummaryFormat, static_cast<int>(outcome.taken)));
  }
  return outcome;
}

}  // namespace kav
