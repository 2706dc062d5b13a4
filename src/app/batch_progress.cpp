#include "app/batch_progress.h"

#include <limits>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>

namespace kav {
namespace {

int ClampToInt(std::size_t value) {
  constexpr int kMost = std::numeric_limits<int>::max();
  return value > static_cast<std::size_t>(kMost) ? kMost : static_cast<int>(value);
}

}  // namespace

BatchProgress::BatchProgress(QWidget& owner, std::chrono::milliseconds delay)
    : owner_(owner), delay_(delay) {}

BatchProgress::~BatchProgress() {
  if (dialog_ != nullptr) {
    dialog_->hide();
    dialog_->deleteLater();
  }
}

void BatchProgress::FileStarting(std::size_t index, std::size_t total, const std::string& path) {
  if (!clock_.isValid()) {
    clock_.start();
  }
  if (dialog_ == nullptr) {
    if (clock_.elapsed() < delay_.count()) {
      return;
    }
    Show(total);
  }
  const QString name = QFileInfo(QFile::decodeName(path.c_str())).fileName();
  dialog_->setLabelText(
      QCoreApplication::translate("BatchProgress", "Converting file %1 of %2:\n%3")
          .arg(index + 1)
          .arg(total)
          .arg(name));
  // A modal progress dialog lets the events through that draw it and press Cancel; the
  // main dialog below it takes none.
  dialog_->setValue(ClampToInt(index));
  QCoreApplication::processEvents();
}

bool BatchProgress::CancelRequested() {
  if (dialog_ == nullptr) {
    return false;
  }
  QCoreApplication::processEvents();
  return dialog_->wasCanceled();
}

void BatchProgress::Show(std::size_t total) {
  dialog_ = new QProgressDialog(&owner_);
  dialog_->setWindowTitle(owner_.windowTitle());
  dialog_->setWindowModality(Qt::WindowModal);
  dialog_->setAutoReset(false);
  dialog_->setAutoClose(false);
  dialog_->setMinimumDuration(0);
  dialog_->setRange(0, ClampToInt(total));
  dialog_->show();
}

}  // namespace kav
