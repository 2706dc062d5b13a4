#include "viewer/viewer_window.h"

#include <algorithm>
#include <filesystem>

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QSettings>

#include "viewer/asset_view.h"

namespace kav {
namespace {

constexpr const char* kSizeKey = "window/size";
constexpr const char* kZoomKey = "view/zoom";
constexpr QSize kFirstSize(960, 640);

QString Key(const char* key) {
  return QString::fromLatin1(key);
}

// The local files among dropped URLs, in the file system's encoding.
std::vector<std::string> LocalFiles(const QMimeData& data) {
  std::vector<std::string> files;
  for (const QUrl& url : data.urls()) {
    if (url.isLocalFile()) {
      files.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
  }
  return files;
}

}  // namespace

ViewerWindow::ViewerWindow(QWidget* parent) : QMainWindow(parent) {
  ui.setupUi(this);
  ui.openAction->setShortcut(QKeySequence::Open);
  ui.closeAction->setShortcut(QKeySequence::Close);
  ui.quitAction->setShortcut(QKeySequence::Quit);
  // Ctrl and "+" is Ctrl and "=" on many keyboards.
  ui.zoomInAction->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)});
  ui.zoomOutAction->setShortcut(QKeySequence::ZoomOut);
  const QSettings settings;
  zoom_ = std::clamp(settings.value(Key(kZoomKey), kMinZoom).toInt(), kMinZoom, kMaxZoom);
  resize(settings.value(Key(kSizeKey), kFirstSize).toSize());

  connect(ui.openAction, &QAction::triggered, this, &ViewerWindow::ChooseFiles);
  connect(ui.closeAction, &QAction::triggered, this, [this] { CloseTab(ui.tabs->currentIndex()); });
  connect(ui.quitAction, &QAction::triggered, this, &QWidget::close);
  connect(ui.zoomInAction, &QAction::triggered, this, [this] { Zoom(CurrentView()->zoom() + 1); });
  connect(ui.zoomOutAction, &QAction::triggered, this, [this] { Zoom(CurrentView()->zoom() - 1); });
  connect(ui.actualSizeAction, &QAction::triggered, this, [this] { Zoom(kMinZoom); });
  connect(ui.fitAction, &QAction::triggered, this, [this] { Zoom(CurrentView()->FitZoom()); });
  connect(ui.tabs, &QTabWidget::tabCloseRequested, this, &ViewerWindow::CloseTab);
  connect(ui.tabs, &QTabWidget::currentChanged, this, &ViewerWindow::ShowCurrent);
  ShowCurrent();
}

void ViewerWindow::DescribeApplication() {
  QCoreApplication::setOrganizationName(QStringLiteral("kav"));
  QCoreApplication::setApplicationName(QString::fromLatin1(kViewerName));
  QCoreApplication::setApplicationVersion(QStringLiteral(KAV_VERSION));
  // Lets the desktop match the windows to the installed desktop entry and its icon.
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kViewerId));
  QIcon icon;
  for (const char* size : {"16", "32"}) {
    icon.addFile(QStringLiteral(":/icons/kav-view-%1.png").arg(QString::fromLatin1(size)));
  }
  QGuiApplication::setWindowIcon(icon);
}

void ViewerWindow::OpenFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    std::error_code ignored;
    const std::string opened = std::filesystem::absolute(path, ignored).native();
    int index = 0;
    while (index < ui.tabs->count() &&
           static_cast<AssetView*>(ui.tabs->widget(index))->path() != opened) {
      ++index;
    }
    if (index == ui.tabs->count()) {
      auto* view = new AssetView(opened, zoom_, ui.tabs);  // owned by the tabs
      connect(view, &AssetView::zoomWheeled, this, &ViewerWindow::KeepZoom);
      const QString name = QFile::decodeName(opened.c_str());
      index = ui.tabs->addTab(view, QFileInfo(name).fileName());
      ui.tabs->setTabToolTip(index, name);
    }
    ui.tabs->setCurrentIndex(index);
  }
  ShowCurrent();
}

AssetView* ViewerWindow::CurrentView() const {
  return static_cast<AssetView*>(ui.tabs->currentWidget());
}

void ViewerWindow::ChooseFiles() {
  const QString start = CurrentView() != nullptr
                            ? QFileInfo(QFile::decodeName(CurrentView()->path().c_str())).path()
                            : QString();
  const QStringList chosen = QFileDialog::getOpenFileNames(
      this, tr("Open Converted Files"), start,
      tr("Converted Files (*.mzr *.rle)") + QStringLiteral(";;") + tr("All Files (*)"));
  std::vector<std::string> paths;
  for (const QString& file : chosen) {
    paths.push_back(QFile::encodeName(file).toStdString());
  }
  OpenFiles(paths);
}

void ViewerWindow::CloseTab(int index) {
  QWidget* view = ui.tabs->widget(index);
  if (view != nullptr) {
    ui.tabs->removeTab(index);
    view->deleteLater();
  }
  ShowCurrent();
}

void ViewerWindow::ShowCurrent() {
  const AssetView* view = CurrentView();
  ui.pages->setCurrentWidget(view != nullptr ? static_cast<QWidget*>(ui.tabs) : ui.emptyPage);
  for (QAction* action :
       {ui.closeAction, ui.zoomInAction, ui.zoomOutAction, ui.actualSizeAction, ui.fitAction}) {
    action->setEnabled(view != nullptr);
  }
  setWindowTitle(view != nullptr
                     ? tr("%1 - KAV Viewer").arg(ui.tabs->tabText(ui.tabs->currentIndex()))
                     : tr("KAV Viewer"));
}

void ViewerWindow::Zoom(int zoom) {
  AssetView* view = CurrentView();
  view->SetZoom(zoom);
  KeepZoom(view->zoom());
}

void ViewerWindow::KeepZoom(int zoom) {
  zoom_ = zoom;
  QSettings().setValue(Key(kZoomKey), zoom);
}

void ViewerWindow::closeEvent(QCloseEvent* event) {
  QSettings().setValue(Key(kSizeKey), size());
  event->accept();
}

void ViewerWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!LocalFiles(*event->mimeData()).empty()) {
    event->acceptProposedAction();
  }
}

void ViewerWindow::dropEvent(QDropEvent* event) {
  const std::vector<std::string> files = LocalFiles(*event->mimeData());
  if (!files.empty()) {
    OpenFiles(files);
    event->acceptProposedAction();
  }
}

}  // namespace kav
