#pragma once
// The main dialog "KAV Graphic Converter": the conversion settings, the status line,
// "Convert File", "Quit", and a window menu with the About item. It is the front end the
// batch and the writers report to.
//
// The settings live twice: in the members below, which the batch and the writers read, and
// in the controls, which the user changes. DoDataExchange copies one way or the other.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include <QDialog>
#include <QString>

#include "app/app_resources.h"
#include "app/batch_progress.h"
#include "app/dialog_controls.h"
#include "convert/batch.h"
#include "convert/converter_host.h"

class QCheckBox;
class QLineEdit;
class QMenu;
class QProgressDialog;
class QPushButton;

namespace kav {

// Control ids of the main dialog's template.
inline constexpr int kQuitId = 1;
inline constexpr int kConvertFileId = 1000;
inline constexpr int kStartColorId = 1001;
inline constexpr int kEndColorId = 1002;
inline constexpr int kTransparentColorId = 1003;
inline constexpr int kStatusLineId = 1004;
inline constexpr int kUseRemappingId = 1005;
inline constexpr int kFirstFormatId = 1006;  // "MZR Format", then "RLE Format", "RLS Format"

// Window-menu commands. A command's low four bits are free for the sender's own use, so
// the About item answers to 16 to 31.
inline constexpr std::uint32_t kSysCommandMask = 0xFFF0;
inline constexpr std::uint32_t kAboutCommand = 0x0010;
inline constexpr std::uint32_t kCloseCommand = 0xF060;

inline constexpr const char* kNotWholeNumberText = "Please enter an integer.";
inline constexpr const char* kOutOfRangeText = "Please enter an integer between 0 and 255.";
inline constexpr std::int32_t kLowestColor = 0;
inline constexpr std::int32_t kHighestColor = 255;

class ConverterDialog : public QDialog, public ConverterHost {
  Q_OBJECT

 public:
  explicit ConverterDialog(const AppResources& resources, QWidget* parent = nullptr);
  ~ConverterDialog() override;

  // The members, in the order in which DoDataExchange takes them.
  std::int32_t endColor = 255;
  std::int32_t startColor = 240;
  QString statusText;
  bool useRemapping = true;
  std::int32_t transparentColor = 0;
  std::int32_t format = kFormatRle;  // 0 MZR, 1 RLE, 2 RLS, -1 no format button selected

  // Reading back (true): copies the controls into the members, step by step, and stops at
  // the first value that fails, with a message and the focus on its control; false then.
  // Publishing (false): copies every member into its control; always true.
  bool DoDataExchange(bool readBack);
  // Adds the About item, sets the icon and the defaults and publishes them; called once by
  // the constructor.
  bool OnInitDialog();
  // A window-menu command: the About box for 16 to 31, the usual handling for the rest.
  void OnSysCommand(std::uint32_t id);
  // "Convert File": the batch, with this dialog's file chooser.
  void OnConvertFile();

  ConversionSettings Settings() const override;
  bool ReadBack() override { return DoDataExchange(true); }
  void SetStatusText(const std::string& text) override;
  void ShowError(MessageOwner owner, std::string_view text, std::string_view cause) override;
  void OnFileStarting(std::size_t index, std::size_t total, const std::string& path) override;
  bool StopRequested() override;

  void SetFileChooser(std::unique_ptr<FileChooser> chooser) { chooser_ = std::move(chooser); }
  void SetProgressDelay(std::chrono::milliseconds delay) { progressDelay_ = delay; }
  const DialogControls& controls() const { return controls_; }
  // The window menu; right-clicking the dialog opens it.
  QMenu& windowMenu() const { return *windowMenu_; }
  // The progress dialog of the running batch once it is shown; nullptr otherwise.
  QProgressDialog* progressDialog() const;

 public Q_SLOTS:
  // "Quit" and Enter: closes the dialog only when the settings read back.
  void accept() override;

 protected:
  // Runs a modal window (a message box, the About box) until the user closes it.
  virtual int RunModal(QDialog& dialog);
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  bool ExchangeColor(bool readBack, QLineEdit& edit, std::int32_t& member);
  bool ExchangeStatusText(bool readBack);
  bool ExchangeRemapping(bool readBack);
  bool ExchangeFormat(bool readBack);
  bool FailOn(QLineEdit& edit, const char* message);
  void BuildWindowMenu();
  void DefaultSysCommand(std::uint32_t id);

  AppResources resources_;
  DialogControls controls_;
  QPushButton& quit_;
  QPushButton& convertFile_;
  QLineEdit& startColorEdit_;
  QLineEdit& endColorEdit_;
  QLineEdit& transparentColorEdit_;
  QLineEdit& statusLine_;
  QCheckBox& useRemappingBox_;
  const RadioGroup& formatButtons_;
  std::unique_ptr<QMenu> windowMenu_;
  std::unique_ptr<FileChooser> chooser_;
  std::chrono::milliseconds progressDelay_ = kProgressDelay;
  std::optional<BatchProgress> progress_;  // while a batch runs
};

}  // namespace kav
