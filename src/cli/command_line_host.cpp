#include "cli/command_line_host.h"

#include <algorithm>
#include <array>
#include <ostream>

#include "cli/printable.h"

namespace kav {
namespace {

// The writers' failures that show no message box, only a status line.
constexpr std::array<std::string_view, 2> kStatusOnlyFailures{"Error: this image has no pixels!",
                                                              "Error allocating memory!"};

}  // namespace

void CommandLineHost::SetStatusText(const std::string& text) {
  if (std::ranges::find(kStatusOnlyFailures, text) != kStatusOnlyFailures.end()) {
    ShowError(MessageOwner::kMainDialog, text, {});
  }
  if (quiet_) {
    return;
  }
  if (progress_ != nullptr && statusOnTerminal_) {
    progress_->Clear();
  }
  out_ << Printable(text) << '\n' << std::flush;
}

void CommandLineHost::ShowError(MessageOwner /*owner*/, std::string_view text,
                                std::string_view cause) {
  if (progress_ != nullptr) {
    progress_->Clear();
  }
  std::string line = "kavconv: " + currentFile_ + ": " + std::string(text);
  if (!cause.empty()) {
    line += ": " + std::string(cause);
  }
  err_ << Printable(line) << '\n' << std::flush;
}

void CommandLineHost::OnFileStarting(std::size_t index, std::size_t /*total*/,
                                     const std::string& path) {
  currentFile_ = path;
  if (progress_ != nullptr) {
    progress_->Update(index);
  }
}

bool CommandLineHost::StopRequested() {
  return out_.fail();
}

}  // namespace kav
