#pragma once
// "Convert File"'s file chooser: several existing files at once, BMP and PNG files first,
// starting where the previous choice ended. A typed name is taken as typed: no extension is
// added to it.

#include <optional>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

class QFileDialog;
class QWidget;

namespace kav {

// The front end's file chooser: the full paths chosen, in a stable order, or nullopt when
// the user cancelled.
class FileChooser {
 public:
  virtual ~FileChooser() = default;
  virtual std::optional<std::vector<std::string>> ChooseFiles() = 0;
};

// Shown in this order, the first chosen. "*" also lists files whose names have no dot.
inline constexpr const char* kImageFilesFilter = "Image Files (*.bmp *.png *.gif *.ase *.aseprite)";
inline constexpr const char* kBmpFilesFilter = "BMP Files (*.bmp)";
inline constexpr const char* kPngFilesFilter = "PNG Files (*.png)";
inline constexpr const char* kGifFilesFilter = "GIF Files (*.gif)";
inline constexpr const char* kAsepriteFilesFilter = "Aseprite Files (*.ase *.aseprite)";
inline constexpr const char* kAllFilesFilter = "All Files (*)";

// Where the next chooser starts after `chosen`: the file itself when it was one, the
// folder of the selection when it was several; empty when nothing was chosen.
QString NextStartFrom(const QStringList& chosen);

// Sets up `dialog` for choosing image files, starting from `start` (a file or a folder; empty
// for the dialog's own default).
void ConfigureFileDialog(QFileDialog& dialog, const QString& start);

// Where the chooser starts. Within a run, after the files last converted (chosen, dropped or
// named on the command line) as NextStartFrom says; between runs, in their folder, which is
// the one thing the program keeps (in its QSettings).
class ChooserStart {
 public:
  ChooserStart();  // the folder kept from the last run, when it still exists

  void Remember(const QStringList& converted);
  const QString& start() const { return start_; }

 private:
  QString start_;
};

class QtFileChooser final : public FileChooser {
 public:
  // Every chooser is modal to `owner`; both must outlive this object.
  QtFileChooser(QWidget* owner, ChooserStart& start) : owner_(owner), start_(start) {}

  std::optional<std::vector<std::string>> ChooseFiles() override;

 private:
  QWidget* owner_;
  ChooserStart& start_;  // a cancelled chooser leaves it
};

// A path as the core takes it: in the file system's encoding. A name that is not UTF-8
// reaches Qt's chooser and drops with U+FFFD in place of its bytes; it is found again among
// the names in its folder.
std::string EncodeName(const QString& path);
std::vector<std::string> EncodeNames(const QStringList& paths);

}  // namespace kav
