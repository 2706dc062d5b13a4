#include "cli/command_line_host.h"

#include <algorithm>
#include <ostream>

#include "cli/printable.h"
#include "convert/report.h"

namespace kav {

void CommandLineHost::Report(const Conversion& conversion) {
  if (conversion.reduction && !quiet_) {
    ShowNotice(std::to_string(conversion.reduction->found) + " colours reduced to " +
               std::to_string(conversion.reduction->capacity));
  }
  const std::vector<ReportLine> lines = ReportOf(conversion);
  const bool boxed = std::ranges::any_of(
      lines, [](const ReportLine& line) { return line.kind == ReportLine::Kind::kBox; });
  for (const ReportLine& line : lines) {
    if (line.kind == ReportLine::Kind::kNote) {
      if (!quiet_) {
        ShowError(MessageOwner::kNone, line.text, {});
      }
      continue;
    }
    if (line.kind == ReportLine::Kind::kBox) {
      ShowError(line.owner, line.text, line.cause);
      continue;
    }
    // A failure told in the status line alone is an error all the same.
    if (line.kind == ReportLine::Kind::kFailureStatus && !boxed) {
      ShowError(MessageOwner::kMainDialog, line.text, {});
    }
    SetStatusText(line.text);
  }
}

void CommandLineHost::SetStatusText(const std::string& text) {
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
  std::string line = std::string(text);
  if (!cause.empty()) {
    line += ": " + std::string(cause);
  }
  ShowNotice(line);
}

void CommandLineHost::ShowNotice(const std::string& text) {
  if (progress_ != nullptr) {
    progress_->Clear();
  }
  err_ << Printable("kavconv: " + currentFile_ + ": " + text) << '\n' << std::flush;
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
