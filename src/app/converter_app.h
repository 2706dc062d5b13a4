#pragma once
// The application: sets up Qt, runs the main dialog modally, and ends when it closes.
// The only thing kept between runs is the folder the file chooser starts in.

#include <array>
#include <string>
#include <vector>

#include <QApplication>

namespace kav {

inline constexpr const char* kAppName = "kav-graphic-converter";
inline constexpr const char* kOrganizationName = "kav";
// Names the desktop entry, the icon and the AppStream metainfo.
inline constexpr const char* kAppId = "org.kav.GraphicConverter";

class ConverterApp {
 public:
  // Qt is given the program's name alone: the command line is the program's own (its files
  // might otherwise be taken for Qt's options, such as -platform or -platformpluginpath).
  // Qt still reads its environment variables.
  explicit ConverterApp(char* program);

  // Runs the main dialog until it closes; once it shows, `files` (absolute paths in the file
  // system's encoding) are converted as one batch, as if chosen with "Convert File". No event
  // loop follows: the program ends.
  void InitInstance(const std::vector<std::string>& files);

  // The application's name, version and desktop entry, as the desktop shows them. No display
  // name is set: Qt would append it to the title of every window but the main one.
  static void DescribeApplication();

 private:
  int argc_ = 1;
  std::array<char*, 2> argv_;  // the program's name, then the null pointer that ends argv
  QApplication application_;
};

}  // namespace kav
