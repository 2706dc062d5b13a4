#include "app/converter_dialog.h"

#include <exception>
#include <utility>

#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QTimer>
#include <QUrl>

#include "app/about_dialog.h"
#include "app/whole_number.h"
#include "convert/batch.h"
#include "ui_converter_dialog.h"

// Q_INIT_RESOURCE must be used outside any namespace. The resources live in a static
// library, whose initialiser the linker would otherwise drop.
static void InitKavResources() {
  Q_INIT_RESOURCE(kav);
}

namespace kav {
namespace {

constexpr std::int32_t kLowestColor = 0;
constexpr std::int32_t kHighestColor = 255;
// How long files named on the command line wait for the dialog to become active.
constexpr std::chrono::milliseconds kActivationWait{1000};

// The 16-colour artwork at both of its sizes, so that no size is scaled from the other.
QIcon ProgramIcon() {
  QIcon icon;
  icon.addFile(QStringLiteral(":/icons/kav-graphic-converter-16.png"));
  icon.addFile(QStringLiteral(":/icons/kav-graphic-converter-32.png"));
  return icon;
}

void ShowFromStart(QLineEdit& edit, const QString& text) {
  edit.setText(text);
  edit.setCursorPosition(0);
}

// The local files (not folders) among dropped URLs, in their order.
QStringList DroppedFiles(const QMimeData& data) {
  QStringList files;
  for (const QUrl& url : data.urls()) {
    if (url.isLocalFile() && !QFileInfo(url.toLocalFile()).isDir()) {
      files.append(QFileInfo(url.toLocalFile()).absoluteFilePath());
    }
  }
  return files;
}

// The file chooser of files already chosen (dropped, or named on the command line).
class ChosenFiles final : public FileChooser {
 public:
  explicit ChosenFiles(std::vector<std::string> paths) : paths_(std::move(paths)) {}
  std::optional<std::vector<std::string>> ChooseFiles() override { return paths_; }

 private:
  std::vector<std::string> paths_;
};

}  // namespace

// What a batch sees of the dialog: its settings, read back before every file, its status
// line, its message boxes, its progress dialog and Cancel.
class ConverterDialog::Host final : public ConverterHost {
 public:
  explicit Host(ConverterDialog& dialog) : dialog_(dialog) {}

  ConversionSettings Settings() const override { return dialog_.Settings(); }
  bool ReadBack() override { return dialog_.DoDataExchange(true); }
  void SetStatusText(const std::string& text) override { dialog_.SetStatusText(text); }
  void ShowError(MessageOwner /*owner*/, std::string_view text,
                 std::string_view /*cause*/) override {
    dialog_.ShowError(text);
  }
  void OnFileStarting(std::size_t index, std::size_t total, const std::string& path) override {
    dialog_.OnFileStarting(index, total, path);
  }
  bool StopRequested() override { return dialog_.StopRequested(); }

 private:
  ConverterDialog& dialog_;
};

ConverterDialog::ConverterDialog(QWidget* parent)
    : QDialog(parent),
      ui(std::make_unique<Ui::ConverterDialog>()),
      digitsOnly_(QRegularExpression(QStringLiteral("[0-9]*"))),
      chooser_(std::make_unique<QtFileChooser>(this, chooserStart_)) {
  InitKavResources();
  ui->setupUi(this);
  // A top-level window of its own, with a taskbar entry, a close box and no other buttons.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  for (QLineEdit* edit : {ui->startColorEdit, ui->endColorEdit, ui->transparentColorEdit}) {
    edit->setValidator(&digitsOnly_);
    edit->setAcceptDrops(false);  // a drop on a field goes to the dialog, which takes files
  }
  setAcceptDrops(true);
  connect(ui->quitButton, &QPushButton::clicked, this, &ConverterDialog::accept);
  connect(ui->convertFileButton, &QPushButton::clicked, this, &ConverterDialog::OnConvertFile);
  OnInitDialog();
}

ConverterDialog::~ConverterDialog() = default;

void ConverterDialog::OnInitDialog() {
  setWindowIcon(ProgramIcon());
  settings_ = ConversionSettings{};
  statusText_.clear();
  DoDataExchange(false);
  ui->quitButton->setFocus();
}

void ConverterDialog::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(ui->closeAction);
  menu.addSeparator();
  menu.addAction(ui->aboutAction);
  connect(&menu, &QMenu::triggered, this, &ConverterDialog::OnSysCommand);
  menu.exec(event->globalPos());
}

void ConverterDialog::OnSysCommand(QAction* item) {
  if (item == ui->aboutAction) {
    AboutDialog about(this);
    RunModal(about);
  } else if (item == ui->closeAction) {
    // The window manager moves and sizes the window itself; closing is the one item left
    // to the dialog.
    close();
  }
}

int ConverterDialog::RunModal(QDialog& dialog) {
  return dialog.exec();
}

// The steps run in this order in both directions; reading back stops at the first failure,
// so later settings keep their values.
bool ConverterDialog::DoDataExchange(bool readBack) {
  if (!ExchangeColor(readBack, *ui->endColorEdit, settings_.endColor) ||
      !ExchangeColor(readBack, *ui->startColorEdit, settings_.startColor)) {
    return false;
  }
  ExchangeStatusText(readBack);
  ExchangeRemapping(readBack);
  if (!ExchangeColor(readBack, *ui->transparentColorEdit, settings_.transparentColor)) {
    return false;
  }
  ExchangeFormat(readBack);
  return true;
}

bool ConverterDialog::ExchangeColor(bool readBack, QLineEdit& edit, std::int32_t& setting) {
  if (!readBack) {
    ShowFromStart(edit, QString::number(setting));
    return true;
  }
  const std::optional<std::int32_t> value = ParseWholeNumber(edit.text());
  if (!value) {
    return FailOn(edit, tr("Please enter an integer."));  // the setting keeps its value
  }
  setting = *value;  // kept even when out of range
  if (setting < kLowestColor || setting > kHighestColor) {
    return FailOn(edit, tr("Please enter an integer between 0 and 255."));
  }
  return true;
}

// The status line is read-only and only the program writes it, so its text is taken back
// as it is, whatever its length, and no typed-text limit shortens what the program puts
// there.
void ConverterDialog::ExchangeStatusText(bool readBack) {
  if (readBack) {
    statusText_ = ui->statusLine->text();
  } else {
    ShowFromStart(*ui->statusLine, statusText_);
  }
}

void ConverterDialog::ExchangeRemapping(bool readBack) {
  if (readBack) {
    settings_.useRemapping = ui->useRemappingBox->isChecked();
  } else {
    ui->useRemappingBox->setChecked(settings_.useRemapping);
  }
}

std::array<std::pair<QRadioButton*, OutputFormat>, 3> ConverterDialog::FormatButtons() const {
  return {{{ui->mzrFormatButton, OutputFormat::kMzr},
           {ui->rleFormatButton, OutputFormat::kRle},
           {ui->rlsFormatButton, OutputFormat::kRls}}};
}

// Every state of the buttons but RLE or RLS checked selects MZR, none checked included.
void ConverterDialog::ExchangeFormat(bool readBack) {
  if (readBack) {
    settings_.format = OutputFormat::kMzr;
    for (const auto& [button, format] : FormatButtons()) {
      if (button->isChecked()) {
        settings_.format = format;
      }
    }
    return;
  }
  for (const auto& [button, format] : FormatButtons()) {
    button->setChecked(format == settings_.format);
  }
}

bool ConverterDialog::FailOn(QLineEdit& edit, const QString& message) {
  QMessageBox box(QMessageBox::Warning, windowTitle(), message, QMessageBox::Ok, this);
  RunModal(box);
  ReturnFocus();
  edit.setFocus();
  edit.selectAll();
  return false;
}

void ConverterDialog::ReturnFocus() {
  QWidget* window = progressDialog();
  window = window != nullptr && window->isVisible() ? window : this;
  if (window->isVisible()) {
    window->activateWindow();
  }
}

void ConverterDialog::accept() {
  if (DoDataExchange(true)) {
    QDialog::accept();
  }
}

void ConverterDialog::SetStatusText(const std::string& text) {
  statusText_ = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
  DoDataExchange(false);
}

void ConverterDialog::ShowError(std::string_view text) {
  QMessageBox box(
      QMessageBox::Warning,
      QString::fromUtf8(kErrorCaption.data(), static_cast<qsizetype>(kErrorCaption.size())),
      QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())), QMessageBox::Ok,
      this);
  box.setInformativeText(currentFile_);  // which file of a batch of several failed
  // A file name is shown as it is, even one that looks like markup.
  if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
    label->setTextFormat(Qt::PlainText);
  }
  RunModal(box);
  ReturnFocus();
}

void ConverterDialog::OnConvertFile() {
  RunBatchWith(*chooser_);
}

void ConverterDialog::ConvertFiles(const std::vector<std::string>& paths) {
  if (progress_ || paths.empty()) {
    return;
  }
  QStringList shown;
  for (const std::string& path : paths) {
    shown.append(QFile::decodeName(path.c_str()));
  }
  chooserStart_.Remember(shown);
  ChosenFiles chosen(paths);
  RunBatchWith(chosen);
}

void ConverterDialog::ConvertFilesOnceActive(const std::vector<std::string>& paths) {
  pendingFiles_ = paths;
  QTimer::singleShot(isActiveWindow() ? std::chrono::milliseconds(0) : kActivationWait, this,
                     &ConverterDialog::ConvertPendingFiles);
}

void ConverterDialog::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && !pendingFiles_.empty()) {
    QTimer::singleShot(0, this, &ConverterDialog::ConvertPendingFiles);
  }
}

void ConverterDialog::ConvertPendingFiles() {
  ConvertFiles(std::exchange(pendingFiles_, {}));
}

void ConverterDialog::RunBatchWith(FileChooser& chooser) {
  if (progress_) {
    return;  // a batch is running already
  }
  progress_.emplace(*this, progressDelay_);
  try {
    if (const std::optional<std::vector<std::string>> chosen = chooser.ChooseFiles()) {
      Host host(*this);
      RunBatch(host, *chosen);
    }
  } catch (const std::exception& failure) {
    // Nothing may escape into Qt's event handling: the batch ends here, and says why.
    ShowError(failure.what());
  }
  progress_.reset();
  currentFile_.clear();
  ReturnFocus();
}

void ConverterDialog::dragEnterEvent(QDragEnterEvent* event) {
  dragMoveEvent(event);
}

void ConverterDialog::dragMoveEvent(QDragMoveEvent* event) {
  if (!progress_ && !DroppedFiles(*event->mimeData()).isEmpty()) {
    event->acceptProposedAction();
  }
}

void ConverterDialog::dropEvent(QDropEvent* event) {
  const QStringList files = DroppedFiles(*event->mimeData());
  if (progress_ || files.isEmpty()) {
    return;
  }
  event->acceptProposedAction();
  // The batch runs once the drop is over, so that the program it came from is not kept
  // waiting for the answer, nor its drag cursor held over message boxes.
  QTimer::singleShot(0, this, [this, files] { ConvertFiles(EncodeNames(files)); });
}

void ConverterDialog::OnFileStarting(std::size_t index, std::size_t total,
                                     const std::string& path) {
  currentFile_ = total > 1 ? QFile::decodeName(path.c_str()) : QString();
  if (progress_) {
    progress_->FileStarting(index, total, path);
  }
}

bool ConverterDialog::StopRequested() {
  return progress_ && progress_->CancelRequested();
}

QProgressDialog* ConverterDialog::progressDialog() const {
  return progress_ ? progress_->dialog() : nullptr;
}

}  // namespace kav
