#include "dialog_test_support.h"

#include <memory>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include "app/about_dialog.h"

namespace kav::test {

ShownWindow Describe(QDialog& dialog) {
  ShownWindow window{.type = {},
                     .title = dialog.windowTitle(),
                     .text = {},
                     .parent = dialog.parentWidget(),
                     .icon = QMessageBox::NoIcon,
                     .buttons = {},
                     .modal = dialog.isModal()};
  if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
    window.type = QStringLiteral("message");
    window.text = box->text();
    window.icon = box->icon();
    window.buttons = box->standardButtons();
  } else if (qobject_cast<AboutDialog*>(&dialog) != nullptr) {
    window.type = QStringLiteral("about");
    QStringList labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
      if (!label->text().isEmpty()) {
        labels.append(label->text());
      }
    }
    window.text = labels.join(u'\n');
  }
  return window;
}

int ScriptedDialog::RunModal(QDialog& dialog) {
  if (onModal) {
    onModal(dialog);
  }
  shown.push_back(Describe(dialog));
  return QDialog::Accepted;
}

std::optional<std::vector<std::string>> ScriptedChooser::ChooseFiles() {
  ++calls;
  if (answers_.empty()) {
    return std::nullopt;
  }
  const bool cancelled = !answers_.front().has_value();
  std::vector<std::string> paths = cancelled ? std::vector<std::string>{} : *answers_.front();
  answers_.pop_front();
  if (cancelled) {
    return std::nullopt;
  }
  return paths;
}

AppResources LoadResourcesForTest() {
  QString error;
  std::optional<AppResources> resources = LoadAppResources(error);
  if (!resources) {
    qFatal("The program's resources cannot be read: %s", qPrintable(error));
  }
  return std::move(*resources);
}

std::vector<std::string> CopySample(const QTemporaryDir& dir, const QString& sample,
                                    const QStringList& names) {
  const QString source = QStringLiteral(KAV_SAMPLES_DIR "/") + sample;
  std::vector<std::string> paths;
  for (const QString& name : names) {
    const QString target = dir.filePath(name);
    QFile::remove(target);
    if (!QFile::copy(source, target)) {
      qFatal("Cannot copy %s to %s", qPrintable(source), qPrintable(target));
    }
    paths.push_back(QFile::encodeName(target).toStdString());
  }
  return paths;
}

std::string WriteFileIn(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
  QFile file(dir.filePath(name));
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
    qFatal("Cannot write %s", qPrintable(file.fileName()));
  }
  return QFile::encodeName(file.fileName()).toStdString();
}

QByteArray ReadWholeFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList MessageTexts(const std::vector<ShownWindow>& shown) {
  QStringList texts;
  for (const ShownWindow& window : shown) {
    if (window.type == QStringLiteral("message")) {
      texts.append(window.text);
    }
  }
  return texts;
}

namespace {

struct ModalWatch {
  std::function<void(QWidget&)> check;
  int polls = 0;
};

void PollForModal(const std::shared_ptr<ModalWatch>& watch) {
  constexpr int kPollMs = 20;
  constexpr int kGiveUpAfterPolls = 250;  // 5 seconds
  if (QWidget* modal = QApplication::activeModalWidget()) {
    watch->check(*modal);
    modal->close();
    return;
  }
  if (++watch->polls < kGiveUpAfterPolls) {
    QTimer::singleShot(kPollMs, [watch] { PollForModal(watch); });
  }
}

}  // namespace

void WhenModalShown(std::function<void(QWidget&)> check) {
  auto watch = std::make_shared<ModalWatch>(ModalWatch{.check = std::move(check), .polls = 0});
  QTimer::singleShot(0, [watch] { PollForModal(watch); });
}

}  // namespace kav::test
