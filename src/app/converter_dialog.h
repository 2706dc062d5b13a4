#pragma once
// The main dialog "KAV Graphic Converter": the conversion settings, the status line,
// "Convert File", "Quit", and a window menu with the About item. Its batches report to it
// through a host of their own (ConverterDialog::Host).
//
// The settings live twice: in the members below, which the batch and the writers read, and
// in the controls, which the user changes. DoDataExchange copies one way or the other.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <QDialog>
#include <QRegularExpressionValidator>
#include <QString>

#include "app/batch_progress.h"
#include "app/qt_file_chooser.h"
#include "convert/converter_host.h"

class QAction;
class QLineEdit;
class QProgressDialog;
class QRadioButton;

namespace Ui {
class ConverterDialog;
}

namespace kav {

class ConverterDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ConverterDialog(QWidget* parent = nullptr);
  ~ConverterDialog() override;

  // Reading back (true): copies the controls into the settings, step by step, and stops at
  // the first value that fails, with a message and the focus on its control; false then.
  // Publishing (false): copies every setting into its control; always true.
  bool DoDataExchange(bool readBack);
  // Sets the icon and the defaults and publishes them; called once by the constructor.
  void OnInitDialog();
  // "Convert File": the batch, with this dialog's file chooser.
  void OnConvertFile();
  // Converts `paths` (absolute, in the file system's encoding) as one batch, exactly as if
  // they had been chosen with "Convert File": dropped files and files named on the command
  // line. Nothing happens while a batch runs.
  void ConvertFiles(const std::vector<std::string>& paths);
  // ConvertFiles once the dialog is active (or has waited a moment for the window manager),
  // so that the batch's boxes open over it: the files named on the command line, converted
  // once, however often the dialog is activated later.
  void ConvertFilesOnceActive(const std::vector<std::string>& paths);

  // The settings as they stood after the last exchange.
  const ConversionSettings& Settings() const { return settings_; }
  const QString& statusText() const { return statusText_; }
  // Sets the status line and publishes it at once.
  void SetStatusText(const std::string& text);

  void SetFileChooser(std::unique_ptr<FileChooser> chooser) { chooser_ = std::move(chooser); }
  void SetProgressDelay(std::chrono::milliseconds delay) { progressDelay_ = delay; }
  // The progress dialog of the running batch once it is shown; nullptr otherwise.
  QProgressDialog* progressDialog() const;

 public Q_SLOTS:
  // "Quit" and Enter: closes the dialog only when the settings read back.
  void accept() override;
  // An item of the window menu: About shows the About box, Close closes the dialog.
  void OnSysCommand(QAction* item);

 protected:
  // Runs a modal window (a message box, the About box) until the user closes it.
  virtual int RunModal(QDialog& dialog);
  // Before each file of a batch (index counts from 0): names it in the boxes of a batch of
  // several files and in the progress dialog.
  virtual void OnFileStarting(std::size_t index, std::size_t total, const std::string& path);
  // A right click opens the window menu.
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Files dropped on the dialog are converted; anything else dropped is refused.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  class Host;  // what a batch sees of the dialog

  // The steps of DoDataExchange; only a colour can fail to read back.
  bool ExchangeColor(bool readBack, QLineEdit& edit, std::int32_t& setting);
  void ExchangeStatusText(bool readBack);
  void ExchangeRemapping(bool readBack);
  void ExchangeFormat(bool readBack);
  bool FailOn(QLineEdit& edit, const QString& message);
  // An error box, owned by this dialog whoever asked for it: a box without an owner may open
  // beneath the dialog, which then seems frozen.
  void ShowError(std::string_view text);
  // Runs a batch with `chooser`, the progress dialog and a last word for any failure.
  void RunBatchWith(FileChooser& chooser);
  bool StopRequested();
  // Gives the keyboard back after a message box: to the progress dialog while it shows,
  // otherwise to this dialog.
  void ReturnFocus();
  void ConvertPendingFiles();
  // The format buttons and the format each selects.
  std::array<std::pair<QRadioButton*, OutputFormat>, 3> FormatButtons() const;

  std::unique_ptr<Ui::ConverterDialog> ui;
  // Stops typed text only: the program may still put any text into the colour fields.
  QRegularExpressionValidator digitsOnly_;
  ConversionSettings settings_;
  QString statusText_;
  ChooserStart chooserStart_;
  std::unique_ptr<FileChooser> chooser_;
  std::chrono::milliseconds progressDelay_ = kProgressDelay;
  std::optional<BatchProgress> progress_;  // while a batch runs
  QString currentFile_;                    // in a batch of more than one file
  std::vector<std::string> pendingFiles_;  // waiting for the dialog to become active
};

}  // namespace kav
