#pragma once
// The viewer's main window: one tab per converted file, opened from the command line, the
// File menu or by dropping files on it. The window's size and the last zoom chosen are kept
// between runs (QSettings).

#include <string>
#include <vector>

#include <QMainWindow>

#include "ui_viewer_window.h"

namespace kav {

class AssetView;

inline constexpr const char* kViewerName = "kav-view";
// Names the desktop entry and the icon.
inline constexpr const char* kViewerId = "org.kav.Viewer";

class ViewerWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit ViewerWindow(QWidget* parent = nullptr);

  // Each file (an absolute path in the file system's encoding) in a tab of its own; a file
  // already open is shown again. The last one becomes the current tab.
  void OpenFiles(const std::vector<std::string>& paths);
  AssetView* CurrentView() const;
  QTabWidget* tabs() const { return ui.tabs; }

  // The application's name, version and desktop entry, as the desktop shows them.
  static void DescribeApplication();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void ChooseFiles();
  void CloseTab(int index);
  void ShowCurrent();
  void Zoom(int zoom);
  void KeepZoom(int zoom);

  Ui::ViewerWindow ui;
  int zoom_;  // what new tabs open at
};

}  // namespace kav
