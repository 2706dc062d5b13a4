// "Convert File" in the dialog: batches through a scripted chooser with the writers' reports
// in the status line and in message boxes, validation during a batch, the progress dialog
// and its Cancel, and the real file chooser.

#include <stdexcept>

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>

#include "app/qt_file_chooser.h"
#include "dialog_test_support.h"

namespace kav {
namespace {

using namespace Qt::StringLiterals;

using test::Control;
using test::CopySample;
using test::OutputOf;
using test::ScriptedDialog;

// Cancels the progress dialog when the file with `cancelAt` starts.
class CancellingDialog : public ScriptedDialog {
 public:
  CancellingDialog(const AppResources& resources, std::size_t cancelAt)
      : ScriptedDialog(resources), cancelAt_(cancelAt) {}
  QString labelAtCancel;
  bool modalAtCancel = false;

  void OnFileStarting(std::size_t index, std::size_t total, const std::string& path) override {
    ScriptedDialog::OnFileStarting(index, total, path);
    if (index == cancelAt_ && progressDialog() != nullptr) {
      labelAtCancel = progressDialog()->labelText();
      modalAtCancel = progressDialog()->isVisible() && progressDialog()->isModal();
      progressDialog()->cancel();
    }
  }

 private:
  std::size_t cancelAt_;
};

// a.bmp, b.bmp, ... copied from samples/odd.bmp.
std::vector<std::string> OddFiles(const QTemporaryDir& dir, int count) {
  QStringList names;
  for (int i = 0; i < count; ++i) {
    names.append(u"%1.bmp"_s.arg(QChar(u'a' + i)));
  }
  return CopySample(dir, u"odd.bmp"_s, names);
}

bool Converted(const std::string& path, const QString& extension) {
  return QFile::exists(OutputOf(path, extension));
}

}  // namespace

class DialogBatchTest : public QObject {
  Q_OBJECT

 private:
  AppResources resources_;

 private Q_SLOTS:
  void initTestCase() { resources_ = test::LoadResourcesForTest(); }

  void oneFileShowsTheWritersStatusAndThreeTheSummary() {
    QTemporaryDir dir;
    ScriptedDialog dialog(resources_);
    const std::vector<std::string> one = CopySample(dir, u"sprite.bmp"_s, {u"hero.bmp"_s});
    dialog.AnswerChooser(one);
    QTest::mouseClick(&Control<QPushButton>(dialog, kConvertFileId), Qt::LeftButton);
    const QString output = OutputOf(one[0], u"RLE"_s);
    QCOMPARE(dialog.statusText, u"SUCCESS!!  %1 converted!"_s.arg(output));
    QCOMPARE(Control(dialog, kStatusLineId).text(), dialog.statusText);
    QVERIFY(test::ReadWholeFile(output).startsWith("RL"));
    const std::vector<std::string> three =
        CopySample(dir, u"odd.bmp"_s, {u"a.bmp"_s, u"b.BMP"_s, u"c.bmp"_s});
    dialog.ConvertChosen(three);
    QCOMPARE(dialog.statusText, u"3 files processed!"_s);
    QVERIFY(Converted(three[0], u"RLE"_s) && Converted(three[1], u"RLE"_s) &&
            Converted(three[2], u"RLE"_s));
    QVERIFY(dialog.shown.empty());
  }

  void cancelledChooserChangesNothing() {
    QTemporaryDir dir;
    ScriptedDialog dialog(resources_);
    dialog.statusText = u"kept"_s;
    dialog.DoDataExchange(false);
    dialog.ConvertChosen(std::nullopt);
    QCOMPARE(dialog.chooserCalls, 1);
    QCOMPARE(dialog.statusText, u"kept"_s);
    QVERIFY(QDir(dir.path()).isEmpty());
  }

  // A failure raised inside the batch ends it with a message instead of escaping into Qt's
  // event handling, and the next batch runs as usual.
  void raisedFailureEndsTheBatchWithAMessage() {
    class FailingChooser : public FileChooser {
      std::optional<std::vector<std::string>> ChooseFiles() override {
        throw std::runtime_error("out of memory");
      }
    };
    QTemporaryDir dir;
    ScriptedDialog dialog(resources_);
    dialog.SetFileChooser(std::make_unique<FailingChooser>());
    dialog.OnConvertFile();
    QCOMPARE(dialog.Messages(), QStringList{u"out of memory"_s});
    QCOMPARE(dialog.shown[0].parent, &dialog);
    dialog.ConvertChosen(OddFiles(dir, 2));
    QCOMPARE(dialog.statusText, u"2 files processed!"_s);
  }

  void mzrFailureStopsTheBatch() {
    QTemporaryDir dir;
    ScriptedDialog dialog(resources_);
    std::vector<std::string> paths = OddFiles(dir, 3);
    paths[1] = test::WriteFileIn(dir, u"b.bmp"_s, "not a bitmap");
    test::FormatButton(dialog, kFormatMzr).click();
    dialog.ConvertChosen(paths);
    QVERIFY(Converted(paths[0], u"MZR"_s));
    QVERIFY(!Converted(paths[1], u"MZR"_s) && !Converted(paths[2], u"MZR"_s));
    QCOMPARE(dialog.statusText, u"Error while converting!"_s);  // no summary
    // The reader's box has no owner; a writer's belongs to the dialog.
    QCOMPARE(dialog.shown.size(), std::size_t{1});
    const test::ShownWindow& box = dialog.shown[0];
    QVERIFY(box.title == u"Error"_s && box.text == u"This is not a BMP file"_s);
    QVERIFY(box.parent == nullptr && box.icon == QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(QFile::remove(OutputOf(paths[0], u"MZR"_s)));
    QVERIFY(QDir(dir.path()).mkdir(u"a.MZR"_s));  // a folder where the output should go
    dialog.ConvertChosen(std::vector<std::string>{paths[0]});
    QCOMPARE(dialog.Messages().back(), u"Cannot create output file"_s);
    QCOMPARE(dialog.shown.back().parent, &dialog);
  }

  // Every file reads the settings back; each read back stops at "End Color", so the range
  // message comes once per file, endColor is 300 for the writer, and the later members keep
  // their values: a format chosen meanwhile has no effect, and the first status publish
  // selects the earlier button again.
  void endColor300OverABatchOfFive() {
    QTemporaryDir dir;
    ScriptedDialog dialog(resources_);
    dialog.format = kFormatMzr;
    dialog.DoDataExchange(false);
    Control(dialog, kEndColorId).setText(u"300"_s);
    test::FormatButton(dialog, kFormatRle).click();
    const std::vector<std::string> paths = OddFiles(dir, 5);
    dialog.ConvertChosen(paths);
    QCOMPARE(dialog.Messages(), QStringList(5, QString::fromLatin1(kOutOfRangeText)));
    for (const std::string& path : paths) {
      const QByteArray mzr = test::ReadWholeFile(OutputOf(path, u"MZR"_s));
      QCOMPARE(mzr.mid(16, 2), QByteArray("\x2C\x01", 2));  // endColor 300
      QVERIFY(!Converted(path, u"RLE"_s));
    }
    QVERIFY(test::FormatButton(dialog, kFormatMzr).isChecked());
    QCOMPARE(dialog.statusText, u"5 files processed!"_s);
    QCOMPARE(dialog.endColor, 300);
  }

  void cancelStopsAfterTheCurrentFile() {
    QTemporaryDir dir;
    CancellingDialog dialog(resources_, 1);
    dialog.SetProgressDelay(std::chrono::milliseconds(0));
    dialog.show();
    const std::vector<std::string> paths = OddFiles(dir, 5);
    dialog.ConvertChosen(paths);
    QCOMPARE(dialog.labelAtCancel, u"Converting file 2 of 5:\nb.bmp"_s);
    QVERIFY(dialog.modalAtCancel);
    QVERIFY(Converted(paths[1], u"RLE"_s) && !Converted(paths[2], u"RLE"_s));
    QCOMPARE(dialog.statusText, u"2 files processed!"_s);
    QCOMPARE(dialog.progressDialog(), nullptr);  // gone with the batch

    CancellingDialog patient(resources_, 0);
    patient.SetProgressDelay(std::chrono::hours(1));
    patient.ConvertChosen(std::vector<std::string>(paths.begin(), paths.begin() + 2));
    QCOMPARE(patient.labelAtCancel, QString());  // never shown, so never cancelled
    QCOMPARE(patient.statusText, u"2 files processed!"_s);
  }

  // The real chooser, answered once it shows: its settings, every letter case of ".bmp",
  // several files at once, and where the next one starts.
  void qtChooserOffersBmpFilesAndRemembers() {
    QTemporaryDir dir;
    CopySample(dir, u"odd.bmp"_s, {u"a.bmp"_s, u"B.BMP"_s, u"c.Bmp"_s});
    test::WriteFileIn(dir, u"notes.txt"_s, "x");
    QWidget owner;
    QtFileChooser chooser(&owner);
    QStringList listed;
    test::WhenModalShown([&](QWidget& modal) {
      auto* files = qobject_cast<QFileDialog*>(&modal);
      QVERIFY(files != nullptr && files->parentWidget() == &owner);
      QCOMPARE(files->fileMode(), QFileDialog::ExistingFiles);
      QCOMPARE(files->nameFilters(), (QStringList{u"BMP Files (*.bmp)"_s, u"All Files (*.*)"_s}));
      QCOMPARE(files->selectedNameFilter(), u"BMP Files (*.bmp)"_s);
      files->setDirectory(dir.path());
      auto* view = files->findChild<QAbstractItemView*>(u"listView"_s);
      QVERIFY(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= 3; }));
      for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
        listed.append(view->model()->index(row, 0, view->rootIndex()).data().toString());
      }
      files->findChild<QLineEdit*>(u"fileNameEdit"_s)->setText(u"\"a.bmp\" \"B.BMP\""_s);
      static_cast<QDialog*>(files)->accept();  // QFileDialog hides its override
    });
    QCOMPARE(chooser.ChooseFiles().value_or(std::vector<std::string>{}).size(), std::size_t{2});
    listed.sort(Qt::CaseInsensitive);
    QCOMPARE(listed, (QStringList{u"a.bmp"_s, u"B.BMP"_s, u"c.Bmp"_s}));
    QCOMPARE(chooser.start(), QDir(dir.path()).absolutePath());

    // One file: the next chooser starts with that file selected; cancelling keeps the start.
    const QString single = QDir(dir.path()).absoluteFilePath(u"c.Bmp"_s);
    test::WhenModalShown([&](QWidget& modal) {
      modal.findChild<QLineEdit*>(u"fileNameEdit"_s)->setText(u"c.Bmp"_s);
      static_cast<QDialog&>(modal).accept();
    });
    QCOMPARE(chooser.ChooseFiles(),
             std::optional(std::vector<std::string>{QFile::encodeName(single).toStdString()}));
    QStringList preselected;
    test::WhenModalShown(
        [&](QWidget& modal) { preselected = qobject_cast<QFileDialog*>(&modal)->selectedFiles(); });
    QVERIFY(!chooser.ChooseFiles().has_value());
    QCOMPARE(preselected, QStringList{single});
    QCOMPARE(chooser.start(), single);
  }
};

}  // namespace kav

QTEST_MAIN(kav::DialogBatchTest)
#include "dialog_batch_test.moc"
