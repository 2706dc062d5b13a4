#include "cli/command_line_host.h"

#include <ostream>

namespace kav {

void CommandLineHost::SetStatusText(const std::string& text) {
  if (!quiet_) {
    out_ << text << '\n' << std::flush;
  }
}

void CommandLineHost::ShowError(MessageOwner /*owner*/, std::string_view text) {
  err_ << "kavconv: " << currentFile_ << ": " << text << '\n' << std::flush;
}

void CommandLineHost::OnFileStarting(std::size_t /*index*/, std::size_t /*total*/,
                                     const std::string& path) {
  currentFile_ = path;
}

}  // namespace kav
