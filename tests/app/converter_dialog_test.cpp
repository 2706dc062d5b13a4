// The main dialog: dialog units and whole numbers, defaults and layout, the data exchange in both
// directions with every validation case, "Quit", Enter, Escape and the close box, and the About box
// through the window menu and system commands.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "app/about_dialog.h"
#include "app/converter_app.h"
#include "app/dialog_units.h"
#include "app/whole_number.h"
#include "dialog_test_support.h"

namespace kav {
namespace {

using namespace Qt::StringLiterals;

using test::Control;
using test::Members;
using test::ScriptedDialog;
using test::ShowAndActivate;
using test::Texts;

const QString kIntegerMessage = QString::fromLatin1(kNotWholeNumberText);
const QString kRangeMessage = QString::fromLatin1(kOutOfRangeText);

QRadioButton& Format(const ConverterDialog& dialog, int format) {
  return test::FormatButton(dialog, format);
}

}  // namespace

class ConverterDialogTest : public QObject {
  Q_OBJECT

 private:
  AppResources resources_;

 private Q_SLOTS:
  void initTestCase() { resources_ = test::LoadResourcesForTest(); }

  void dialogUnitsAndWholeNumbers() {
    // A font 6 pixels wide and 13 high on average: 4 x 8 units make one character; halves go up.
    QCOMPARE(ToPixels({97, 162, 50, 14}, {.width = 6, .height = 13}), QRect(146, 263, 75, 23));
    QCOMPARE(ScaleDialogUnits(1, 5, 4), 1);  // 1.25
    QCOMPARE(ScaleDialogUnits(3, 5, 8), 2);  // 1.875
    QFont small;
    small.setPointSize(8);
    QFont large = small;
    large.setPointSize(16);
    QVERIFY(BaseUnitsOf(small).width > 0 && BaseUnitsOf(large).width > BaseUnitsOf(small).width);
    QVERIFY(BaseUnitsOf(small).height > 0 && BaseUnitsOf(large).height > BaseUnitsOf(small).height);
    // Whole numbers in ASCII digits, with a sign and spaces around them, in 32 bits.
    const QStringList valid{u"007"_s,   u"-5"_s,         u"+12"_s,
                            u"  42 "_s, u"2147483647"_s, u"-2147483648"_s};
    const std::vector<std::int32_t> values{7, -5, 12, 42, 2147483647, -2147483647 - 1};
    for (qsizetype i = 0; i < valid.size(); ++i) {
      QCOMPARE(ParseWholeNumber(valid[i]), values[static_cast<std::size_t>(i)]);
    }
    for (const QString& text : {u"   "_s, u"-"_s, u"12a"_s, u"1 2"_s, u"1.5"_s, u"2147483648"_s,
                                u"-2147483649"_s, u"\u0661\u0662"_s}) {
      QCOMPARE(ParseWholeNumber(text), std::nullopt);
    }
  }

  void applicationDescription() {
    ConverterApp::DescribeApplication();
    QCOMPARE(QCoreApplication::applicationVersion(), u"1.0.0.1"_s);
    QCOMPARE(QGuiApplication::desktopFileName(), u"kav-graphic-converter"_s);
  }

  void startsWithTheDefaultsAndTabsThroughTheTabStops() {
    ScriptedDialog dialog(resources_);
    QCOMPARE(Members(dialog), u"255 240 '' 1 0 1"_s);
    QCOMPARE(Texts(dialog, {kStatusLineId, kStartColorId, kEndColorId, kTransparentColorId}),
             (QStringList{QString(), u"240"_s, u"255"_s, u"0"_s}));
    QVERIFY(Control<QCheckBox>(dialog, kUseRemappingId).isChecked());
    QVERIFY(!Format(dialog, 0).isChecked() && Format(dialog, 1).isChecked());
    const ConversionSettings settings = dialog.Settings();
    QCOMPARE((std::vector{settings.format, settings.startColor, settings.endColor,
                          settings.transparentColor, int{settings.useRemapping}}),
             (std::vector{kFormatRle, 240, 255, 0, 1}));
    QCOMPARE(dialog.windowIcon().availableSizes().size(), 2);
    ShowAndActivate(dialog);
    QCOMPARE(QApplication::focusWidget(), &Control<QPushButton>(dialog, kQuitId));
    // The format buttons are no tab stops.
    for (const int id : {kConvertFileId, kStartColorId, kEndColorId, kTransparentColorId,
                         kStatusLineId, kUseRemappingId, kQuitId}) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), dialog.controls().Find(id));
    }
  }

  void placesTheTemplateControls() {
    ScriptedDialog dialog(resources_);
    QCOMPARE(dialog.windowTitle(), u"KAV Graphic Converter"_s);
    const Qt::WindowFlags flags = dialog.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);  // a taskbar entry of its own
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint) && !(flags & Qt::WindowMaximizeButtonHint));
    QCOMPARE(dialog.font().pointSize(), 8);
    const DialogBaseUnits units = BaseUnitsOf(dialog.font());
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QCOMPARE(dialog.minimumSize(), ToPixels({0, 0, 242, 183}, units).size());
    const struct {
      const char* kind;
      const char* label;  // nullptr: an edit field
      DialogRect rect;
    } expected[] = {
        {"QPushButton", "Quit", {97, 162, 50, 14}},
        {"QLabel", "Start Color", {41, 96, 34, 8}},
        {"QLabel", "End Color", {87, 96, 32, 8}},
        {"QPushButton", "Convert File", {17, 31, 113, 27}},
        {"QLineEdit", nullptr, {41, 107, 34, 14}},
        {"QLineEdit", nullptr, {87, 107, 34, 14}},
        {"QGroupBox", "Remapping Range", {27, 82, 105, 60}},
        {"QLabel", "Transparent Color", {155, 94, 57, 8}},
        {"QLineEdit", nullptr, {155, 105, 56, 14}},
        {"QLineEdit", nullptr, {7, 7, 227, 16}},
        {"QCheckBox", "Use Remapping", {49, 126, 73, 9}},
        {"QGroupBox", "MZR Format", {7, 70, 227, 81}},
        {"QRadioButton", "MZR Format", {149, 31, 70, 13}},
        {"QRadioButton", "RLE Format", {149, 44, 70, 13}},
        {"QRadioButton", "RLS Format", {149, 57, 70, 13}},
    };
    const std::vector<QWidget*>& widgets = dialog.controls().InTemplateOrder();
    QCOMPARE(widgets.size(), std::size(expected));
    for (std::size_t i = 0; i < widgets.size(); ++i) {
      QCOMPARE(widgets[i]->parentWidget(), &dialog);
      QCOMPARE(widgets[i]->metaObject()->className(), expected[i].kind);
      QCOMPARE(widgets[i]->geometry(), ToPixels(expected[i].rect, units));
      if (expected[i].label != nullptr) {
        const char* property = qobject_cast<QGroupBox*>(widgets[i]) ? "title" : "text";
        QCOMPARE(widgets[i]->property(property).toString(), QString::fromUtf8(expected[i].label));
      }
    }
    QVERIFY(Control<QPushButton>(dialog, kQuitId).isDefault());
    QVERIFY(!Control<QPushButton>(dialog, kConvertFileId).isDefault());
  }

  void editFieldsTakeTypedDigitsOnly() {
    ScriptedDialog dialog(resources_);
    ShowAndActivate(dialog);
    for (const int id : {kStartColorId, kEndColorId, kTransparentColorId, kStatusLineId}) {
      QLineEdit& edit = Control(dialog, id);
      edit.clear();
      edit.setFocus();
      QTest::keyClicks(&edit, u"1a-2 x3"_s);
      QCOMPARE(edit.text(), id == kStatusLineId ? QString() : u"123"_s);
    }
    QCOMPARE(Control(dialog, kStatusLineId).maxLength(), 32767);  // no limit shortens a status
  }

  // Each read back stops at its first failing step: the members before it hold the controls'
  // values, the failing one holds a value read (or keeps its own when the text is not a
  // number), and every member after it keeps its value.
  void readsBackInTheExchangeOrder() {
    ScriptedDialog dialog(resources_);
    Control(dialog, kEndColorId).setText(u"300"_s);
    Control(dialog, kStartColorId).setText(u"7"_s);
    Control<QCheckBox>(dialog, kUseRemappingId).setChecked(false);
    Control(dialog, kTransparentColorId).setText(u"9"_s);
    Format(dialog, kFormatMzr).setChecked(true);
    dialog.statusText = u"old"_s;
    QVERIFY(!dialog.DoDataExchange(true));
    QCOMPARE(Members(dialog), u"300 240 'old' 1 0 1"_s);
    Control(dialog, kEndColorId).setText(u"12"_s);
    Control(dialog, kStartColorId).clear();
    QVERIFY(!dialog.DoDataExchange(true));
    QCOMPARE(Members(dialog), u"12 240 'old' 1 0 1"_s);
    Control(dialog, kStartColorId).setText(u"5"_s);
    Control(dialog, kTransparentColorId).setText(u"256"_s);
    QVERIFY(!dialog.DoDataExchange(true));
    QCOMPARE(Members(dialog), u"12 5 '' 0 256 1"_s);
    Control(dialog, kTransparentColorId).setText(u"3"_s);
    QVERIFY(dialog.DoDataExchange(true));
    QCOMPARE(Members(dialog), u"12 5 '' 0 3 0"_s);
    QCOMPARE(dialog.Messages(), (QStringList{kRangeMessage, kIntegerMessage, kRangeMessage}));
  }

  void quitValidatesEachColourField_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("members");
    QTest::newRow("end 300") << kEndColorId << "300" << kRangeMessage << "300 240 '' 1 0 1";
    QTest::newRow("end -1") << kEndColorId << "-1" << kRangeMessage << "-1 240 '' 1 0 1";
    QTest::newRow("end empty") << kEndColorId << "" << kIntegerMessage << "255 240 '' 1 0 1";
    QTest::newRow("end 2^31") << kEndColorId << "2147483648" << kIntegerMessage
                              << "255 240 '' 1 0 1";
    QTest::newRow("start emptied") << kStartColorId << "" << kIntegerMessage << "255 240 '' 1 0 1";
    QTest::newRow("transparent 256")
        << kTransparentColorId << "256" << kRangeMessage << "255 240 '' 0 256 1";
  }
  void quitValidatesEachColourField() {
    QFETCH(int, id);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(QString, members);
    ScriptedDialog dialog(resources_);
    ShowAndActivate(dialog);
    Control<QCheckBox>(dialog, kUseRemappingId).setChecked(false);
    Format(dialog, kFormatMzr).setChecked(true);  // after every colour: never read
    Control(dialog, id).setText(text);
    QTest::mouseClick(&Control<QPushButton>(dialog, kQuitId), Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.shown.size(), std::size_t{1});
    QCOMPARE(dialog.shown[0].text, message);
    QCOMPARE(dialog.shown[0].parent, &dialog);
    QCOMPARE(dialog.shown[0].icon, QMessageBox::Warning);
    QCOMPARE(Members(dialog), members);
    QCOMPARE(QApplication::focusWidget(), &Control(dialog, id));
    QCOMPARE(Control(dialog, id).selectedText(), text);
  }

  void enterActsAsQuitAndEscapeClosesAtOnce() {
    ScriptedDialog dialog(resources_);
    QLineEdit& end = Control(dialog, kEndColorId);
    ShowAndActivate(dialog);
    end.setFocus();
    end.setText(u"300"_s);
    QTest::keyClick(&end, Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.Messages(), QStringList{kRangeMessage});
    QCOMPARE(QApplication::focusWidget(), &end);
    QCOMPARE(end.selectedText(), u"300"_s);
    end.setText(u"200"_s);
    QTest::keyClick(&end, Qt::Key_Enter);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int{QDialog::Accepted});
    QCOMPARE(dialog.endColor, 200);

    for (const bool escape : {true, false}) {  // Escape, then the close box
      ScriptedDialog other(resources_);
      ShowAndActivate(other);
      Control(other, kEndColorId).setText(u"300"_s);
      if (escape) {
        QTest::keyClick(&Control(other, kEndColorId), Qt::Key_Escape);
      } else {
        QVERIFY(other.close());
      }
      QVERIFY(!other.isVisible());
      QCOMPARE(other.result(), int{QDialog::Rejected});
      QCOMPARE(other.endColor, 255);  // nothing was read back
      QVERIFY(other.shown.empty());
    }
  }

  void publishesEveryMember() {
    ScriptedDialog dialog(resources_);
    dialog.endColor = 300;
    dialog.startColor = -5;
    dialog.statusText = QString(200, u'x');  // past the 80 characters a status line once held
    dialog.useRemapping = false;
    dialog.transparentColor = 2147483647;
    dialog.format = kFormatRls;
    QVERIFY(dialog.DoDataExchange(false));
    QCOMPARE(Texts(dialog, {kEndColorId, kStartColorId, kStatusLineId, kTransparentColorId}),
             (QStringList{u"300"_s, u"-5"_s, dialog.statusText, u"2147483647"_s}));
    QVERIFY(!Control<QCheckBox>(dialog, kUseRemappingId).isChecked());
    QVERIFY(!Format(dialog, kFormatRle).isChecked() && Format(dialog, kFormatRls).isChecked());
    // No button selected, and the long status line, read back unchanged.
    dialog.format = -1;
    dialog.endColor = dialog.startColor = dialog.transparentColor = 10;
    QVERIFY(dialog.DoDataExchange(false));
    QVERIFY(!Format(dialog, kFormatMzr).isChecked() && !Format(dialog, kFormatRls).isChecked());
    QVERIFY(dialog.DoDataExchange(true));
    QCOMPARE(Members(dialog), u"10 10 '%1' 0 10 -1"_s.arg(dialog.statusText));
  }

  void windowMenuEndsWithTheAboutItem() {
    ScriptedDialog dialog(resources_);
    Control(dialog, kStartColorId).setText(u"33"_s);
    const QList<QAction*> actions = dialog.windowMenu().actions();
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions[0]->text(), u"&Close"_s);
    QVERIFY(actions[1]->isSeparator());
    QCOMPARE(actions[2]->text(), u"&About Zerlind..."_s);
    actions[2]->trigger();
    QCOMPARE(dialog.shown.size(), std::size_t{1});
    QCOMPARE(dialog.shown[0].type, u"about"_s);
    QCOMPARE(dialog.shown[0].title, u"About Zerlind"_s);
    QCOMPARE(dialog.shown[0].text, u"Zerlind Version 1.0"_s);
    QCOMPARE(dialog.shown[0].parent, &dialog);
    QCOMPARE(Control(dialog, kStartColorId).text(), u"33"_s);  // left as it was
    QCOMPARE(dialog.startColor, 240);

    ShowAndActivate(dialog);
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                            dialog.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&dialog, &click);
    QVERIFY(dialog.windowMenu().isVisible());
    dialog.windowMenu().close();

    AppResources resources = resources_;  // string 101 empty, then missing: no About item
    resources.strings[kAboutItemString] = QString();
    QCOMPARE(ScriptedDialog(resources).windowMenu().actions().size(), 1);
    resources.strings.erase(kAboutItemString);
    QCOMPARE(ScriptedDialog(resources).windowMenu().actions().size(), 1);
  }

  void systemCommandsSixteenToThirtyOneOpenTheAboutBox() {
    for (const uint id : {0u, 15u, 16u, 17u, 24u, 31u, 32u, 48u, 0xF010u, 0xF020u, kCloseCommand}) {
      ScriptedDialog dialog(resources_);
      ShowAndActivate(dialog);
      dialog.OnSysCommand(id);
      QCOMPARE(dialog.shown.size(), std::size_t{id >= 16 && id <= 31 ? 1u : 0u});
      QCOMPARE(dialog.isVisible(), id != kCloseCommand);
    }
  }

  // The real modal window, closed once it shows.
  void aboutBoxRunsModally() {
    ConverterDialog dialog(resources_);
    dialog.show();
    bool seen = false;
    test::WhenModalShown([&](QWidget& modal) {
      seen = qobject_cast<AboutDialog*>(&modal) != nullptr && modal.isModal();
      QCOMPARE(modal.parentWidget(), &dialog);
      const QList<QPushButton*> buttons = modal.findChildren<QPushButton*>();
      QVERIFY(buttons.size() == 1 && buttons[0]->text() == u"OK"_s && buttons[0]->isDefault());
    });
    dialog.OnSysCommand(kAboutCommand);
    QVERIFY(seen);
    QVERIFY(dialog.isVisible());
  }
};

}  // namespace kav

QTEST_MAIN(kav::ConverterDialogTest)
#include "converter_dialog_test.moc"
