#pragma once
// Helpers for the dialog tests: a main dialog whose modal windows are recorded instead of
// waiting for a user and whose file chooser answers from the test, its controls by id, and
// sample files.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "app/app_resources.h"
#include "app/converter_dialog.h"

namespace kav::test {

// What a modal window showed when it was run.
struct ShownWindow {
  QString type;   // "message" or "about"
  QString title;  // the caption
  QString text;   // a message box's text; the About box's labels, joined by '\n'
  QWidget* parent = nullptr;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
};

// The main dialog with every modal window recorded and closed at once.
class ScriptedDialog : public ConverterDialog {
 public:
  using ConverterDialog::ConverterDialog;

  std::vector<ShownWindow> shown;
  int chooserCalls = 0;

  // The texts of the message boxes shown so far.
  QStringList Messages() const;
  // From now on the file chooser answers `answer` (nullopt: cancelled).
  void AnswerChooser(const std::optional<std::vector<std::string>>& answer);
  // "Convert File" with the chooser answering `answer`.
  void ConvertChosen(const std::optional<std::vector<std::string>>& answer);

 protected:
  int RunModal(QDialog& dialog) override;
};

template <typename Widget = QLineEdit>
Widget& Control(const ConverterDialog& dialog, int id) {
  return dialog.controls().Require<Widget>(id);
}

inline QRadioButton& FormatButton(const ConverterDialog& dialog, int format) {
  return Control<QRadioButton>(dialog, kFirstFormatId + format);
}

// The texts of the edit fields with `ids`.
QStringList Texts(const ConverterDialog& dialog, std::initializer_list<int> ids);

// The members in exchange order, for compact comparisons: "end start 'status' remapping
// transparent format".
QString Members(const ConverterDialog& dialog);

void ShowAndActivate(QDialog& dialog);

// The program's own resources; ends the test program when they cannot be read.
AppResources LoadResourcesForTest();

// Copies samples/<sample> into `dir` under each of `names`; the full paths, in order.
std::vector<std::string> CopySample(const QTemporaryDir& dir, const QString& sample,
                                    const QStringList& names);
// Writes `bytes` to `dir`/`name`; the full path.
std::string WriteFileIn(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes);
// `path` with its extension replaced by `extension`.
QString OutputOf(const std::string& path, const QString& extension);
QByteArray ReadWholeFile(const QString& path);

// Calls `check` with the application's modal window as soon as one is shown, then closes
// it; gives up after a few seconds so that a missing window fails instead of hanging.
void WhenModalShown(std::function<void(QWidget&)> check);

}  // namespace kav::test
