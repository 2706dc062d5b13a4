// The dialog templates, the string table, dialog units, whole numbers and the chooser's
// starting point: parsing and every rejected input, and the program's own resources checked
// against the dialogs they describe.

#include <QImage>
#include <QTest>

#include "app/app_resources.h"
#include "app/converter_app.h"
#include "app/dialog_template.h"
#include "app/dialog_units.h"
#include "app/qt_file_chooser.h"
#include "app/whole_number.h"
#include "dialog_test_support.h"

namespace kav {
namespace {

struct ExpectedControl {
  ControlKind kind;
  int id;  // -1: none
  const char* label;
  DialogRect rect;
};

void CompareControls(const DialogTemplate& dialog, const std::vector<ExpectedControl>& expected) {
  QCOMPARE(dialog.controls.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const ControlTemplate& control = dialog.controls[i];
    QCOMPARE(static_cast<int>(control.kind), static_cast<int>(expected[i].kind));
    QCOMPARE(control.id.value_or(-1), expected[i].id);
    QCOMPARE(control.label, QString::fromUtf8(expected[i].label));
    QVERIFY(control.rect == expected[i].rect);
  }
}

}  // namespace

class DialogTemplateTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void parsesRecordsAndSkipsComments() {
    const QString text = QStringLiteral(
        "# a comment\n"
        "\n"
        "dialog | 7 | 1 | 2 | 30 | 40 | 9 | caption sysmenu | A | title\n"
        "  button | 1 | 3 | 4 | 5 | 6 | default tabstop | O&K | more\n"
        "static | - | 0 | 0 | 1 | 1 |  |\n");
    QString error;
    const std::optional<DialogTemplate> dialog = ParseDialogTemplate(text, error);
    QVERIFY2(dialog.has_value(), qPrintable(error));
    QCOMPARE(dialog->id, 7);
    QVERIFY((dialog->rect == DialogRect{1, 2, 30, 40}));
    QCOMPARE(dialog->fontPoints, 9);
    QVERIFY(dialog->styles.caption && dialog->styles.systemMenu);
    QVERIFY(!dialog->styles.minimizeBox && !dialog->styles.maximizeBox);
    QCOMPARE(dialog->title, QStringLiteral("A | title"));  // the rest of the line
    QCOMPARE(dialog->controls.size(), std::size_t{2});
    const ControlTemplate& button = dialog->controls[0];
    QCOMPARE(button.id, std::optional<int>(1));
    QVERIFY(button.styles.defaultButton && button.styles.tabStop && !button.styles.group);
    QCOMPARE(button.label, QStringLiteral("O&K | more"));
    QVERIFY((button.rect == DialogRect{3, 4, 5, 6}));
    QCOMPARE(dialog->controls[1].id, std::nullopt);
    QCOMPARE(dialog->controls[1].label, QString());
  }

  void rejectsBrokenTemplates_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");
    const QString head = QStringLiteral("dialog | 1 | 0 | 0 | 10 | 10 | 8 | caption | T\n");
    QTest::newRow("empty") << QStringLiteral("# nothing\n") << QStringLiteral("empty");
    QTest::newRow("control first") << QStringLiteral("button | 1 | 0 | 0 | 1 | 1 | | Q\n")
                                   << QStringLiteral("line 1: the first record must describe");
    QTest::newRow("no font size") << QStringLiteral("dialog | 1 | 0 | 0 | 10 | 10 | 0 | | T\n")
                                  << QStringLiteral("line 1: the dialog needs");
    QTest::newRow("window style") << QStringLiteral("dialog | 1 | 0 | 0 | 1 | 1 | 8 | thick | T\n")
                                  << QStringLiteral("line 1: unknown window style \"thick\"");
    QTest::newRow("kind") << head + QStringLiteral("slider | 5 | 0 | 0 | 1 | 1 | | S\n")
                          << QStringLiteral("line 2: unknown control kind \"slider\"");
    QTest::newRow("style") << head + QStringLiteral("edit | 5 | 0 | 0 | 1 | 1 | tabstop bold |\n")
                           << QStringLiteral("line 2: unknown control style \"bold\"");
    QTest::newRow("id") << head + QStringLiteral("edit | x5 | 0 | 0 | 1 | 1 | |\n")
                        << QStringLiteral("line 2: \"x5\" is not a control id");
    QTest::newRow("size") << head + QStringLiteral("\nedit | 5 | 0 | 0 | -1 | 1 | |\n")
                          << QStringLiteral("line 3: \"-1\" is not a position or size");
    QTest::newRow("fields") << head + QStringLiteral("edit | 5 | 0 | 0\n")
                            << QStringLiteral("line 2: a control needs 8 fields");
  }
  void rejectsBrokenTemplates() {
    QFETCH(QString, text);
    QFETCH(QString, error);
    QString message;
    QVERIFY(!ParseDialogTemplate(text, message).has_value());
    QVERIFY2(message.contains(error), qPrintable(message));
  }

  void stringTable() {
    QString error;
    const std::optional<StringTable> strings =
        ParseStringTable(QStringLiteral("# c\n101 | &About | more\n7 |\n"), error);
    QVERIFY2(strings.has_value(), qPrintable(error));
    QCOMPARE(LoadString(*strings, 101), QStringLiteral("&About | more"));
    QCOMPARE(LoadString(*strings, 7), QString());
    QCOMPARE(LoadString(*strings, 8), QString());
    QVERIFY(!ParseStringTable(QStringLiteral("1 | a\n1 | b\n"), error).has_value());
    QVERIFY2(error.contains(QStringLiteral("line 2: string 1 is defined twice")),
             qPrintable(error));
    QVERIFY(!ParseStringTable(QStringLiteral("one | a\n"), error).has_value());
    QVERIFY(!ParseStringTable(QStringLiteral("1\n"), error).has_value());
  }

  void dialogUnits() {
    // A font 6 pixels wide and 13 high on average: 4 x 8 units make one character.
    const DialogBaseUnits units{.width = 6, .height = 13};
    QCOMPARE(ToPixels({97, 162, 50, 14}, units), QRect(146, 263, 75, 23));  // halves go up
    QCOMPARE(ToPixels({0, 0, 242, 183}, units).size(), QSize(363, 297));
    QCOMPARE(ScaleDialogUnits(1, 6, 4), 2);  // 1.5
    QCOMPARE(ScaleDialogUnits(1, 5, 4), 1);  // 1.25
    QCOMPARE(ScaleDialogUnits(3, 5, 8), 2);  // 1.875
    QCOMPARE(ScaleDialogUnits(0, 13, 8), 0);
    // The width comes from the letters, so a larger font gives larger units.
    QFont small;
    small.setPointSize(8);
    QFont large = small;
    large.setPointSize(16);
    QVERIFY(BaseUnitsOf(small).width > 0 && BaseUnitsOf(small).height > 0);
    QVERIFY(BaseUnitsOf(large).width > BaseUnitsOf(small).width);
    QVERIFY(BaseUnitsOf(large).height > BaseUnitsOf(small).height);
  }

  void wholeNumbers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::newRow("zero") << "0" << true << 0;
    QTest::newRow("255") << "255" << true << 255;
    QTest::newRow("leading zeros") << "007" << true << 7;
    QTest::newRow("negative") << "-5" << true << -5;
    QTest::newRow("plus") << "+12" << true << 12;
    QTest::newRow("spaces") << "  42 " << true << 42;
    QTest::newRow("largest") << "2147483647" << true << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << true << std::numeric_limits<int>::min();
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blank") << "   " << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("letters") << "12a" << false << 0;
    QTest::newRow("inner space") << "1 2" << false << 0;
    QTest::newRow("fraction") << "1.5" << false << 0;
    QTest::newRow("one too large") << "2147483648" << false << 0;
    QTest::newRow("one too small") << "-2147483649" << false << 0;
    QTest::newRow("huge") << "99999999999999999999999" << false << 0;
    QTest::newRow("arabic digits") << QString::fromUtf8("\u0661\u0662") << false << 0;
  }
  void wholeNumbers() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    const std::optional<std::int32_t> parsed = ParseWholeNumber(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid) {
      QCOMPARE(*parsed, value);
    }
  }

  void chooserStartsFromThePreviousResult() {
    QCOMPARE(NextStartFrom({}), QString());
    QCOMPARE(NextStartFrom({QStringLiteral("/art/hero.bmp")}), QStringLiteral("/art/hero.bmp"));
    QCOMPARE(NextStartFrom({QStringLiteral("/art/a.bmp"), QStringLiteral("/art/b.bmp")}),
             QStringLiteral("/art"));
  }

  void mainDialogTemplate() {
    const AppResources resources = test::LoadResourcesForTest();
    const DialogTemplate& dialog = resources.mainDialog;
    QCOMPARE(dialog.id, 102);
    QCOMPARE(dialog.title, QStringLiteral("KAV Graphic Converter"));
    QVERIFY((dialog.rect == DialogRect{0, 0, 242, 183}));
    QCOMPARE(dialog.fontPoints, 8);
    QVERIFY(dialog.styles.caption && dialog.styles.systemMenu && dialog.styles.modalFrame);
    QVERIFY(dialog.styles.appWindow);
    QVERIFY(!dialog.styles.minimizeBox && !dialog.styles.maximizeBox);
    using enum ControlKind;
    CompareControls(dialog, {
                                {kPushButton, 1, "Quit", {97, 162, 50, 14}},
                                {kStatic, -1, "Start Color", {41, 96, 34, 8}},
                                {kStatic, -1, "End Color", {87, 96, 32, 8}},
                                {kPushButton, 1000, "Convert File", {17, 31, 113, 27}},
                                {kEdit, 1001, "", {41, 107, 34, 14}},
                                {kEdit, 1002, "", {87, 107, 34, 14}},
                                {kGroupFrame, -1, "Remapping Range", {27, 82, 105, 60}},
                                {kStatic, -1, "Transparent Color", {155, 94, 57, 8}},
                                {kEdit, 1003, "", {155, 105, 56, 14}},
                                {kEdit, 1004, "", {7, 7, 227, 16}},
                                {kCheckBox, 1005, "Use Remapping", {49, 126, 73, 9}},
                                {kGroupFrame, -1, "MZR Format", {7, 70, 227, 81}},
                                {kRadioButton, 1006, "MZR Format", {149, 31, 70, 13}},
                                {kRadioButton, 1007, "RLE Format", {149, 44, 70, 13}},
                                {kRadioButton, 1008, "RLS Format", {149, 57, 70, 13}},
                            });
    const auto& c = dialog.controls;
    QVERIFY(c[0].styles.defaultButton && c[0].styles.tabStop);
    for (const std::size_t edit : {4u, 5u, 8u}) {
      QVERIFY(c[edit].styles.digitsOnly && c[edit].styles.border && c[edit].styles.tabStop);
      QVERIFY(c[edit].styles.scrollsSideways && !c[edit].styles.readOnly);
    }
    QVERIFY(c[9].styles.readOnly && !c[9].styles.digitsOnly && c[9].styles.scrollsSideways);
    QVERIFY(c[12].styles.group && !c[13].styles.group && !c[14].styles.group);
    for (const std::size_t radio : {12u, 13u, 14u}) {
      QVERIFY(!c[radio].styles.tabStop);
    }
  }

  void aboutBoxStringsAndIcon() {
    const AppResources resources = test::LoadResourcesForTest();
    const DialogTemplate& about = resources.aboutBox;
    QCOMPARE(about.id, 100);
    QCOMPARE(about.title, QStringLiteral("About Zerlind"));
    QVERIFY((about.rect == DialogRect{0, 0, 217, 55}));
    using enum ControlKind;
    CompareControls(about, {
                               {kIcon, -1, "128", {11, 17, 20, 20}},
                               {kStatic, -1, "Zerlind Version 1.0", {40, 10, 119, 8}},
                               {kPushButton, 1, "OK", {178, 7, 32, 14}},
                           });
    QVERIFY(about.controls[1].styles.ampersandShown);
    QVERIFY(about.controls[2].styles.defaultButton);
    QCOMPARE(LoadString(resources.strings, 101), QStringLiteral("&About Zerlind..."));
    QCOMPARE(resources.strings.size(), std::size_t{1});
    for (const int size : {16, 32}) {
      const QImage image(QStringLiteral(":/icons/kav-graphic-converter-%1.png").arg(size));
      QCOMPARE(image.size(), QSize(size, size));
      QCOMPARE(image.format(), QImage::Format_Indexed8);
      QVERIFY(image.colorCount() <= 16);
      QVERIFY(!resources.icon.pixmap(size, size).isNull());
    }
    ConverterApp::DescribeApplication();
    QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.0.0.1"));
    QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("kav-graphic-converter"));
  }
};

}  // namespace kav

QTEST_MAIN(kav::DialogTemplateTest)
#include "dialog_template_test.moc"
