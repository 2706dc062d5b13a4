#include "app/qt_file_chooser.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

namespace kav {
namespace {

constexpr const char* kFolderKey = "chooser/folder";

}  // namespace

QString NextStartFrom(const QStringList& chosen) {
  if (chosen.isEmpty()) {
    return {};
  }
  if (chosen.size() == 1) {
    return chosen.front();
  }
  return QFileInfo(chosen.front()).absolutePath();
}

void ConfigureFileDialog(QFileDialog& dialog, const QString& start) {
  // Qt's own dialog rather than the desktop's: its name filters ignore letter case on every
  // desktop, so "*.bmp" also lists HERO.BMP, and it behaves the same everywhere.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
  dialog.setNameFilters(
      {QString::fromLatin1(kImageFilesFilter), QString::fromLatin1(kBmpFilesFilter),
       QString::fromLatin1(kPngFilesFilter), QString::fromLatin1(kGifFilesFilter),
       QString::fromLatin1(kAsepriteFilesFilter), QString::fromLatin1(kAllFilesFilter)});
  dialog.selectNameFilter(QString::fromLatin1(kImageFilesFilter));
  // No default suffix: one would turn a typed "hero" into "hero.BMP", which is not "hero.bmp"
  // nor "hero" itself.
  dialog.setDefaultSuffix({});
  if (start.isEmpty()) {
    return;
  }
  if (QFileInfo(start).isDir()) {
    dialog.setDirectory(start);
  } else {
    dialog.selectFile(start);
  }
}

ChooserStart::ChooserStart() {
  const QString folder = QSettings().value(QString::fromLatin1(kFolderKey)).toString();
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
    start_ = folder;
  }
}

void ChooserStart::Remember(const QStringList& converted) {
  if (converted.isEmpty()) {
    return;
  }
  start_ = NextStartFrom(converted);
  // Written at once, so that quitting has nothing left to save.
  QSettings().setValue(QString::fromLatin1(kFolderKey),
                       QFileInfo(converted.front()).absolutePath());
}

std::optional<std::vector<std::string>> QtFileChooser::ChooseFiles() {
  QFileDialog dialog(owner_);
  ConfigureFileDialog(dialog, start_.start());
  if (dialog.exec() != QDialog::Accepted) {
    return std::nullopt;
  }
  const QStringList chosen = dialog.selectedFiles();
  start_.Remember(chosen);
  return EncodeNames(chosen);
}

std::string EncodeName(const QString& path) {
  const QByteArray encoded = QFile::encodeName(path);
  struct stat status {};
  if (!path.contains(QChar::ReplacementCharacter) || lstat(encoded.constData(), &status) == 0) {
    return encoded.toStdString();
  }
  // Qt shows each byte it cannot decode as U+FFFD, which names another file: the file is
  // the one in its folder whose name Qt shows the same way, when there is exactly one.
  const QFileInfo info(path);
  const std::string folder = EncodeName(info.path());
  const std::unique_ptr<DIR, int (*)(DIR*)> entries(opendir(folder.c_str()), closedir);
  std::optional<std::string> match;
  for (const dirent* entry = entries ? readdir(entries.get()) : nullptr; entry != nullptr;
       entry = readdir(entries.get())) {
    if (QFile::decodeName(entry->d_name) == info.fileName()) {
      if (match) {
        return encoded.toStdString();  // two such files: neither is told apart
      }
      match = folder + "/" + entry->d_name;
    }
  }
  return match.value_or(encoded.toStdString());
}

std::vector<std::string> EncodeNames(const QStringList& paths) {
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(paths.size()));
  for (const QString& path : paths) {
    names.push_back(EncodeName(path));
  }
  return names;
}

}  // namespace kav
