// The main dialog: defaults, layout and tab order, the data exchange in both directions with
// every validation case, "Quit", Enter, Escape and the close box, and the About box through
// the window menu and system commands.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "app/about_dialog.h"
#include "app/dialog_units.h"
#include "dialog_test_support.h"

namespace kav {
namespace {

using test::ScriptedDialog;

const QString kIntegerMessage = QStringLiteral("Please enter an integer.");
const QString kRangeMessage = QStringLiteral("Please enter an integer between 0 and 255.");

// The dialog's controls by id.
struct MainControls {
  explicit MainControls(const ConverterDialog& dialog)
      : quit(dialog.controls().Require<QPushButton>(kQuitId)),
        convertFile(dialog.controls().Require<QPushButton>(kConvertFileId)),
        startColor(dialog.controls().Require<QLineEdit>(kStartColorId)),
        endColor(dialog.controls().Require<QLineEdit>(kEndColorId)),
        transparentColor(dialog.controls().Require<QLineEdit>(kTransparentColorId)),
        statusLine(dialog.controls().Require<QLineEdit>(kStatusLineId)),
        useRemapping(dialog.controls().Require<QCheckBox>(kUseRemappingId)),
        mzr(dialog.controls().Require<QRadioButton>(kFirstFormatId)),
        rle(dialog.controls().Require<QRadioButton>(kFirstFormatId + 1)),
        rls(dialog.controls().Require<QRadioButton>(kFirstFormatId + 2)) {}
  QPushButton& quit;
  QPushButton& convertFile;
  QLineEdit& startColor;
  QLineEdit& endColor;
  QLineEdit& transparentColor;
  QLineEdit& statusLine;
  QCheckBox& useRemapping;
  QRadioButton& mzr;
  QRadioButton& rle;
  QRadioButton& rls;
};

void ShowAndActivate(QDialog& dialog) {
  dialog.show();
  dialog.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&dialog));
}

}  // namespace

class ConverterDialogTest : public QObject {
  Q_OBJECT

 private:
  AppResources resources_;

 private Q_SLOTS:
  void initTestCase() { resources_ = test::LoadResourcesForTest(); }

  void startsWithTheDefaults() {
    ScriptedDialog dialog(resources_);
    MainControls controls(dialog);
    QCOMPARE(controls.statusLine.text(), QString());
    QCOMPARE(controls.startColor.text(), QStringLiteral("240"));
    QCOMPARE(controls.endColor.text(), QStringLiteral("255"));
    QCOMPARE(controls.transparentColor.text(), QStringLiteral("0"));
    QVERIFY(controls.useRemapping.isChecked());
    QVERIFY(!controls.mzr.isChecked() && controls.rle.isChecked() && !controls.rls.isChecked());
    const ConversionSettings settings = dialog.Settings();
    QCOMPARE(settings.format, kFormatRle);
    QCOMPARE(settings.startColor, 240);
    QCOMPARE(settings.endColor, 255);
    QCOMPARE(settings.transparentColor, 0);
    QVERIFY(settings.useRemapping);
    QCOMPARE(dialog.windowIcon().availableSizes().size(), 2);
    ShowAndActivate(dialog);
    QCOMPARE(QApplication::focusWidget(), &controls.quit);
    QVERIFY(dialog.shown.empty());
  }

  void placesTheTemplateControls() {
    ScriptedDialog dialog(resources_);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("KAV Graphic Converter"));
    const Qt::WindowFlags flags = dialog.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);  // a taskbar entry of its own
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint) && !(flags & Qt::WindowMaximizeButtonHint));
    QCOMPARE(dialog.font().pointSize(), 8);
    const DialogBaseUnits units = BaseUnitsOf(dialog.font());
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QCOMPARE(dialog.minimumSize(), ToPixels(resources_.mainDialog.rect, units).size());
    const std::vector<QWidget*>& widgets = dialog.controls().InTemplateOrder();
    QCOMPARE(widgets.size(), std::size_t{15});
    const char* const kinds[] = {"QPushButton",  "QLabel",       "QLabel",      "QPushButton",
                                 "QLineEdit",    "QLineEdit",    "QGroupBox",   "QLabel",
                                 "QLineEdit",    "QLineEdit",    "QCheckBox",   "QGroupBox",
                                 "QRadioButton", "QRadioButton", "QRadioButton"};
    for (std::size_t i = 0; i < widgets.size(); ++i) {
      const ControlTemplate& control = resources_.mainDialog.controls[i];
      QCOMPARE(widgets[i]->parentWidget(), &dialog);
      QCOMPARE(widgets[i]->metaObject()->className(), kinds[i]);
      QCOMPARE(widgets[i]->geometry(), ToPixels(control.rect, units));
      const char* textProperty = control.kind == ControlKind::kGroupFrame ? "title" : "text";
      if (control.kind != ControlKind::kIcon && control.kind != ControlKind::kEdit) {
        QCOMPARE(widgets[i]->property(textProperty).toString(), control.label);
      }
    }
    MainControls controls(dialog);
    QVERIFY(controls.quit.isDefault());
    QVERIFY(!controls.convertFile.isDefault());
    QVERIFY(controls.statusLine.isReadOnly());
    QCOMPARE(controls.statusLine.maxLength(), 32767);  // no limit shortens program text
    QCOMPARE(controls.statusLine.validator(), nullptr);
    QCOMPARE(controls.mzr.focusPolicy(), Qt::ClickFocus);
  }

  void tabVisitsTheTabStopsInTemplateOrder() {
    ScriptedDialog dialog(resources_);
    MainControls controls(dialog);
    ShowAndActivate(dialog);
    const std::vector<QWidget*> order{&controls.convertFile, &controls.startColor,
                                      &controls.endColor,    &controls.transparentColor,
                                      &controls.statusLine,  &controls.useRemapping,
                                      &controls.quit};
    for (QWidget* next : order) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), next);
    }
  }

  void editFieldsTakeTypedDigitsOnly() {
    ScriptedDialog dialog(resources_);
    MainControls controls(dialog);
    ShowAndActivate(dialog);
    for (QLineEdit* edit : {&controls.startColor, &controls.endColor, &controls.transparentColor}) {
      edit->clear();
      edit->setFocus();
      QTest::keyClicks(edit, QStringLiteral("1a-2 x3"));
      QCOMPARE(edit->text(), QStringLiteral("123"));
    }
    QTest::keyClicks(&controls.statusLine, QStringLiteral("typed"));
    QCOMPARE(controls.statusLine.text(), QString());
  }

  // Each read back stops at its first failing step: the members before it hold the controls'
  // values, the failing one holds a value read (or keeps its own when the text is not a
  // number), and every member after it keeps its value.
  void readsBackInTheExchangeOrder() {
    ScriptedDialog dialog(resources_);
    MainControls controls(dialog);
    controls.endColor.setText(QStringLiteral("300"));
    controls.startColor.setText(QStringLiteral("7"));
    controls.useRemapping.setChecked(false);
    controls.transparentColor.setText(QStringLiteral("9"));
    controls.mzr.setChecked(true);
    dialog.statusText = QStringLiteral("old");

    QVERIFY(!dialog.DoDataExchange(true));
    QCOMPARE(dialog.endColor, 300);
    QCOMPARE(dialog.startColor, 240);
    QCOMPARE(dialog.statusText, QStringLiteral("old"));
    QVERIFY(dialog.useRemapping);
    QCOMPARE(dialog.transparentColor, 0);
    QCOMPARE(dialog.format, kFormatRle);

    controls.endColor.setText(QStringLiteral("12"));
    controls.startColor.clear();
    QVERIFY(!dialog.DoDataExchange(true));
    QCOMPARE(dialog.endColor, 12);
    QCOMPARE(dialog.startColor, 240);
    QCOMPARE(dialog.statusText, QStringLiteral("old"));

    controls.startColor.setText(QStringLiteral("5"));
    controls.transparentColor.setText(QStringLiteral("256"));
    QVERIFY(!dialog.DoDataExchange(true));
    QCOMPARE(dialog.startColor, 5);
    QCOMPARE(dialog.statusText, QString());  // step 3 read the empty status line
    QVERIFY(!dialog.useRemapping);
    QCOMPARE(dialog.transparentColor, 256);
    QCOMPARE(dialog.format, kFormatRle);

    controls.transparentColor.setText(QStringLiteral("3"));
    QVERIFY(dialog.DoDataExchange(true));
    QCOMPARE(dialog.transparentColor, 3);
    QCOMPARE(dialog.format, kFormatMzr);
    QCOMPARE(test::MessageTexts(dialog.shown),
             (QStringList{kRangeMessage, kIntegerMessage, kRangeMessage}));
  }

  void validatesEachColourField_data() {
    QTest::addColumn<int>("field");  // 0 end, 1 start, 2 transparent
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("member");
    QTest::newRow("end 300") << 0 << "300" << kRangeMessage << 300;
    QTest::newRow("end 256") << 0 << "256" << kRangeMessage << 256;
    QTest::newRow("end -1") << 0 << "-1" << kRangeMessage << -1;
    QTest::newRow("end empty") << 0 << "" << kIntegerMessage << 255;
    QTest::newRow("end 2^31") << 0 << "2147483648" << kIntegerMessage << 255;
    QTest::newRow("end 2^31-1") << 0 << "2147483647" << kRangeMessage << 2147483647;
    QTest::newRow("start emptied") << 1 << "" << kIntegerMessage << 240;
    QTest::newRow("start 999") << 1 << "999" << kRangeMessage << 999;
    QTest::newRow("start huge") << 1 << "99999999999" << kIntegerMessage << 240;
    QTest::newRow("transparent empty") << 2 << "" << kIntegerMessage << 0;
    QTest::newRow("transparent 256") << 2 << "256" << kRangeMessage << 256;
    QTest::newRow("transparent -7") << 2 << "-7" << kRangeMessage << -7;
  }
  void validatesEachColourField() {
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(int, member);
    ScriptedDialog dialog(resources_);
    MainControls controls(dialog);
    QLineEdit* edits[] = {&controls.endColor, &controls.startColor, &controls.transparentColor};
    const std::int32_t* members[] = {&dialog.endColor, &dialog.startColor,
                                     &dialog.transparentColor};
    ShowAndActivate(dialog);
    edits[field]->setText(text);
    QTest::mouseClick(&controls.quit, Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.shown.size(), std::size_t{1});
    const test::ShownWindow& box = dialog.shown.front();
    QCOMPARE(box.text, message);
    QCOMPARE(box.parent, &dialog);
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(*members[field], member);
    QCOMPARE(QApplication::focusWidget(), edits[field]);
    QCOMPARE(edits[field]->selectedText(), text);
    QCOMPARE(edits[field]->text(), text);
  }

  void quitClosesWhenTheSettingsReadBack() {
    ScriptedDialog dialog(resources_);
    MainControls controls(dialog);
    ShowAndActivate(dialog);
    controls.startColor.setText(QStringLiteral("17"));
    QTest::mouseClick(&controls.quit, Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int{QDialog::Accepted});
    QCOMPARE(dialog.startColor, 17);
    QVERIFY(dialog.shown.empty());
  }

  void enterActsAsQuit() {
    ScriptedDialog dialog(resources_);
    MainControls controls(dialog);
    ShowAndActivate(dialog);
    controls.endColor.setFocus();
    controls.endColor.setText(QStringLiteral("300"));
    QTest::keyClick(&controls.endColor, Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    QCOMPARE(test::MessageTexts(dialog.shown), QStringList{kRangeMessage});
    QCOMPARE(QApplication::focusWidget(), &controls.endColor);
    QCOMPARE(controls.endColor.selectedText(), QStringLiteral("300"));
    controls.endColor.setText(QStringLiteral("200"));
    QTest::keyClick(&controls.endColor, Qt::Key_Enter);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int{QDialog::Accepted});
    QCOMPARE(dialog.endColor, 200);
  }

  void escapeClosesEvenWithAnInvalidValue() {
    ScriptedDialog dialog(resources_);
    MainControls controls(dialog);
    ShowAndActivate(dialog);
    controls.endColor.setText(QStringLiteral("300"));
    controls.endColor.setFocus();
    QTest::keyClick(&controls.endColor, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int{QDialog::Rejected});
    QCOMPARE(dialog.endColor, 255);  // nothing was read back
    QVERIFY(dialog.shown.empty());
  }

  void closeBoxClosesAtOnce() {
    ScriptedDialog dialog(resources_);
    MainControls controls(dialog);
    ShowAndActivate(dialog);
    controls.startColor.clear();
    QVERIFY(dialog.close());
    QCOMPARE(dialog.result(), int{QDialog::Rejected});
    QVERIFY(dialog.shown.empty());
  }

  void publishesEveryMember() {
    ScriptedDialog dialog(resources_);
    MainControls controls(dialog);
    dialog.endColor = 300;
    dialog.startColor = -5;
    dialog.statusText = QString(200, u'x') + QStringLiteral(" converted!");
    dialog.useRemapping = false;
    dialog.transparentColor = 2147483647;
    dialog.format = kFormatRls;
    QVERIFY(dialog.DoDataExchange(false));
    QCOMPARE(controls.endColor.text(), QStringLiteral("300"));
    QCOMPARE(controls.startColor.text(), QStringLiteral("-5"));
    QCOMPARE(controls.statusLine.text(), dialog.statusText);  // whole, past 80 characters
    QVERIFY(!controls.useRemapping.isChecked());
    QCOMPARE(controls.transparentColor.text(), QStringLiteral("2147483647"));
    QVERIFY(!controls.mzr.isChecked() && !controls.rle.isChecked() && controls.rls.isChecked());

    dialog.format = -1;
    QVERIFY(dialog.DoDataExchange(false));
    QVERIFY(!controls.mzr.isChecked() && !controls.rle.isChecked() && !controls.rls.isChecked());
    dialog.format = 0;
    QVERIFY(dialog.DoDataExchange(false));
    QVERIFY(controls.mzr.isChecked() && !controls.rle.isChecked());

    // A long status line reads back unchanged and never fails.
    dialog.endColor = 10;
    dialog.startColor = 20;
    dialog.transparentColor = 30;
    dialog.format = -1;
    QVERIFY(dialog.DoDataExchange(false));
    QVERIFY(dialog.DoDataExchange(true));
    QCOMPARE(dialog.statusText.size(), 211);
    QCOMPARE(dialog.format, -1);
    QVERIFY(dialog.shown.empty());
  }

  void windowMenuEndsWithTheAboutItem() {
    ScriptedDialog dialog(resources_);
    MainControls controls(dialog);
    controls.startColor.setText(QStringLiteral("33"));
    const QList<QAction*> actions = dialog.windowMenu().actions();
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions[0]->text(), QStringLiteral("&Close"));
    QVERIFY(actions[1]->isSeparator());
    QCOMPARE(actions[2]->text(), QStringLiteral("&About Zerlind..."));
    QCOMPARE(actions[2]->data().toUInt(), 16u);

    dialog.onModal = [](QDialog& about) {
      QCOMPARE(about.findChildren<QPushButton*>().size(), 1);
      QPushButton* ok = about.findChildren<QPushButton*>().front();
      QCOMPARE(ok->text(), QStringLiteral("OK"));
      QVERIFY(ok->isDefault());
      const QList<QLabel*> labels = about.findChildren<QLabel*>();
      QVERIFY(std::any_of(labels.begin(), labels.end(),
                          [](const QLabel* label) { return !label->pixmap().isNull(); }));
    };
    actions[2]->trigger();
    QCOMPARE(dialog.shown.size(), std::size_t{1});
    QCOMPARE(dialog.shown[0].type, QStringLiteral("about"));
    QCOMPARE(dialog.shown[0].title, QStringLiteral("About Zerlind"));
    QCOMPARE(dialog.shown[0].text, QStringLiteral("Zerlind Version 1.0"));
    QCOMPARE(dialog.shown[0].parent, &dialog);
    // The main dialog is unchanged.
    QCOMPARE(controls.startColor.text(), QStringLiteral("33"));
    QCOMPARE(dialog.startColor, 240);
  }

  void emptyAboutStringLeavesTheMenuAlone() {
    AppResources resources = resources_;
    resources.strings[kAboutItemString] = QString();
    ScriptedDialog dialog(resources);
    const QList<QAction*> actions = dialog.windowMenu().actions();
    QCOMPARE(actions.size(), 1);
    QCOMPARE(actions[0]->text(), QStringLiteral("&Close"));
    resources.strings.erase(kAboutItemString);
    ScriptedDialog withoutString(resources);
    QCOMPARE(withoutString.windowMenu().actions().size(), 1);
  }

  void rightClickOpensTheWindowMenu() {
    ScriptedDialog dialog(resources_);
    ShowAndActivate(dialog);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            dialog.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&dialog, &event);
    QVERIFY(dialog.windowMenu().isVisible());
    dialog.windowMenu().close();
  }

  void systemCommands_data() {
    QTest::addColumn<uint>("id");
    QTest::addColumn<bool>("about");
    QTest::addColumn<bool>("closes");
    for (uint id = 16; id <= 31; ++id) {
      QTest::addRow("%u", id) << id << true << false;
    }
    QTest::newRow("0") << 0u << false << false;
    QTest::newRow("15") << 15u << false << false;
    QTest::newRow("32") << 32u << false << false;
    QTest::newRow("48") << 48u << false << false;
    QTest::newRow("move") << 0xF010u << false << false;
    QTest::newRow("minimize") << 0xF020u << false << false;
    QTest::newRow("close") << 0xF060u << false << true;
  }
  void systemCommands() {
    QFETCH(uint, id);
    QFETCH(bool, about);
    QFETCH(bool, closes);
    ScriptedDialog dialog(resources_);
    ShowAndActivate(dialog);
    dialog.OnSysCommand(id);
    QCOMPARE(dialog.shown.size(), std::size_t{about ? 1u : 0u});
    if (about) {
      QCOMPARE(dialog.shown[0].type, QStringLiteral("about"));
    }
    QCOMPARE(dialog.isVisible(), !closes);
  }

  // The real modal windows, closed by a timer once they show.
  void aboutBoxRunsModally() {
    ConverterDialog dialog(resources_);
    dialog.show();
    bool seen = false;
    test::WhenModalShown([&](QWidget& modal) {
      seen = qobject_cast<AboutDialog*>(&modal) != nullptr;
      QCOMPARE(modal.windowTitle(), QStringLiteral("About Zerlind"));
      QVERIFY(modal.isModal());
      QCOMPARE(modal.parentWidget(), &dialog);
    });
    dialog.OnSysCommand(kAboutCommand);
    QVERIFY(seen);
    QVERIFY(dialog.isVisible());
  }

  void errorBoxesHaveTheirOwners_data() {
    QTest::addColumn<bool>("owned");
    QTest::newRow("reader: no owner") << false;
    QTest::newRow("writer: the dialog") << true;
  }
  void errorBoxesHaveTheirOwners() {
    QFETCH(bool, owned);
    ConverterDialog dialog(resources_);
    dialog.show();
    bool seen = false;
    test::WhenModalShown([&](QWidget& modal) {
      auto* box = qobject_cast<QMessageBox*>(&modal);
      QVERIFY(box != nullptr);
      seen = true;
      QCOMPARE(box->windowTitle(), QStringLiteral("Error"));
      QCOMPARE(box->text(), QStringLiteral("This BMP file is corrupt"));
      QCOMPARE(box->icon(), QMessageBox::Warning);
      QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
      QCOMPARE(box->parentWidget(), owned ? &dialog : nullptr);
    });
    dialog.ShowError(owned ? MessageOwner::kMainDialog : MessageOwner::kNone,
                     "This BMP file is corrupt");
    QVERIFY(seen);
  }
};

}  // namespace kav

QTEST_MAIN(kav::ConverterDialogTest)
#include "converter_dialog_test.moc"
