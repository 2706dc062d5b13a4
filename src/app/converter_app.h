#pragma once
// The application: sets up Qt, runs the main dialog modally, and ends when it closes.
// The only thing kept between runs is the folder the file chooser starts in.

#include <QApplication>
#include <QStringList>

namespace kav {

inline constexpr const char* kAppName = "kav-graphic-converter";
inline constexpr const char* kOrganizationName = "kav";
// Names the desktop entry, the icon and the AppStream metainfo.
inline constexpr const char* kAppId = "org.kav.GraphicConverter";

class ConverterApp {
 public:
  ConverterApp(int& argc, char** argv);

  // Runs the main dialog until it closes; once it shows, `files` (absolute paths) are
  // converted as one batch, as if chosen with "Convert File". Returns false: no event loop
  // follows, the program ends.
  bool InitInstance(const QStringList& files);

  // The application's name, version and desktop entry, as the desktop shows them. No display
  // name is set: Qt would append it to the title of every window but the main one.
  static void DescribeApplication();

 private:
  QApplication application_;
};

}  // namespace kav
