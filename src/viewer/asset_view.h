#pragma once
// One converted file in its tab: the picture at an integer zoom, the colour table to draw it
// through (RLE and RLS: the eight effect tables by name; MZR: palette and level), that table as
// a grid of swatches, the header's facts, the problem line of a damaged file, and the pixel
// under the mouse. The file is drawn again whenever it changes on disk.

#include <sys/types.h>

#include <chrono>
#include <ctime>
#include <string>

#include <QFileSystemWatcher>
#include <QTimer>
#include <QWidget>

#include "ui_asset_view.h"
#include "viewer/viewed_file.h"

namespace kav {

// How long a file must stay unchanged before it is read again: a writer that writes in
// place is done by then, and a burst of events gives one reload.
inline constexpr std::chrono::milliseconds kReloadQuiet{100};

class AssetView : public QWidget {
  Q_OBJECT

 public:
  // `path` is absolute, in the file system's encoding.
  AssetView(std::string path, int zoom, QWidget* parent = nullptr);

  const std::string& path() const { return path_; }
  const ViewedFile& file() const { return file_; }
  const QImage& picture() const { return ui.canvas->picture(); }
  // The colour table the picture is drawn through.
  unsigned Table() const;

  int zoom() const { return ui.canvas->zoom(); }
  // 1 to 16, the middle of the visible part staying where it is.
  void SetZoom(int zoom);
  // The largest zoom at which the whole picture fits the visible area (at least 1).
  int FitZoom() const;

 Q_SIGNALS:
  void zoomWheeled(int zoom);  // the zoom Ctrl + wheel chose
  void reloaded();             // after the file was read again

 private:
  // What tells one version of the file from the next: kavconv replaces it by rename (a new
  // inode), other writers in place (a new time or size).
  struct Version {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    bool operator==(const Version& other) const;
  };
  static Version VersionOf(const std::string& path);

  void Load();
  void WatchAgain();
  void ReloadIfChanged();
  void FillTableChooser(kav_kind kind);
  void ShowFacts();
  void Redraw();
  void ShowPixel(QPoint pixel);
  void ShowEntry(int index);
  void ZoomAround(int steps, QPoint canvasPosition);
  void ZoomKeeping(int zoom, QPoint canvasPosition);

  Ui::AssetView ui;
  std::string path_;
  QString qtPath_;
  ViewedFile file_;
  Version version_;
  kav_kind chooserKind_ = KAV_KIND_NONE;
  QFileSystemWatcher watcher_;
  QTimer reloadTimer_;
};

}  // namespace kav
