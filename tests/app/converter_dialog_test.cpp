// The dialog through its widgets: layout and defaults, the data exchange with every validation
// case, Quit, Enter, Escape and closing, the window menu and the About box, "Convert File"
// batches with their messages, progress and Cancel, dropped files and files named on the
// command line, and the file chooser's settings and the folder it keeps.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <thread>

#include <QtTest>
#include <QtWidgets>

#include "app/command_line.h"
#include "app/converter_app.h"
#include "app/converter_dialog.h"
#include "app/qt_file_chooser.h"

// A way of leaving the dialog with one field changed, and what follows.
struct Leaving {
  const char* field;
  QString text;
  QString how;      // "Quit", a key, "close box" or "&Close"
  QString outcome;  // the message shown, or how the dialog closed
  QString members;
};
Q_DECLARE_METATYPE(Leaving)

namespace kav {
namespace {

using namespace Qt::StringLiterals;
using Paths = std::vector<std::string>;

// The texts of the labels, group boxes and buttons under `window`, in creation order.
QStringList TextsOf(const QWidget& window) {
  QStringList texts;
  for (const QWidget* widget : window.findChildren<QWidget*>()) {
    const char* property = qobject_cast<const QGroupBox*>(widget) ? "title" : "text";
    if (!widget->inherits("QLineEdit") && !widget->property(property).toString().isEmpty()) {
      texts.append(widget->property(property).toString());
    }
  }
  return texts;
}

struct ScriptedChooser : FileChooser {
  ScriptedChooser(std::optional<Paths> chosen, std::chrono::milliseconds looking)
      : answer(std::move(chosen)), lookingFor(looking) {}
  std::optional<Paths> answer;           // no paths: the user cancelled; nullopt: the chooser fails
  std::chrono::milliseconds lookingFor;  // how long the user takes to choose
  std::optional<Paths> ChooseFiles() override {
    std::this_thread::sleep_for(lookingFor);
    if (!answer) {
      throw std::runtime_error("out of memory");
    }
    return answer->empty() ? std::nullopt : answer;
  }
};

// The main dialog with every modal window recorded and closed at once.
class ScriptedDialog : public ConverterDialog {
 public:
  QStringList shown;                // "title: text [informative text] (warning, owned)"
  std::size_t cancelAt = SIZE_MAX;  // the file at whose start Cancel is pressed
  QString progressAtCancel;

  void Convert(std::optional<Paths> answer, std::chrono::milliseconds looking = {}) {
    SetFileChooser(std::make_unique<ScriptedChooser>(std::move(answer), looking));
    Child<QPushButton>("convertFileButton").click();
  }
  // The settings in exchange order: "end start 'status' remapping transparent format".
  QString Members() const {
    const ConversionSettings s = Settings();
    return QString::asprintf("%d %d '%s' %d %d %d", s.endColor, s.startColor,
                             qPrintable(statusText()), int{s.useRemapping}, s.transparentColor,
                             static_cast<int>(s.format));
  }
  template <typename Widget = QLineEdit>
  Widget& Child(const char* name) const {
    Widget* widget = findChild<Widget*>(QString::fromLatin1(name));
    if (widget == nullptr) {
      qFatal("The dialog has no %s", name);
    }
    return *widget;
  }

 protected:
  int RunModal(QDialog& dialog) override {
    const auto* box = qobject_cast<QMessageBox*>(&dialog);
    const bool warning = box != nullptr && box->icon() == QMessageBox::Warning &&
                         box->standardButtons() == QMessageBox::Ok;
    const QString more = box && !box->informativeText().isEmpty()
                             ? u" [%1]"_s.arg(box->informativeText())
                             : QString();
    shown.append(u"%1: %2%3 (%4%5)"_s.arg(
        dialog.windowTitle(), box ? box->text() : TextsOf(dialog).join(u'|'), more,
        warning ? u"warning, "_s : QString(),
        dialog.parentWidget() == this ? u"owned"_s : u"no owner"_s));
    return QDialog::Accepted;
  }
  void OnFileStarting(std::size_t index, std::size_t total, const std::string& path) override {
    ConverterDialog::OnFileStarting(index, total, path);
    if (QProgressDialog* progress = progressDialog(); progress != nullptr && index == cancelAt) {
      progressAtCancel = progress->labelText() + (progress->isModal() ? u" (modal)"_s : u""_s);
      progress->cancel();
    }
  }
};

// Calls `check` with the popup or modal window once one shows, then closes it; gives up after
// five seconds, so that a window that never shows fails the test instead of hanging it.
void WhenShown(std::function<void(QWidget&)> check, int pollsLeft = 250) {
  QTimer::singleShot(20, [check = std::move(check), pollsLeft] {
    QWidget* window = QApplication::activePopupWidget();
    window = window != nullptr ? window : QApplication::activeModalWidget();
    if (window != nullptr) {
      check(*window);
      window->close();
    } else if (pollsLeft > 0) {
      WhenShown(check, pollsLeft - 1);
    }
  });
}

// samples/odd.bmp copied into `dir` as a.bmp, b.BMP, c.bmp, d.bmp and e.bmp.
Paths OddFiles(const QTemporaryDir& dir) {
  Paths paths;
  for (const QString& name : {u"a.bmp"_s, u"b.BMP"_s, u"c.bmp"_s, u"d.bmp"_s, u"e.bmp"_s}) {
    QFile::copy(QStringLiteral(KAV_SAMPLES_DIR "/odd.bmp"), dir.filePath(name));
    paths.push_back(QFile::encodeName(dir.filePath(name)).toStdString());
  }
  return paths;
}
// Drops `data` as Qt hands drops on: to the nearest widget, from `taker` up, that takes
// drops. True when that widget accepted it.
bool Drop(QWidget* taker, const QMimeData& data) {
  while (taker != nullptr && !taker->acceptDrops()) {
    taker = taker->parentWidget();
  }
  QDragEnterEvent enter({5, 5}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  drop.ignore();
  return taker != nullptr && QApplication::sendEvent(taker, &enter) && enter.isAccepted() &&
         QApplication::sendEvent(taker, &drop) && drop.isAccepted();
}
constexpr const char* kEnd = "endColorEdit";
constexpr const char* kStart = "startColorEdit";
constexpr const char* kTransparent = "transparentColorEdit";
const QString kInteger = u"Please enter an integer."_s;
const QString kRange = u"Please enter an integer between 0 and 255."_s;

}  // namespace

class ConverterDialogTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(settingsHome_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsHome_.path());
    ConverterApp::DescribeApplication();
    // No display name of its own: Qt would append it to every title but the main window's,
    // giving "Error — KAV Graphic Converter".
    QCOMPARE(QGuiApplication::applicationDisplayName(), u"kav-graphic-converter"_s);
  }

  void layoutDefaultsAndTabOrder() {
    ScriptedDialog dialog;
    QCOMPARE(dialog.windowTitle(), u"KAV Graphic Converter"_s);
    QCOMPARE(TextsOf(dialog),
             (QStringList{u"Convert File"_s, u"MZR Format"_s, u"RLE Format"_s, u"RLS Format"_s,
                          u"MZR Format"_s, u"Remapping Range"_s, u"Start Color"_s, u"End Color"_s,
                          u"Use Remapping"_s, u"Transparent Color"_s, u"Quit"_s}));
    QVERIFY(dialog.minimumSize() == dialog.maximumSize() && dialog.size() == dialog.minimumSize());
    QCOMPARE(dialog.windowFlags() &
                 (Qt::WindowType_Mask | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
             Qt::Window | Qt::WindowCloseButtonHint);  // a taskbar entry, only a close box
    QCOMPARE(dialog.windowIcon().availableSizes(), (QList<QSize>{{16, 16}, {32, 32}}));
    // Each control lies inside its parent (the dialog or a group box), clear of its siblings.
    for (const QWidget* control : dialog.findChildren<QWidget*>()) {
      QVERIFY(control->parentWidget()->rect().contains(control->geometry()));
      for (const QWidget* sibling :
           control->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        QVERIFY(sibling == control || !sibling->geometry().intersects(control->geometry()));
      }
      if (const auto* button = qobject_cast<const QPushButton*>(control)) {
        QCOMPARE(button->isDefault(), button->text() == u"Quit"_s);
      }
    }
    QCOMPARE(dialog.Members(), u"255 240 '' 1 0 1"_s);
    QVERIFY(dialog.Child<QCheckBox>("useRemappingBox").isChecked());
    QVERIFY(dialog.Child<QRadioButton>("rleFormatButton").isChecked());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QStringList tabOrder;  // from the focus at start; each edit field with its text
    for (int i = 0; i < 8; ++i) {
      QWidget* focus = QApplication::focusWidget();
      const auto* edit = qobject_cast<const QLineEdit*>(focus);
      tabOrder.append(edit ? edit->objectName() + u'=' + edit->text()
                           : focus->property("text").toString());
      QTest::keyClick(focus, Qt::Key_Tab);
    }
    QCOMPARE(tabOrder, (QStringList{u"Quit"_s, u"Convert File"_s, u"startColorEdit=240"_s,
                                    u"endColorEdit=255"_s, u"transparentColorEdit=0"_s,
                                    u"statusLine="_s, u"Use Remapping"_s, u"Quit"_s}));
    QTest::keyClicks(&dialog.Child("endColorEdit"), u"1a-2 x3"_s);  // typed digits only
    QTest::keyClicks(&dialog.Child("statusLine"), u"1a-2 x3"_s);    // nothing at all
    QCOMPARE(dialog.Child("endColorEdit").text() + dialog.Child("statusLine").text(), u"255123"_s);
  }

  // Quit and Enter read the fields back in exchange order and stop at the first that fails:
  // the settings before it hold the fields' values, the failing one the number read (if any),
  // and the ones after it keep their own. Escape, the close box and "&Close" read nothing.
  void quitEnterEscapeAndClose_data() {
    QTest::addColumn<Leaving>("leaving");
    QTest::newRow("end 256") << Leaving{kEnd, "256", "Quit", kRange, "256 240 '' 1 0 1"};
    QTest::newRow("end -1") << Leaving{kEnd, "-1", "Return", kRange, "-1 240 '' 1 0 1"};
    QTest::newRow("end empty") << Leaving{kEnd, "", "Quit", kInteger, "255 240 '' 1 0 1"};
    QTest::newRow("start 12a") << Leaving{kStart, "12a", "Quit", kInteger, "12 240 '' 1 0 1"};
    QTest::newRow("start 2^31") << Leaving{kStart, "2147483648", "Quit", kInteger,
                                           "12 240 '' 1 0 1"};
    QTest::newRow("start 0") << Leaving{kStart, "0", "Enter", "accepted", "12 0 's' 0 3 2"};
    QTest::newRow("start +7") << Leaving{kStart, " +7 ", "Quit", "accepted", "12 7 's' 0 3 2"};
    QTest::newRow("transp. 256") << Leaving{kTransparent, "256", "Quit", kRange,
                                            "12 5 's' 0 256 1"};
    QTest::newRow("transp. 255") << Leaving{kTransparent, "255", "Return", "accepted",
                                            "12 5 's' 0 255 2"};
    for (const char* how : {"Escape", "close box", "&Close"}) {
      QTest::newRow(how) << Leaving{kEnd, "300", how, "rejected", "255 240 '' 1 0 1"};
    }
  }
  void quitEnterEscapeAndClose() {
    QFETCH(const Leaving, leaving);
    ScriptedDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    dialog.Child("endColorEdit").setText(u"12"_s);
    dialog.Child("startColorEdit").setText(u"5"_s);
    dialog.Child("statusLine").setText(u"s"_s);
    dialog.Child<QCheckBox>("useRemappingBox").setChecked(false);
    dialog.Child("transparentColorEdit").setText(u"3"_s);
    dialog.Child<QRadioButton>("rlsFormatButton").click();
    QLineEdit& edit = dialog.Child(leaving.field);
    edit.setText(leaving.text);
    edit.setFocus();
    if (leaving.how == u"Quit"_s) {
      QTest::mouseClick(&dialog.Child<QPushButton>("quitButton"), Qt::LeftButton);
    } else if (leaving.how == u"close box"_s) {
      dialog.close();
    } else if (leaving.how == u"&Close"_s) {
      dialog.OnSysCommand(&dialog.Child<QAction>("closeAction"));
    } else {
      QTest::keyClick(&edit, leaving.how == u"Escape"_s  ? Qt::Key_Escape
                             : leaving.how == u"Enter"_s ? Qt::Key_Enter
                                                         : Qt::Key_Return);
    }
    QCOMPARE(dialog.Members(), leaving.members);
    if (dialog.isVisible()) {
      QCOMPARE(dialog.shown.join(u'\n'),
               u"KAV Graphic Converter: %1 (warning, owned)"_s.arg(leaving.outcome));
      QVERIFY(QApplication::focusWidget() == &edit && edit.selectedText() == leaving.text);
    } else {
      QVERIFY(dialog.shown.isEmpty());
      QCOMPARE(dialog.result() == QDialog::Accepted ? u"accepted"_s : u"rejected"_s,
               leaving.outcome);
    }
  }

  // A right click opens the window menu; its About item runs the About box modally.
  void windowMenuOpensTheAboutBox() {
    ConverterDialog dialog;
    dialog.show();
    QStringList shown;
    WhenShown([&](QWidget& menu) {
      for (const QAction* action : menu.actions()) {
        shown.append(action->isSeparator() ? u"-"_s : action->text());
      }
      WhenShown([&](QWidget& box) {
        shown << box.windowTitle() << TextsOf(box);
        QVERIFY(box.isModal() && box.parentWidget() == &dialog);
        QVERIFY(box.findChild<QPushButton*>()->isDefault());
        QCOMPARE(box.findChild<QLabel*>()->pixmap().size(), QSize(32, 32));
      });
      QTest::keyClick(&menu, Qt::Key_A);
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, {5, 5}, dialog.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&dialog, &click);
    QCOMPARE(shown, (QStringList{u"&Close"_s, u"-"_s, u"&About Zerlind..."_s, u"About Zerlind"_s,
                                 u"Zerlind Version 1.0"_s, u"OK"_s}));
    QVERIFY(dialog.isVisible());
  }

  void batchesReportInTheStatusLineAndInErrorBoxes() {
    QTemporaryDir dir;
    const Paths paths = OddFiles(dir);
    ScriptedDialog dialog;
    dialog.Convert(Paths{paths[0]});
    QCOMPARE(dialog.Child("statusLine").text(),
             u"SUCCESS!!  %1 converted!"_s.arg(dir.filePath(u"a.RLE"_s)));
    // A sprite of tagged frames gives an output per frame, each told in turn.
    const QString sprite = dir.filePath(u"hero.aseprite"_s);
    QVERIFY(QFile::copy(QStringLiteral(KAV_ASEPRITE_DIR "/indexed-background.aseprite"), sprite));
    dialog.Convert(Paths{sprite.toStdString()});
    QCOMPARE(dialog.statusText(),
             u"SUCCESS!!  %1 converted!"_s.arg(dir.filePath(u"hero_jump__1.RLE"_s)));
    QVERIFY(QFile::exists(dir.filePath(u"hero_walk_0.RLE"_s)) &&
            QFile::exists(dir.filePath(u"hero_walk_1.RLE"_s)));
    // So does an animated GIF, its frames numbered.
    const QString anim = dir.filePath(u"anim.gif"_s);
    QVERIFY(QFile::copy(QStringLiteral(KAV_GIF_DIR "/gif87a.gif"), anim));
    dialog.Convert(Paths{anim.toStdString()});
    QCOMPARE(dialog.statusText(), u"SUCCESS!!  %1 converted!"_s.arg(dir.filePath(u"anim_1.RLE"_s)));
    QVERIFY(QFile::exists(dir.filePath(u"anim_0.RLE"_s)));
    dialog.Convert(paths);
    QCOMPARE(dialog.statusText(), u"5 files processed!"_s);
    dialog.Convert(Paths{});       // the chooser cancelled: nothing changes
    dialog.Convert(std::nullopt);  // a failure raised in the batch ends it with a message
    QCOMPARE(dialog.statusText(), u"5 files processed!"_s);
    // With no format button selected the batch converts to MZR, where a failure ends it. The
    // reader's box has no owner; a writer's is the dialog's.
    auto& formats = dialog.Child<QButtonGroup>("formatButtons");
    formats.setExclusive(false);
    dialog.Child<QRadioButton>("rleFormatButton").setChecked(false);
    formats.setExclusive(true);
    QVERIFY(QFile::resize(QString::fromStdString(paths[1]), 2));
    dialog.Convert(paths);
    QVERIFY(QFile::exists(dir.filePath(u"a.MZR"_s)) && !QFile::exists(dir.filePath(u"c.MZR"_s)));
    QCOMPARE(dialog.statusText(), u"Error while converting!"_s);
    QVERIFY(QDir(dir.path()).mkdir(u"c.MZR"_s));  // a folder where the output should go
    dialog.Convert(Paths{paths[2]});
    // In a batch of several files the box names the one that failed.
    QCOMPARE(dialog.shown,
             (QStringList{u"Error: out of memory (warning, owned)"_s,
                          u"Error: This BMP file is corrupt [%1] (warning, owned)"_s.arg(
                              dir.filePath(u"b.BMP"_s)),
                          u"Error: Cannot create output file (warning, owned)"_s}));
  }

  // The progress dialog shows once the batch has run longer than the delay, counted from its
  // first file; Cancel stops the batch after the file being converted, and the dialog has the
  // keyboard again.
  void cancelStopsAfterTheCurrentFile() {
    QTemporaryDir dir;
    const Paths paths = OddFiles(dir);
    ScriptedDialog patient;
    patient.SetProgressDelay(std::chrono::hours(1));
    patient.cancelAt = 0;
    patient.Convert(paths);
    QCOMPARE(patient.statusText(), u"5 files processed!"_s);  // never shown, so never cancelled
    ScriptedDialog slowChoice;  // files chosen after a long look convert as quickly
    slowChoice.SetProgressDelay(std::chrono::milliseconds(300));
    slowChoice.cancelAt = 0;
    slowChoice.Convert(paths, std::chrono::milliseconds(400));
    QCOMPARE(slowChoice.statusText(), u"5 files processed!"_s);
    ScriptedDialog dialog;
    dialog.SetProgressDelay(std::chrono::milliseconds(0));
    dialog.cancelAt = 1;
    dialog.show();
    dialog.Convert(paths);
    QCOMPARE(dialog.progressAtCancel, u"Converting file 2 of 5:\nb.BMP (modal)"_s);
    QCOMPARE(dialog.statusText(), u"2 files processed!"_s);
    QCOMPARE(dialog.progressDialog(), nullptr);  // gone with the batch
    QTRY_COMPARE(QApplication::activeWindow(), &dialog);
  }

  // Files dropped on the dialog, or named on its command line, are converted as one batch as
  // if chosen, and the chooser starts in their folder from then on, in the next run too; the
  // named files once, however often the dialog is activated. Anything else dropped is
  // refused, on the colour fields too. Every box belongs to the dialog, so none opens beneath it.
  void droppedAndNamedFilesConvertAsChosen() {
    QTemporaryDir dir;
    const Paths paths = OddFiles(dir);
    QVERIFY(QFile::resize(QString::fromStdString(paths[1]), 2));
    ScriptedDialog dialog;
    dialog.show();
    QMimeData text;
    text.setText(u"7"_s);
    QVERIFY(!Drop(&dialog.Child(kStart), text));
    text.setUrls({QUrl::fromLocalFile(dir.filePath(u"a.bmp"_s)), QUrl(u"https://x.org/c.bmp"_s),
                  QUrl::fromLocalFile(dir.path()), QUrl::fromLocalFile(dir.filePath(u"b.BMP"_s)),
                  QUrl::fromLocalFile(dir.filePath(u"c.bmp"_s))});
    QVERIFY(Drop(&dialog.Child(kStart), text));
    QTRY_COMPARE(dialog.statusText(), u"3 files processed!"_s);
    QCOMPARE(dialog.shown,
             QStringList{u"Error: This BMP file is corrupt [%1] (warning, owned)"_s.arg(
                 dir.filePath(u"b.BMP"_s))});
    QDir::setCurrent(dir.path());
    const CommandLine line = ReadCommandLine({"kav-graphic-converter", "d.bmp", "--", "-e.bmp"});
    QCOMPARE(line.files,
             (Paths{paths[3], QFile::encodeName(dir.filePath(u"-e.bmp"_s)).toStdString()}));
    QVERIFY(QFile::rename(dir.filePath(u"e.bmp"_s), dir.filePath(u"-e.bmp"_s)));
    QTemporaryDir elsewhere;
    ChooserStart().Remember({elsewhere.filePath(u"x.bmp"_s)});  // the folder of another run
    dialog.ConvertFilesOnceActive(line.files);
    QTRY_COMPARE(dialog.statusText(), u"2 files processed!"_s);
    QCOMPARE(ChooserStart().start(), dir.path());
    dialog.SetStatusText("");
    QWidget other;
    other.show();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QTest::qWait(100);  // the batch would start at once
    QCOMPARE(dialog.statusText(), QString());
  }

  // The program as it is started: every argument after "--" is a file, Qt's options among
  // them, and names that are not UTF-8 keep their bytes (so does such a name from Qt, which
  // shows it with U+FFFD in place of its bytes: it is found again in its folder); without a
  // display it says so instead of letting Qt end it.
  void commandLineIsTheProgramsAlone() {
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + '/';
    for (const char* name : {"-platform", "nowhere", "\xFF.bmp"}) {
      QVERIFY(QFile::copy(QStringLiteral(KAV_SAMPLES_DIR "/odd.bmp"), dir.filePath(u"x"_s)));
      QVERIFY(std::rename(folder + "x", folder + name) == 0);
    }
    QCOMPARE(EncodeNames({QFile::decodeName(folder + "\xFF.bmp")}),
             Paths{(folder + "\xFF.bmp").toStdString()});
    QProcess dialog;
    dialog.setWorkingDirectory(dir.path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"DISPLAY"_s);
    environment.remove(u"WAYLAND_DISPLAY"_s);
    environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    dialog.setProcessEnvironment(environment);
    // The shell passes the byte 0xFF, which a QString cannot hold.
    dialog.start(u"/bin/sh"_s,
                 {u"-c"_s, u"exec \"$0\" -- -platform nowhere \"$(printf '\\377').bmp\""_s,
                  u"" KAV_DIALOG_PATH ""_s});
    const auto converted = [&folder](const char* name) { return access(folder + name, F_OK) == 0; };
    QTRY_VERIFY_WITH_TIMEOUT(
        converted("-platform.RLE") && converted("nowhere.RLE") && converted("\xFF.RLE"), 20000);
    dialog.terminate();
    QVERIFY(dialog.waitForFinished());
    for (const char* name : {"\xFF.bmp", "\xFF.RLE"}) {  // which QTemporaryDir cannot name
      std::remove(folder + name);
    }
    for (const QString& platform : {QString(), u"xcb"_s, u"wayland;xcb"_s}) {
      environment.insert(u"QT_QPA_PLATFORM"_s, platform);
      dialog.setProcessEnvironment(environment);
      dialog.start(QStringLiteral(KAV_DIALOG_PATH), {u"--"_s, u"-platform"_s, u"offscreen"_s});
      QVERIFY(dialog.waitForFinished(20000));
      QCOMPARE(dialog.exitCode(), 1);
      QCOMPARE(dialog.readAllStandardError(), QByteArray("cannot open a window: no display\n"));
    }
  }

  // BMP, PNG, GIF and Aseprite files in every letter case, every file under "All Files", a
  // typed name taken as typed, and where the next chooser starts.
  void chooserOffersImageFiles() {
    QTemporaryDir dir;
    for (const QString& name :
         {u"a.bmp"_s, u"B.BMP"_s, u"c.Bmp"_s, u"d.png"_s, u"E.PNG"_s, u"f.GIF"_s, u"g.ase"_s,
          u"h.Aseprite"_s, u"notes.txt"_s, u"hero"_s}) {
      QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
    }
    QFileDialog files;
    ConfigureFileDialog(files, dir.path());
    QCOMPARE(files.nameFilters(),
             (QStringList{u"Image Files (*.bmp *.png *.gif *.ase *.aseprite)"_s,
                          u"BMP Files (*.bmp)"_s, u"PNG Files (*.png)"_s, u"GIF Files (*.gif)"_s,
                          u"Aseprite Files (*.ase *.aseprite)"_s, u"All Files (*)"_s}));
    QCOMPARE(files.fileMode(), QFileDialog::ExistingFiles);
    const auto* view = files.findChild<QAbstractItemView*>(u"listView"_s);
    QVERIFY(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) == 8; }));
    files.selectNameFilter(u"All Files (*)"_s);
    QVERIFY(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) == 10; }));
    files.selectFile(u"hero"_s);
    QCOMPARE(files.selectedFiles(), QStringList{dir.filePath(u"hero"_s)});
    QCOMPARE(NextStartFrom({u"/d/a.bmp"_s, u"/d/b.bmp"_s}), u"/d"_s);
    QCOMPARE(NextStartFrom({u"/d/a.bmp"_s}), u"/d/a.bmp"_s);
  }

 private:
  QTemporaryDir settingsHome_;  // QSettings' user folder, for the folder the chooser keeps
};

}  // namespace kav

QTEST_MAIN(kav::ConverterDialogTest)
#include "converter_dialog_test.moc"
