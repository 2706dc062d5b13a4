#pragma once
// "Convert File"'s file chooser: several existing files at once, BMP and PNG files first,
// starting where the previous choice ended. A typed name is taken as typed: no extension is
// added to it.

#include <QString>
#include <QStringList>

#include "convert/batch.h"

class QFileDialog;
class QWidget;

namespace kav {

// Shown in this order, the first chosen. "*" also lists files whose names have no dot.
inline constexpr const char* kImageFilesFilter = "Image Files (*.bmp *.png)";
inline constexpr const char* kBmpFilesFilter = "BMP Files (*.bmp)";
inline constexpr const char* kPngFilesFilter = "PNG Files (*.png)";
inline constexpr const char* kAllFilesFilter = "All Files (*)";

// Where the next chooser starts after `chosen`: the file itself when it was one, the
// folder of the selection when it was several; empty when nothing was chosen.
QString NextStartFrom(const QStringList& chosen);

// Sets up `dialog` for choosing image files, starting from `start` (a file or a folder; empty
// for the dialog's own default).
void ConfigureFileDialog(QFileDialog& dialog, const QString& start);

class QtFileChooser final : public FileChooser {
 public:
  // Every chooser is modal to `owner`, which must outlive this object.
  explicit QtFileChooser(QWidget* owner) : owner_(owner) {}

  std::optional<std::vector<std::string>> ChooseFiles() override;

  const QString& start() const { return start_; }

 private:
  QWidget* owner_;
  QString start_;  // kept from one batch to the next; a cancelled chooser leaves it
};

}  // namespace kav
