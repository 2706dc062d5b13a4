#pragma once
// Helpers for the dialog tests: a main dialog whose modal windows are recorded instead of
// waiting for a user, a chooser that answers from a script, and sample files.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QMessageBox>
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
  bool modal = false;
};

ShownWindow Describe(QDialog& dialog);

// The main dialog with every modal window recorded and closed at once.
class ScriptedDialog : public ConverterDialog {
 public:
  using ConverterDialog::ConverterDialog;

  std::vector<ShownWindow> shown;
  // Called with each modal window before it is recorded, for further checks.
  std::function<void(QDialog&)> onModal;

 protected:
  int RunModal(QDialog& dialog) override;
};

// Answers each ChooseFiles with the next scripted answer (nullopt: cancelled).
class ScriptedChooser : public FileChooser {
 public:
  explicit ScriptedChooser(std::deque<std::optional<std::vector<std::string>>> answers)
      : answers_(std::move(answers)) {}
  std::optional<std::vector<std::string>> ChooseFiles() override;
  int calls = 0;

 private:
  std::deque<std::optional<std::vector<std::string>>> answers_;
};

// The program's own resources; fails the test when they cannot be read.
AppResources LoadResourcesForTest();

// Copies samples/<sample> into `dir` under each of `names`; the full paths, in order.
std::vector<std::string> CopySample(const QTemporaryDir& dir, const QString& sample,
                                    const QStringList& names);
// Writes `bytes` to `dir`/`name`; the full path.
std::string WriteFileIn(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes);
QByteArray ReadWholeFile(const QString& path);

// The messages among `shown`, as (parent, text) pairs for compact comparisons.
QStringList MessageTexts(const std::vector<ShownWindow>& shown);

// Calls `check` with the application's modal window as soon as one is shown, then closes
// it; gives up after a few seconds so that a missing window fails instead of hanging.
void WhenModalShown(std::function<void(QWidget&)> check);

}  // namespace kav::test
