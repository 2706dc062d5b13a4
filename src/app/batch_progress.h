#pragma once
// Progress of a long batch: a modal progress dialog with Cancel, shown once the batch has
// run for a while, so that short batches stay as quiet as they were.

#include <chrono>
#include <cstddef>
#include <string>

#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>

class QWidget;

namespace kav {

inline constexpr std::chrono::milliseconds kProgressDelay{1000};

class BatchProgress {
 public:
  // The dialog, once shown, is modal to `owner`. The delay counts from the first file, not
  // from the choice of files before it.
  BatchProgress(QWidget& owner, std::chrono::milliseconds delay);
  // Closes the dialog; its owner deletes it.
  ~BatchProgress();
  BatchProgress(const BatchProgress&) = delete;
  BatchProgress& operator=(const BatchProgress&) = delete;

  // Before each file (index counts from 0): shows the dialog when the batch has run longer
  // than the delay, and names the file in it.
  void FileStarting(std::size_t index, std::size_t total, const std::string& path);
  // After each file: true once the user has pressed Cancel.
  bool CancelRequested();

  QProgressDialog* dialog() const { return dialog_; }

 private:
  void Show(std::size_t total);

  QWidget& owner_;
  std::chrono::milliseconds delay_;
  QElapsedTimer clock_;               // started by the first file
  QPointer<QProgressDialog> dialog_;  // a child of the owner, created when first shown
};

}  // namespace kav
