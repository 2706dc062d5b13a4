#pragma once
// The command line as a front end: fixed settings, status texts as lines on stdout, message
// boxes as "kavconv: FILE: TEXT" on stderr, with ": CAUSE" when a system call failed, and
// likewise, unless quiet, a picture's colours reduced ("kavconv: FILE: 1834 colours reduced
// to 255"). A failure that the dialog shows in the status line alone gets its stderr line
// too. Every line is printed with its control characters escaped (see Printable).

#include <iosfwd>
#include <string>

#include "cli/progress_bar.h"
#include "convert/converter_host.h"

namespace kav {

class CommandLineHost final : public ConverterHost {
 public:
  CommandLineHost(const ConversionSettings& settings, bool quiet, std::ostream& out,
                  std::ostream& err)
      : settings_(settings), quiet_(quiet), out_(out), err_(err) {}

  ConversionSettings Settings() const override { return settings_; }
  bool ReadBack() override { return true; }
  void SetStatusText(const std::string& text) override;
  void ShowError(MessageOwner owner, std::string_view text, std::string_view cause) override;
  void Report(const Conversion& conversion) override;
  void OnFileStarting(std::size_t index, std::size_t total, const std::string& path) override;
  // Once a status line could not be written (a closed pipe, a full disk), no file is started
  // any more: nobody would see its line. main() reports the write error.
  bool StopRequested() override;

  // Shows progress on this bar and keeps it out of the way of printed lines: error lines
  // always, status lines when stdout is the same terminal.
  void ShowProgressOn(ProgressBar* bar, bool statusOnTerminal) {
    progress_ = bar;
    statusOnTerminal_ = statusOnTerminal;
  }

 private:
  // "kavconv: FILE: TEXT" on stderr.
  void ShowNotice(const std::string& text);

  ConversionSettings settings_;
  bool quiet_;
  std::ostream& out_;
  std::ostream& err_;
  std::string currentFile_;
  ProgressBar* progress_ = nullptr;
  bool statusOnTerminal_ = false;
};

}  // namespace kav
