#pragma once
// The main dialog "KAV Graphic Converter": the conversion settings, the status line,
// "Convert File", "Quit", and a window menu with the About item. It is the front end the
// batch and the writers report to.
//
// The settings live twice: in the members below, which the batch and the writers read, and
// in the controls, which the user changes. DoDataExchange copies one way or the other.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QDialog>
#include <QRegularExpressionValidator>
#include <QString>

#include "app/batch_progress.h"
#include "app/qt_file_chooser.h"
#include "convert/batch.h"
#include "convert/converter_host.h"
#include "ui_converter_dialog.h"

class QProgressDialog;

namespace kav {

// Window-menu commands. A command's low four bits are free for the sender's own use, so
// the About item answers to 16 to 31.
inline constexpr std::uint32_t kSysCommandMask = 0xFFF0;
inline constexpr std::uint32_t kAboutCommand = 0x0010;
inline constexpr std::uint32_t kCloseCommand = 0xF060;

class ConverterDialog : public QDialog, public ConverterHost {
  Q_OBJECT

 public:
  explicit ConverterDialog(QWidget* parent = nullptr);
  ~ConverterDialog() override;

  // Reading back (true): copies the controls into the settings, step by step, and stops at
  // the first value that fails, with a message and the focus on its control; false then.
  // Publishing (false): copies every setting into its control; always true.
  bool DoDataExchange(bool readBack);
  // Sets the icon and the defaults and publishes them; called once by the constructor.
  bool OnInitDialog();
  // A window-menu command: the About box for 16 to 31, the usual handling for the rest.
  void OnSysCommand(std::uint32_t id);
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

  // The settings as they stood after the last exchange; with no format button selected,
  // `format` is MZR.
  ConversionSettings Settings() const override { return settings_; }
  const QString& statusText() const { return statusText_; }

  bool ReadBack() override { return DoDataExchange(true); }
  void SetStatusText(const std::string& text) override;
  void ShowError(MessageOwner owner, std::string_view text, std::string_view cause) override;
  void OnFileStarting(std::size_t index, std::size_t total, const std::string& path) override;
  bool StopRequested() override;

  void SetFileChooser(std::unique_ptr<FileChooser> chooser) { chooser_ = std::move(chooser); }
  void SetProgressDelay(std::chrono::milliseconds delay) { progressDelay_ = delay; }
  // The progress dialog of the running batch once it is shown; nullptr otherwise.
  QProgressDialog* progressDialog() const;

 public Q_SLOTS:
  // "Quit" and Enter: closes the dialog only when the settings read back.
  void accept() override;

 protected:
  // Runs a modal window (a message box, the About box) until the user closes it.
  virtual int RunModal(QDialog& dialog);
  // A right click opens the window menu.
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Files dropped on the dialog are converted; anything else dropped is refused.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  bool ExchangeColor(bool readBack, QLineEdit& edit, std::int32_t& setting);
  bool ExchangeStatusText(bool readBack);
  bool ExchangeRemapping(bool readBack);
  bool ExchangeFormat(bool readBack);
  bool FailOn(QLineEdit& edit, const QString& message);
  // Runs a batch with `chooser`, the progress dialog and a last word for any failure.
  void RunBatchWith(FileChooser& chooser);
  // Gives the keyboard back after a message box: to the progress dialog while it shows,
  // otherwise to this dialog.
  void ReturnFocus();
  void ConvertPendingFiles();
  // The format buttons and the format each selects.
  std::array<std::pair<QRadioButton*, OutputFormat>, 3> FormatButtons() const;

  Ui::ConverterDialog ui;
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
