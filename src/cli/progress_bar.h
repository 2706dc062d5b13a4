#pragma once
// A one-line progress bar for long batches on a terminal: files done and total, elapsed
// time and files per second, redrawn in place on stderr.

#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <string>

namespace kav {

class ProgressBar {
 public:
  ProgressBar(std::ostream& terminal, std::size_t total, std::size_t columns);

  // Records that `done` files are finished (never goes backwards) and redraws, at most a
  // few times a second unless the batch is complete.
  void Update(std::size_t done);
  // Takes the bar off the screen, so that a line of text can be printed in its place;
  // the next Update draws it again.
  void Clear();

  // The text of the bar for `done` of `total` files after `seconds`, at most `columns` wide.
  static std::string Render(std::size_t done, std::size_t total, double seconds,
                            std::size_t columns);

 private:
  using Clock = std::chrono::steady_clock;
  void Draw();

  std::ostream& terminal_;
  std::size_t total_;
  std::size_t columns_;
  std::size_t done_ = 0;
  bool shown_ = false;
  Clock::time_point start_ = Clock::now();
  Clock::time_point lastDraw_{};
};

// The width of the terminal on stderr, or 0 when stderr is not a terminal.
std::size_t TerminalColumns();

}  // namespace kav
