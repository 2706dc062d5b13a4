#include "dialog_test_support.h"

#include <memory>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include "app/about_dialog.h"

namespace kav::test {
namespace {

class ScriptedChooser : public FileChooser {
 public:
  ScriptedChooser(std::optional<std::vector<std::string>> answer, int& calls)
      : answer_(std::move(answer)), calls_(calls) {}
  std::optional<std::vector<std::string>> ChooseFiles() override { return ++calls_, answer_; }

 private:
  std::optional<std::vector<std::string>> answer_;
  int& calls_;
};

}  // namespace

int ScriptedDialog::RunModal(QDialog& dialog) {
  ShownWindow window{{}, dialog.windowTitle(), {}, dialog.parentWidget(), QMessageBox::NoIcon, {}};
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
  shown.push_back(window);
  return QDialog::Accepted;
}

QStringList ScriptedDialog::Messages() const {
  QStringList texts;
  for (const ShownWindow& window : shown) {
    if (window.type == QStringLiteral("message")) {
      texts.append(window.text);
    }
  }
  return texts;
}

void ScriptedDialog::AnswerChooser(const std::optional<std::vector<std::string>>& answer) {
  SetFileChooser(std::make_unique<ScriptedChooser>(answer, chooserCalls));
}

void ScriptedDialog::ConvertChosen(const std::optional<std::vector<std::string>>& answer) {
  AnswerChooser(answer);
  OnConvertFile();
}

QStringList Texts(const ConverterDialog& dialog, std::initializer_list<int> ids) {
  QStringList texts;
  for (const int id : ids) {
    texts.append(Control(dialog, id).text());
  }
  return texts;
}

QString Members(const ConverterDialog& d) {
  return QString::asprintf("%d %d '%s' %d %d %d", d.endColor, d.startColor,
                           d.statusText.toUtf8().constData(), int{d.useRemapping},
                           d.transparentColor, d.format);
}

void ShowAndActivate(QDialog& dialog) {
  dialog.show();
  dialog.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&dialog));
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
    if (!QFile::copy(source, dir.filePath(name))) {
      qFatal("Cannot copy %s to %s", qPrintable(source), qPrintable(dir.filePath(name)));
    }
    paths.push_back(QFile::encodeName(dir.filePath(name)).toStdString());
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

QString OutputOf(const std::string& path, const QString& extension) {
  const QString source = QString::fromLocal8Bit(path.c_str());
  return source.left(source.lastIndexOf(u'.') + 1) + extension;
}

QByteArray ReadWholeFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

namespace {

void PollForModal(std::function<void(QWidget&)> check, int pollsLeft) {
  if (QWidget* modal = QApplication::activeModalWidget()) {
    check(*modal);
    modal->close();
  } else if (pollsLeft > 0) {  // 20 ms apart: 5 seconds in all
    QTimer::singleShot(
        20, [check = std::move(check), pollsLeft] { PollForModal(check, pollsLeft - 1); });
  }
}

}  // namespace

void WhenModalShown(std::function<void(QWidget&)> check) {
  QTimer::singleShot(0, [check = std::move(check)] { PollForModal(check, 250); });
}

}  // namespace kav::test
