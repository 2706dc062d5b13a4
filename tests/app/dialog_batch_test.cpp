// "Convert File" in the dialog: batches through a scripted chooser with the writers'
// reports in the status line and in message boxes, validation during a batch, the progress
// dialog and its Cancel, and the real file chooser.

#include <stdexcept>

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "app/qt_file_chooser.h"
#include "dialog_test_support.h"

namespace kav {
namespace {

using test::CopySample;
using test::MessageTexts;
using test::ScriptedChooser;
using test::ScriptedDialog;

// MZR header fields, little-endian.
constexpr qsizetype kMzrEndColorOffset = 16;

QString Local(const std::string& path) {
  return QString::fromLocal8Bit(path.c_str());
}

// `path` with its extension replaced.
QString OutputOf(const std::string& path, const QString& extension) {
  const QString source = Local(path);
  return source.left(source.lastIndexOf(u'.') + 1) + extension;
}

void ChooseOnce(ConverterDialog& dialog, std::vector<std::string> paths) {
  dialog.SetFileChooser(std::make_unique<ScriptedChooser>(
      std::deque<std::optional<std::vector<std::string>>>{std::move(paths)}));
}

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

class FailingChooser : public FileChooser {
 public:
  std::optional<std::vector<std::string>> ChooseFiles() override {
    throw std::runtime_error("out of memory");
  }
};

}  // namespace

class DialogBatchTest : public QObject {
  Q_OBJECT

 private:
  AppResources resources_;

 private Q_SLOTS:
  void initTestCase() { resources_ = test::LoadResourcesForTest(); }

  void oneRleFileShowsTheWritersStatus() {
    QTemporaryDir dir;
    ScriptedDialog dialog(resources_);
    const std::vector<std::string> paths =
        CopySample(dir, QStringLiteral("sprite.bmp"), {QStringLiteral("hero.bmp")});
    ChooseOnce(dialog, paths);
    QTest::mouseClick(&dialog.controls().Require<QPushButton>(kConvertFileId), Qt::LeftButton);
    const QString output = OutputOf(paths[0], QStringLiteral("RLE"));
    QCOMPARE(dialog.statusText, QStringLiteral("SUCCESS!!  %1 converted!").arg(output));
    QCOMPARE(dialog.controls().Require<QLineEdit>(kStatusLineId).text(), dialog.statusText);
    QVERIFY(test::ReadWholeFile(output).startsWith("RL"));
    QVERIFY(dialog.shown.empty());
  }

  void threeFilesEndWithTheSummary() {
    QTemporaryDir dir;
    ScriptedDialog dialog(resources_);
    const std::vector<std::string> paths =
        CopySample(dir, QStringLiteral("odd.bmp"),
                   {QStringLiteral("a.bmp"), QStringLiteral("b.BMP"), QStringLiteral("c.bmp")});
    ChooseOnce(dialog, paths);
    dialog.OnConvertFile();
    QCOMPARE(dialog.statusText, QStringLiteral("3 files processed!"));
    for (const std::string& path : paths) {
      QVERIFY(QFile::exists(OutputOf(path, QStringLiteral("RLE"))));
    }
    QVERIFY(dialog.shown.empty());
  }

  void cancelledChooserChangesNothing() {
    QTemporaryDir dir;
    ScriptedDialog dialog(resources_);
    dialog.statusText = QStringLiteral("kept");
    dialog.DoDataExchange(false);
    auto chooser = std::make_unique<ScriptedChooser>(
        std::deque<std::optional<std::vector<std::string>>>{std::nullopt});
    ScriptedChooser& asked = *chooser;
    dialog.SetFileChooser(std::move(chooser));
    dialog.OnConvertFile();
    QCOMPARE(asked.calls, 1);
    QCOMPARE(dialog.statusText, QStringLiteral("kept"));
    QVERIFY(QDir(dir.path()).isEmpty());
  }

  // A failure raised inside the batch ends it with a message instead of escaping into Qt's
  // event handling, and the next batch runs as usual.
  void raisedFailureEndsTheBatchWithAMessage() {
    QTemporaryDir dir;
    ScriptedDialog dialog(resources_);
    dialog.SetFileChooser(std::make_unique<FailingChooser>());
    dialog.OnConvertFile();
    QCOMPARE(MessageTexts(dialog.shown), QStringList{QStringLiteral("out of memory")});
    QCOMPARE(dialog.shown[0].parent, &dialog);
    ChooseOnce(dialog, CopySample(dir, QStringLiteral("odd.bmp"),
                                  {QStringLiteral("a.bmp"), QStringLiteral("b.bmp")}));
    dialog.OnConvertFile();
    QCOMPARE(dialog.statusText, QStringLiteral("2 files processed!"));
  }

  void mzrFailureStopsTheBatch() {
    QTemporaryDir dir;
    ScriptedDialog dialog(resources_);
    std::vector<std::string> paths = CopySample(dir, QStringLiteral("sprite.bmp"),
                                                {QStringLiteral("a.bmp"), QStringLiteral("c.bmp")});
    paths.insert(paths.begin() + 1,
                 test::WriteFileIn(dir, QStringLiteral("b.bmp"), "not a bitmap"));
    dialog.controls().Require<QRadioButton>(kFirstFormatId).click();  // "MZR Format"
    ChooseOnce(dialog, paths);
    dialog.OnConvertFile();
    QVERIFY(QFile::exists(OutputOf(paths[0], QStringLiteral("MZR"))));
    QVERIFY(!QFile::exists(OutputOf(paths[1], QStringLiteral("MZR"))));
    QVERIFY(!QFile::exists(OutputOf(paths[2], QStringLiteral("MZR"))));
    QCOMPARE(dialog.statusText, QStringLiteral("Error while converting!"));  // no summary
    // The reader's box has no owner.
    QCOMPARE(dialog.shown.size(), std::size_t{1});
    QCOMPARE(dialog.shown[0].title, QStringLiteral("Error"));
    QCOMPARE(dialog.shown[0].text, QStringLiteral("This is not a BMP file"));
    QCOMPARE(dialog.shown[0].parent, nullptr);
    QCOMPARE(dialog.shown[0].icon, QMessageBox::Warning);
  }

  void writersBoxesBelongToTheDialog() {
    QTemporaryDir dir;
    ScriptedDialog dialog(resources_);
    const std::vector<std::string> paths =
        CopySample(dir, QStringLiteral("sprite.bmp"), {QStringLiteral("hero.bmp")});
    // A folder where the output should go: it can be neither created nor replaced.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("hero.RLE")));
    ChooseOnce(dialog, paths);
    dialog.OnConvertFile();
    QCOMPARE(dialog.shown.size(), std::size_t{1});
    QCOMPARE(dialog.shown[0].title, QStringLiteral("Error"));
    QVERIFY(dialog.shown[0].text.startsWith(QStringLiteral("Cannot ")));
    QCOMPARE(dialog.shown[0].parent, &dialog);
    QCOMPARE(dialog.shown[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  }

  // Every file reads the settings back; each read back stops at "End Color", so the range
  // message comes once per file and endColor is 300 for the writer.
  void endColor300OverABatchOfFive() {
    QTemporaryDir dir;
    ScriptedDialog dialog(resources_);
    dialog.format = kFormatMzr;
    dialog.DoDataExchange(false);
    dialog.controls().Require<QLineEdit>(kEndColorId).setText(QStringLiteral("300"));
    const std::vector<std::string> paths =
        CopySample(dir, QStringLiteral("sprite.bmp"),
                   {QStringLiteral("1.bmp"), QStringLiteral("2.bmp"), QStringLiteral("3.bmp"),
                    QStringLiteral("4.bmp"), QStringLiteral("5.bmp")});
    ChooseOnce(dialog, paths);
    dialog.OnConvertFile();
    QCOMPARE(MessageTexts(dialog.shown),
             QStringList(5, QStringLiteral("Please enter an integer between 0 and 255.")));
    for (const std::string& path : paths) {
      const QByteArray mzr = test::ReadWholeFile(OutputOf(path, QStringLiteral("MZR")));
      QVERIFY(mzr.size() > kMzrEndColorOffset + 1);
      QCOMPARE(static_cast<quint8>(mzr[kMzrEndColorOffset]), quint8{0x2C});  // 300
      QCOMPARE(static_cast<quint8>(mzr[kMzrEndColorOffset + 1]), quint8{0x01});
    }
    QCOMPARE(dialog.statusText, QStringLiteral("5 files processed!"));
    QCOMPARE(dialog.endColor, 300);
  }

  // A read back that stops at "End Color" never reaches the format buttons: the earlier
  // format converts, and the first publish selects its button again.
  void formatChosenBehindAFailingFieldHasNoEffect() {
    QTemporaryDir dir;
    ScriptedDialog dialog(resources_);
    dialog.controls().Require<QLineEdit>(kEndColorId).setText(QStringLiteral("300"));
    QRadioButton& mzr = dialog.controls().Require<QRadioButton>(kFirstFormatId);
    mzr.click();
    const std::vector<std::string> paths =
        CopySample(dir, QStringLiteral("sprite.bmp"), {QStringLiteral("hero.bmp")});
    ChooseOnce(dialog, paths);
    dialog.OnConvertFile();
    QVERIFY(QFile::exists(OutputOf(paths[0], QStringLiteral("RLE"))));
    QVERIFY(!QFile::exists(OutputOf(paths[0], QStringLiteral("MZR"))));
    QVERIFY(!mzr.isChecked());
    QVERIFY(dialog.controls().Require<QRadioButton>(kFirstFormatId + 1).isChecked());
  }

  void cancelStopsAfterTheCurrentFile() {
    QTemporaryDir dir;
    CancellingDialog dialog(resources_, 1);
    dialog.SetProgressDelay(std::chrono::milliseconds(0));
    dialog.show();
    const std::vector<std::string> paths =
        CopySample(dir, QStringLiteral("odd.bmp"),
                   {QStringLiteral("a.bmp"), QStringLiteral("b.bmp"), QStringLiteral("c.bmp"),
                    QStringLiteral("d.bmp"), QStringLiteral("e.bmp")});
    ChooseOnce(dialog, paths);
    dialog.OnConvertFile();
    QCOMPARE(dialog.labelAtCancel, QStringLiteral("Converting file 2 of 5:\nb.bmp"));
    QVERIFY(dialog.modalAtCancel);
    QVERIFY(QFile::exists(OutputOf(paths[0], QStringLiteral("RLE"))));
    QVERIFY(QFile::exists(OutputOf(paths[1], QStringLiteral("RLE"))));
    QVERIFY(!QFile::exists(OutputOf(paths[2], QStringLiteral("RLE"))));
    QCOMPARE(dialog.statusText, QStringLiteral("2 files processed!"));
    QCOMPARE(dialog.progressDialog(), nullptr);  // gone with the batch
  }

  void noProgressBeforeTheDelay() {
    QTemporaryDir dir;
    CancellingDialog dialog(resources_, 0);
    dialog.SetProgressDelay(std::chrono::hours(1));
    ChooseOnce(dialog, CopySample(dir, QStringLiteral("odd.bmp"),
                                  {QStringLiteral("a.bmp"), QStringLiteral("b.bmp")}));
    dialog.OnConvertFile();
    QCOMPARE(dialog.labelAtCancel, QString());  // never shown, so never cancelled
    QCOMPARE(dialog.statusText, QStringLiteral("2 files processed!"));
  }

  // The real chooser, answered by a timer: its settings, several files at once, and where
  // the next one starts.
  void qtChooserOffersBmpFilesAndRemembers() {
    QTemporaryDir dir;
    CopySample(dir, QStringLiteral("odd.bmp"),
               {QStringLiteral("a.bmp"), QStringLiteral("B.BMP"), QStringLiteral("c.Bmp")});
    test::WriteFileIn(dir, QStringLiteral("notes.txt"), "x");
    QWidget owner;
    QtFileChooser chooser(&owner);

    QStringList listed;
    test::WhenModalShown([&](QWidget& modal) {
      auto* files = qobject_cast<QFileDialog*>(&modal);
      QVERIFY(files != nullptr);
      QCOMPARE(files->parentWidget(), &owner);
      QCOMPARE(files->fileMode(), QFileDialog::ExistingFiles);
      QCOMPARE(files->acceptMode(), QFileDialog::AcceptOpen);
      QCOMPARE(files->nameFilters(), (QStringList{QStringLiteral("BMP Files (*.bmp)"),
                                                  QStringLiteral("All Files (*.*)")}));
      QCOMPARE(files->selectedNameFilter(), QStringLiteral("BMP Files (*.bmp)"));
      QCOMPARE(files->defaultSuffix(), QStringLiteral("BMP"));
      files->setDirectory(dir.path());
      // The BMP filter lists every letter case of ".bmp", and nothing else.
      auto* view = files->findChild<QAbstractItemView*>(QStringLiteral("listView"));
      QVERIFY(view != nullptr);
      QVERIFY(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= 3; }));
      for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
        listed.append(view->model()->index(row, 0, view->rootIndex()).data().toString());
      }
      files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
          ->setText(QStringLiteral("\"a.bmp\" \"B.BMP\""));
      static_cast<QDialog*>(files)->accept();  // QFileDialog hides its override
    });
    std::optional<std::vector<std::string>> chosen = chooser.ChooseFiles();
    listed.sort(Qt::CaseInsensitive);
    QCOMPARE(listed, (QStringList{QStringLiteral("a.bmp"), QStringLiteral("B.BMP"),
                                  QStringLiteral("c.Bmp")}));
    QVERIFY(chosen.has_value());
    QCOMPARE(chosen->size(), std::size_t{2});
    QCOMPARE(chooser.start(), QDir(dir.path()).absolutePath());

    // Cancelled: nothing chosen, the start is kept.
    QString openedIn;
    test::WhenModalShown([&](QWidget& modal) {
      openedIn = qobject_cast<QFileDialog*>(&modal)->directory().absolutePath();
    });
    QVERIFY(!chooser.ChooseFiles().has_value());
    QCOMPARE(openedIn, QDir(dir.path()).absolutePath());
    QCOMPARE(chooser.start(), QDir(dir.path()).absolutePath());

    // One file: the next chooser starts with that file selected.
    const QString single = QDir(dir.path()).absoluteFilePath(QStringLiteral("c.Bmp"));
    test::WhenModalShown([&](QWidget& modal) {
      modal.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("c.Bmp"));
      static_cast<QDialog&>(modal).accept();
    });
    chosen = chooser.ChooseFiles();
    QVERIFY(chosen.has_value());
    QCOMPARE(*chosen, std::vector<std::string>{QFile::encodeName(single).toStdString()});
    QCOMPARE(chooser.start(), single);
    QStringList preselected;
    test::WhenModalShown(
        [&](QWidget& modal) { preselected = qobject_cast<QFileDialog*>(&modal)->selectedFiles(); });
    QVERIFY(!chooser.ChooseFiles().has_value());
    QCOMPARE(preselected, QStringList{single});
  }
};

}  // namespace kav

QTEST_MAIN(kav::DialogBatchTest)
#include "dialog_batch_test.moc"
