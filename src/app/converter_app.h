#pragma once
// The application: sets up Qt, runs the main dialog modally, and ends when it closes.
// Nothing is kept between runs: every start shows the defaults.

#include <QApplication>

namespace kav {

inline constexpr const char* kAppName = "kav-graphic-converter";
inline constexpr const char* kAppDisplayName = "KAV Graphic Converter";

class ConverterApp {
 public:
  ConverterApp(int& argc, char** argv);

  // Runs the main dialog until it closes. Returns false: no event loop follows, the
  // program ends.
  bool InitInstance();

  // The application's name, version and desktop entry, as the desktop shows them.
  static void DescribeApplication();

 private:
  QApplication application_;
};

}  // namespace kav
