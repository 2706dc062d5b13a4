#include "app/converter_dialog.h"

#include <exception>

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

#include "app/about_dialog.h"
#include "app/qt_file_chooser.h"
#include "app/whole_number.h"

namespace kav {
namespace {

// The defaults every start shows.
constexpr std::int32_t kDefaultTransparentColor = 0;
constexpr bool kDefaultUseRemapping = true;
constexpr std::int32_t kDefaultStartColor = 240;
constexpr std::int32_t kDefaultEndColor = 255;
constexpr std::int32_t kDefaultFormat = kFormatRle;

void ShowFromStart(QLineEdit& edit, const QString& text) {
  edit.setText(text);
  edit.setCursorPosition(0);
}

}  // namespace

ConverterDialog::ConverterDialog(const AppResources& resources, QWidget* parent)
    : QDialog(parent),
      resources_(resources),
      controls_(*this, resources_.mainDialog, resources_.icon),
      quit_(controls_.Require<QPushButton>(kQuitId)),
      convertFile_(controls_.Require<QPushButton>(kConvertFileId)),
      startColorEdit_(controls_.Require<QLineEdit>(kStartColorId)),
      endColorEdit_(controls_.Require<QLineEdit>(kEndColorId)),
      transparentColorEdit_(controls_.Require<QLineEdit>(kTransparentColorId)),
      statusLine_(controls_.Require<QLineEdit>(kStatusLineId)),
      useRemappingBox_(controls_.Require<QCheckBox>(kUseRemappingId)),
      formatButtons_(controls_.RequireRadioGroup(kFirstFormatId)),
      windowMenu_(std::make_unique<QMenu>(this)),
      chooser_(std::make_unique<QtFileChooser>(this)) {
  connect(&quit_, &QPushButton::clicked, this, &ConverterDialog::accept);
  connect(&convertFile_, &QPushButton::clicked, this, &ConverterDialog::OnConvertFile);
  connect(windowMenu_.get(), &QMenu::triggered, this,
          [this](QAction* action) { OnSysCommand(action->data().toUInt()); });
  OnInitDialog();
}

ConverterDialog::~ConverterDialog() = default;

bool ConverterDialog::OnInitDialog() {
  BuildWindowMenu();
  setWindowIcon(resources_.icon);
  transparentColor = kDefaultTransparentColor;
  useRemapping = kDefaultUseRemapping;
  startColor = kDefaultStartColor;
  endColor = kDefaultEndColor;
  format = kDefaultFormat;
  DoDataExchange(false);
  quit_.setFocus();
  return true;
}

void ConverterDialog::BuildWindowMenu() {
  windowMenu_->clear();
  QAction* close = windowMenu_->addAction(tr("&Close"));
  close->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
  close->setData(kCloseCommand);
  const QString aboutText = LoadString(resources_.strings, kAboutItemString);
  if (!aboutText.isEmpty()) {
    windowMenu_->addSeparator();
    windowMenu_->addAction(aboutText)->setData(kAboutCommand);
  }
}

void ConverterDialog::contextMenuEvent(QContextMenuEvent* event) {
  windowMenu_->popup(event->globalPos());
}

void ConverterDialog::OnSysCommand(std::uint32_t id) {
  if ((id & kSysCommandMask) == kAboutCommand) {
    AboutDialog about(resources_.aboutBox, resources_.icon, this);
    RunModal(about);
    return;
  }
  DefaultSysCommand(id);
}

void ConverterDialog::DefaultSysCommand(std::uint32_t id) {
  // The window manager moves and sizes the window itself; closing is the one command
  // left to the dialog.
  if (id == kCloseCommand) {
    close();
  }
}

int ConverterDialog::RunModal(QDialog& dialog) {
  return dialog.exec();
}

// The steps run in this order in both directions; reading back stops at the first failure,
// so later members keep their values.
bool ConverterDialog::DoDataExchange(bool readBack) {
  return ExchangeColor(readBack, endColorEdit_, endColor) &&
         ExchangeColor(readBack, startColorEdit_, startColor) && ExchangeStatusText(readBack) &&
         ExchangeRemapping(readBack) &&
         ExchangeColor(readBack, transparentColorEdit_, transparentColor) &&
         ExchangeFormat(readBack);
}

bool ConverterDialog::ExchangeColor(bool readBack, QLineEdit& edit, std::int32_t& member) {
  if (!readBack) {
    ShowFromStart(edit, QString::number(member));
    return true;
  }
  const std::optional<std::int32_t> value = ParseWholeNumber(edit.text());
  if (!value) {
    return FailOn(edit, kNotWholeNumberText);  // the member keeps its value
  }
  member = *value;  // kept even when out of range
  if (member < kLowestColor || member > kHighestColor) {
    return FailOn(edit, kOutOfRangeText);
  }
  return true;
}

// The status line is read-only and only the program writes it, so its text is taken back
// as it is, whatever its length, and no typed-text limit shortens what the program puts
// there.
bool ConverterDialog::ExchangeStatusText(bool readBack) {
  if (readBack) {
    statusText = statusLine_.text();
  } else {
    ShowFromStart(statusLine_, statusText);
  }
  return true;
}

bool ConverterDialog::ExchangeRemapping(bool readBack) {
  if (readBack) {
    useRemapping = useRemappingBox_.isChecked();
  } else {
    useRemappingBox_.setChecked(useRemapping);
  }
  return true;
}

bool ConverterDialog::ExchangeFormat(bool readBack) {
  const std::vector<QRadioButton*>& buttons = formatButtons_.inOrder;
  if (readBack) {
    format = -1;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      if (buttons[i]->isChecked()) {
        format = static_cast<std::int32_t>(i);
      }
    }
    return true;
  }
  // An exclusive group keeps one button checked; -1 needs them all cleared.
  formatButtons_.buttons->setExclusive(false);
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    buttons[i]->setChecked(std::cmp_equal(i, format));
  }
  formatButtons_.buttons->setExclusive(true);
  return true;
}

bool ConverterDialog::FailOn(QLineEdit& edit, const char* message) {
  QMessageBox box(QMessageBox::Warning, windowTitle(), tr(message), QMessageBox::Ok, this);
  RunModal(box);
  edit.setFocus();
  edit.selectAll();
  return false;
}

void ConverterDialog::accept() {
  if (DoDataExchange(true)) {
    QDialog::accept();
  }
}

ConversionSettings ConverterDialog::Settings() const {
  return {.format = format,
          .startColor = startColor,
          .endColor = endColor,
          .transparentColor = transparentColor,
          .useRemapping = useRemapping};
}

void ConverterDialog::SetStatusText(const std::string& text) {
  statusText = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
  DoDataExchange(false);
}

void ConverterDialog::ShowError(MessageOwner owner, std::string_view text,
                                std::string_view /*cause*/) {
  // The reader's boxes have no owner window; the writers' belong to this dialog.
  QWidget* parent = owner == MessageOwner::kMainDialog ? this : nullptr;
  QMessageBox box(
      QMessageBox::Warning,
      QString::fromUtf8(kErrorCaption.data(), static_cast<qsizetype>(kErrorCaption.size())),
      QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())), QMessageBox::Ok,
      parent);
  RunModal(box);
}

void ConverterDialog::OnConvertFile() {
  if (progress_) {
    return;  // a batch is running already
  }
  progress_.emplace(*this, progressDelay_);
  try {
    kav::OnConvertFile(*this, *chooser_);
  } catch (const std::exception& failure) {
    // Nothing may escape into Qt's event handling: the batch ends here, and says why.
    ShowError(MessageOwner::kMainDialog, failure.what(), {});
  }
  progress_.reset();
}

void ConverterDialog::OnFileStarting(std::size_t index, std::size_t total,
                                     const std::string& path) {
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
