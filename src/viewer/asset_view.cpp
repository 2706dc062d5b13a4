#include "viewer/asset_view.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <utility>

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QScrollBar>
#include <QSignalBlocker>

namespace kav {
namespace {

// A line of the header's facts, the field's name in a column as `kavconv info` prints it.
QString Fact(const char* field, quint64 value) {
  return QStringLiteral("%1 %2").arg(QString::fromLatin1(field), -17).arg(value);
}

}  // namespace

bool AssetView::Version::operator==(const Version& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

AssetView::Version AssetView::VersionOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    return {};
  }
  return {status.st_dev, status.st_ino, status.st_size, status.st_mtim};
}

AssetView::AssetView(std::string path, int zoom, QWidget* parent)
    : QWidget(parent), path_(std::move(path)), qtPath_(QFile::decodeName(path_.c_str())) {
  ui.setupUi(this);
  ui.canvas->SetZoom(zoom);
  ui.factsLabel->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  QPalette warning = ui.problemLabel->palette();
  warning.setColor(QPalette::WindowText, Qt::darkRed);
  ui.problemLabel->setPalette(warning);
  reloadTimer_.setSingleShot(true);
  reloadTimer_.setInterval(kReloadQuiet);
  connect(&watcher_, &QFileSystemWatcher::fileChanged, &reloadTimer_, qOverload<>(&QTimer::start));
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, &reloadTimer_,
          qOverload<>(&QTimer::start));
  connect(&reloadTimer_, &QTimer::timeout, this, &AssetView::ReloadIfChanged);
  connect(ui.tableBox, &QComboBox::currentIndexChanged, this, &AssetView::Redraw);
  connect(ui.levelBox, &QComboBox::currentIndexChanged, this, &AssetView::Redraw);
  connect(ui.canvas, &PictureCanvas::pixelHovered, this, &AssetView::ShowPixel);
  connect(ui.canvas, &PictureCanvas::pixelLeft, this, [this] { ShowPixel({-1, -1}); });
  connect(ui.canvas, &PictureCanvas::zoomWheeled, this, &AssetView::ZoomAround);
  connect(ui.paletteGrid, &PaletteGrid::entryHovered, this, &AssetView::ShowEntry);
  WatchAgain();
  Load();
}

// kavconv replaces a file by renaming another over it, after which the watch follows the old
// file; a folder removed and made again is not watched either. So both are watched anew
// before every look at the file: the file's watch then lies on what the name now holds.
void AssetView::WatchAgain() {
  const QString folder = QFileInfo(qtPath_).absolutePath();
  if (!watcher_.directories().contains(folder) && QFileInfo::exists(folder)) {
    watcher_.addPath(folder);
  }
  if (watcher_.files().contains(qtPath_)) {
    watcher_.removePath(qtPath_);
  }
  if (QFileInfo::exists(qtPath_)) {
    watcher_.addPath(qtPath_);
  }
}

void AssetView::ReloadIfChanged() {
  WatchAgain();
  if (VersionOf(path_) == version_) {
    return;  // another file of the folder changed
  }
  Load();
  Q_EMIT reloaded();
}

void AssetView::Load() {
  version_ = VersionOf(path_);  // first: a change while it is read gives another reload
  file_ = OpenViewedFile(path_);
  const kav_kind kind = file_.checked.image.kind;
  // The table chosen stays as long as the kind of tables does.
  if (kind != KAV_KIND_NONE &&
      (chooserKind_ == KAV_KIND_NONE || (kind == KAV_KIND_MZR) != (chooserKind_ == KAV_KIND_MZR))) {
    FillTableChooser(kind);
  }
  ui.tableGroup->setEnabled(kind != KAV_KIND_NONE);
  ui.paletteGroup->setEnabled(kind != KAV_KIND_NONE);
  ShowFacts();
  Redraw();
}

void AssetView::FillTableChooser(kav_kind kind) {
  const QSignalBlocker tables(ui.tableBox);
  const QSignalBlocker levels(ui.levelBox);
  ui.tableBox->clear();
  ui.levelBox->clear();
  const bool mzr = kind == KAV_KIND_MZR;
  if (mzr) {
    ui.tableLabel->setText(tr("&Palette:"));
    const std::array<std::pair<int, QString>, 4> palettes{{{KAV_MZR_PALETTE_PLAIN, tr("Plain")},
                                                           {KAV_MZR_PALETTE_RED, tr("Red")},
                                                           {KAV_MZR_PALETTE_GREEN, tr("Green")},
                                                           {KAV_MZR_PALETTE_BLUE, tr("Blue")}}};
    for (const auto& [palette, name] : palettes) {
      ui.tableBox->addItem(name, palette);
    }
    for (int level = 0; level < KAV_MZR_TABLE_COUNT / 4; ++level) {
      ui.levelBox->addItem(level == 0                     ? tr("0 (darkest)")
                           : level == KAV_MZR_LEVEL_PLAIN ? tr("%1 (plain)").arg(level)
                           : level == 7                   ? tr("7 (lightest)")
                                                          : QString::number(level),
                           level);
    }
    ui.levelBox->setCurrentIndex(KAV_MZR_LEVEL_PLAIN);
  } else {
    ui.tableLabel->setText(tr("&Table:"));
    const std::array<std::pair<int, QString>, KAV_RL_TABLE_COUNT> effects{
        {{KAV_RL_TABLE_PLAIN, tr("Plain")},
         {KAV_RL_TABLE_DARK, tr("Dark")},
         {KAV_RL_TABLE_LIGHT, tr("Light")},
         {KAV_RL_TABLE_DARK_BLUE, tr("Dark blue")},
         {KAV_RL_TABLE_DARK_RED, tr("Dark red")},
         {KAV_RL_TABLE_DARK_PURPLE, tr("Dark purple")},
         {KAV_RL_TABLE_GREY, tr("Grey")},
         {KAV_RL_TABLE_CYAN, tr("Cyan")}}};
    for (const auto& [table, name] : effects) {
      ui.tableBox->addItem(name, table);
    }
  }
  ui.levelLabel->setVisible(mzr);
  ui.levelBox->setVisible(mzr);
  chooserKind_ = kind;
}

unsigned AssetView::Table() const {
  const unsigned chosen = ui.tableBox->currentData().toUInt();
  return chooserKind_ == KAV_KIND_MZR ? KAV_MZR_TABLE(chosen, ui.levelBox->currentData().toUInt())
                                      : chosen;
}

// What `kavconv info` prints of the header.
void AssetView::ShowFacts() {
  const kav_image& image = file_.checked.image;
  QStringList facts;
  if (image.kind == KAV_KIND_MZR) {
    facts << Fact("useRemapping", image.mzr.use_remapping)
          << Fact("startColor", image.mzr.start_color) << Fact("endColor", image.mzr.end_color)
          << Fact("transparentColor", image.mzr.transparent_color);
  } else if (image.kind != KAV_KIND_NONE) {
    const kav_rl_fields& fields = image.rl;
    facts << Fact("dataSize", fields.data_size) << Fact("rowTableSize", fields.row_table_size)
          << Fact("allRowTablesSize", fields.all_row_tables_size)
          << Fact("segmentCount", fields.segment_count)
          << tr("%1 %2 bytes")
                 .arg(tr("coded rows"), -17)
                 .arg(fields.data_size - fields.all_row_tables_size);
  }
  if (image.kind != KAV_KIND_NONE) {
    facts.prepend(tr("%1, %2 x %3 pixels, %4 bytes")
                      .arg(QString::fromLatin1(kav_kind_name(image.kind)))
                      .arg(image.width)
                      .arg(image.height)
                      .arg(file_.checked.bytes().size()));
  }
  ui.headerGroup->setVisible(!facts.isEmpty());
  ui.factsLabel->setText(facts.join(u'\n'));
  ui.problemLabel->setText(file_.problem);
  ui.problemLabel->setVisible(!file_.problem.isEmpty());
}

void AssetView::Redraw() {
  const kav_image& image = file_.checked.image;
  const unsigned table = Table();
  QImage picture = DrawPicture(file_, table);
  if (picture.isNull() && file_.HasPicture()) {
    ui.problemLabel->setText(tr("Out of memory"));
    ui.problemLabel->setVisible(true);
  }
  ui.canvas->SetPicture(std::move(picture), static_cast<int>(file_.shownRows));
  ColourTable colours{};
  if (image.kind != KAV_KIND_NONE) {
    kav_read_table(&image, table, colours.data());
  }
  ui.paletteGrid->SetTable(colours,
                           image.kind != KAV_KIND_NONE ? kav_transparent_index(&image) : -1);
}

void AssetView::ShowPixel(QPoint pixel) {
  if (pixel.x() < 0) {
    ui.pixelLabel->setText(tr("Point at the picture to see a pixel's index."));
    return;
  }
  const int x = pixel.x(), y = pixel.y();
  const std::optional<std::uint8_t> index = IndexAt(file_, x, y);
  if (!index) {
    ui.pixelLabel->setText(tr("x %1, y %2: not drawn").arg(x).arg(y));
  } else if (*index == kav_transparent_index(&file_.checked.image)) {
    ui.pixelLabel->setText(tr("x %1, y %2: index %3, transparent").arg(x).arg(y).arg(int{*index}));
  } else {
    ui.pixelLabel->setText(tr("x %1, y %2: index %3").arg(x).arg(y).arg(int{*index}));
  }
}

void AssetView::ShowEntry(int index) {
  if (index < 0) {
    ui.entryLabel->setText(tr("Point at a colour to see its index."));
    return;
  }
  const std::uint16_t value = ui.paletteGrid->colours()[static_cast<std::size_t>(index)];
  const QString colour =
      QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(4, u'0');
  ui.entryLabel->setText(index == kav_transparent_index(&file_.checked.image)
                             ? tr("Index %1: %2, transparent").arg(index).arg(colour)
                             : tr("Index %1: %2").arg(index).arg(colour));
}

// The picture's pixel at the middle of the visible area stays there.
void AssetView::SetZoom(int zoom) {
  const QWidget& visible = *ui.pictureArea->viewport();
  ZoomKeeping(zoom, ui.canvas->mapFrom(&visible, visible.rect().center()));
}

int AssetView::FitZoom() const {
  const QSize picture = ui.canvas->picture().size();
  if (picture.isEmpty()) {
    return kMinZoom;
  }
  const QSize room = ui.pictureArea->maximumViewportSize();
  return std::clamp(std::min(room.width() / picture.width(), room.height() / picture.height()),
                    kMinZoom, kMaxZoom);
}

// Ctrl + wheel: the picture's pixel under the mouse stays under it.
void AssetView::ZoomAround(int steps, QPoint canvasPosition) {
  const int before = zoom();
  ZoomKeeping(before + steps, canvasPosition);
  if (zoom() != before) {
    Q_EMIT zoomWheeled(zoom());
  }
}

// Zooms so that the point of the canvas at `canvasPosition` stays where it shows.
void AssetView::ZoomKeeping(int zoom, QPoint canvasPosition) {
  const int before = this->zoom();
  const QPoint shownAt = ui.canvas->mapTo(ui.pictureArea->viewport(), canvasPosition);
  ui.canvas->SetZoom(zoom);
  const int after = this->zoom();
  ui.pictureArea->horizontalScrollBar()->setValue(canvasPosition.x() * after / before -
                                                  shownAt.x());
  ui.pictureArea->verticalScrollBar()->setValue(canvasPosition.y() * after / before - shownAt.y());
}

}  // namespace kav
