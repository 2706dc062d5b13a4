#include "cli/progress_bar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace kav {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr std::size_t kBarWidth = 24;
constexpr std::size_t kDefaultColumns = 80;
constexpr const char* kClearLine = "\r\033[K";

}  // namespace

ProgressBar::ProgressBar(std::ostream& terminal, std::size_t total, std::size_t columns)
    : terminal_(terminal), total_(total), columns_(columns) {}

void ProgressBar::Update(std::size_t done) {
  const std::size_t previous = done_;
  done_ = std::max(done_, std::min(done, total_));
  const Clock::time_point now = Clock::now();
  const bool due = done_ == total_ || now - lastDraw_ >= kRedrawInterval;
  if (shown_ && (done_ == previous || !due)) {
    return;
  }
  lastDraw_ = now;
  Draw();
}

void ProgressBar::Clear() {
  if (shown_) {
    terminal_ << kClearLine << std::flush;
    shown_ = false;
  }
}

void ProgressBar::Draw() {
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  terminal_ << kClearLine << Render(done_, total_, seconds, columns_) << std::flush;
  shown_ = true;
}

std::string ProgressBar::Render(std::size_t done, std::size_t total, double seconds,
                                std::size_t columns) {
  const std::size_t filled = total == 0 ? kBarWidth : kBarWidth * done / total;
  std::string line(1, '[');
  line.append(filled, '#').append(kBarWidth - filled, '.').append("] ");
  char figures[96];
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
  std::snprintf(figures, sizeof figures, "%zu/%zu files  %.1f s  %.1f files/s", done, total,
                seconds, rate);
  line += figures;
  // Never wrap: a wrapped line cannot be redrawn in place.
  if (columns > 0 && line.size() >= columns) {
    line.resize(columns - 1);
  }
  return line;
}

std::size_t TerminalColumns() {
  if (isatty(STDERR_FILENO) == 0) {
    return 0;
  }
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
    return kDefaultColumns;
  }
  return size.ws_col;
}

}  // namespace kav
