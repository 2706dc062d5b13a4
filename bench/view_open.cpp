// Times kav-view opening a file and showing it: kav_view_open FILE [RUNS]. Each run makes a
// fresh window, opens the file in it (mapped, checked and drawn through its plain table) and
// paints the window once; the median of RUNS runs (default 7) is printed in seconds, and the
// fastest and slowest. Run it on Qt's offscreen platform (QT_QPA_PLATFORM=offscreen) or a
// display; the process's own start is not counted.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QApplication>

#include "viewer/viewer_window.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: kav_view_open FILE [RUNS]\n", stderr);
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  QApplication application(argc, argv);
  std::vector<double> seconds;
  for (int run = 0; run < runs; ++run) {
    kav::ViewerWindow window;
    window.show();
    QApplication::processEvents();
    const auto start = std::chrono::steady_clock::now();
    window.OpenFiles({argv[1]});
    window.repaint();
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("%.6f %.6f %.6f\n", seconds[seconds.size() / 2], seconds.front(), seconds.back());
  return 0;
}
