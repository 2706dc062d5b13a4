// The viewer through its window: every kind of file drawn as `kavconv render` draws it, through
// the table chosen by name; whole-number zoom by menu and Ctrl + wheel, each pixel a square
// over a checkerboard, kept between runs with the window's size; a damaged file's line and
// its rows down to the damage; a reload each time the file is replaced; the pixel and the
// palette entry under the mouse; and the command line without a display.

#include <QtTest>
#include <QtWidgets>

#include "platform/memory_budget.h"
#include "viewer/asset_view.h"
#include "viewer/viewer_window.h"

namespace kav {
namespace {

using namespace Qt::StringLiterals;

QString Sample(const QString& name) {
  return QStringLiteral(KAV_SAMPLES_DIR "/%1.bmp").arg(name);
}

bool Kavconv(const QStringList& arguments) {
  QProcess kavconv;
  kavconv.start(QStringLiteral(KAVCONV_PATH), arguments);
  return kavconv.waitForFinished(20000) && kavconv.exitStatus() == QProcess::NormalExit &&
         kavconv.exitCode() == 0;
}

bool Convert(const QString& sample, const QString& file, const QString& format = u"rle"_s) {
  return Kavconv({u"convert"_s, u"-q"_s, u"-f"_s, format, Sample(sample), u"-o"_s, file});
}

// Transparent pixels are 0 whatever colour they had.
QImage Premultiplied(const QImage& picture) {
  return picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// `file` through table `table` as `kavconv render` draws it, into a folder of its own (the
// viewer watches the file's).
QImage Rendered(const QString& file, unsigned table) {
  static const QTemporaryDir scratch;
  const QString png = scratch.filePath(u"rendered.png"_s);
  Kavconv({u"render"_s, file, u"--table"_s, QString::number(table), u"-o"_s, png});
  return Premultiplied(QImage(png));
}

template <typename T = QWidget>
T& Child(const QObject& parent, const char* name) {
  T* child = parent.findChild<T*>(QString::fromLatin1(name));
  if (child == nullptr) {
    qFatal("no %s", name);
  }
  return *child;
}

// The file at `path` in a window of its own.
struct Shown {
  explicit Shown(const QString& path) {
    window.show();
    window.OpenFiles({QFile::encodeName(path).toStdString()});
  }
  AssetView& view() { return *window.CurrentView(); }
  ViewerWindow window;
};

enum class Corruption { kMisplacedEntry, kRunCount, kCut };

}  // namespace

class ViewerTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(settingsHome_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsHome_.path());
    ViewerWindow::DescribeApplication();
  }

  void drawsEachKindThroughTheChosenTable_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("level");  // MZR only
    QTest::addColumn<unsigned>("number");
    QTest::addColumn<QString>("facts");
    QTest::newRow("RLE, plain") << u"rle"_s << u"sprite"_s << u"Plain"_s << QString() << 0U
                                << u"RLE, 48 x 40 pixels, 5110 bytes"_s;
    QTest::newRow("RLE, grey") << u"rle"_s << u"sprite"_s << u"Grey"_s << QString() << 6U
                               << u"RLE, 48 x 40 pixels, 5110 bytes"_s;
    QTest::newRow("RLS, dark red") << u"rls"_s << u"wide"_s << u"Dark red"_s << QString() << 4U
                                   << u"RLS, 300 x 64 pixels, 18157 bytes"_s;
    QTest::newRow("MZR, blue 2") << u"mzr"_s << u"odd"_s << u"Blue"_s << u"2"_s << 26U
                                 << u"MZR, 37 x 23 pixels, 17255 bytes"_s;
    QTest::newRow("MZR, red lightest") << u"mzr"_s << u"sprite"_s << u"Red"_s << u"7 (lightest)"_s
                                       << 15U << u"MZR, 48 x 40 pixels, 18324 bytes"_s;
  }

  // Opened by a drop (anything but local files ignored, a file already open shown again).
  void drawsEachKindThroughTheChosenTable() {
    QFETCH(QString, format);
    QFETCH(QString, sample);
    QFETCH(QString, table);
    QFETCH(QString, level);
    QFETCH(unsigned, number);
    QFETCH(QString, facts);
    QTemporaryDir dir;
    const QString file = dir.filePath(u"picture.out"_s);
    QVERIFY(Convert(sample, file, format));
    ViewerWindow window;
    window.show();
    QMimeData dropped;
    dropped.setUrls(
        {QUrl::fromLocalFile(file), QUrl(u"https://x.org/a.RLE"_s), QUrl::fromLocalFile(file)});
    QDragEnterEvent enter({5, 5}, Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QApplication::sendEvent(&window, &drop);
    QCOMPARE(window.tabs()->count(), 1);
    AssetView& view = *window.CurrentView();
    auto& tables = Child<QComboBox>(view, "tableBox");
    auto& levels = Child<QComboBox>(view, "levelBox");
    QCOMPARE(levels.isVisibleTo(&view), !level.isEmpty());
    tables.setCurrentIndex(tables.findText(table));
    if (!level.isEmpty()) {
      levels.setCurrentIndex(levels.findText(level));
    }
    QCOMPARE(view.Table(), number);
    QCOMPARE(Premultiplied(view.picture()), Rendered(file, number));
    QCOMPARE(Child<QLabel>(view, "factsLabel").text().section(u'\n', 0, 0), facts);
    QVERIFY(Child<QLabel>(view, "problemLabel").isHidden());
  }

  // 1x to 16x by the menu and Ctrl + wheel (a wheel alone scrolls), and the largest zoom that
  // fits; every pixel a square of its colour, or of the checkerboard where it is transparent.
  void zoomsByWholeStepsKeptBetweenRuns() {
    QTemporaryDir dir;
    const QString file = dir.filePath(u"sprite.RLE"_s);
    QVERIFY(Convert(u"sprite"_s, file));
    int fitted = 0;
    {
      Shown shown(file);
      AssetView& view = shown.view();
      QCOMPARE(view.zoom(), 1);
      auto& zoomIn = Child<QAction>(shown.window, "zoomInAction");
      zoomIn.trigger();
      zoomIn.trigger();
      auto& canvas = Child(view, "canvas");
      QCOMPARE(canvas.size(), QSize(144, 120));
      const QImage screen = canvas.grab().toImage();
      const QImage picture = view.picture();
      int wrong = 0;
      for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 144; ++x) {
          const QRgb pixel = picture.pixel(x / 3, y / 3);
          const QRgb seen = screen.pixel(x, y);
          wrong += qAlpha(pixel) == 255 ? seen != pixel : seen != 0xFFCCCCCC && seen != 0xFF999999;
        }
      }
      QCOMPARE(wrong, 0);
      for (const Qt::KeyboardModifier modifier : {Qt::ControlModifier, Qt::NoModifier}) {
        QWheelEvent wheel(QPointF(5, 5), canvas.mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, 120), Qt::NoButton, modifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&canvas, &wheel);
        QCOMPARE(view.zoom(), 4);
      }
      for (int i = 0; i < 20; ++i) {
        zoomIn.trigger();
      }
      QCOMPARE(view.zoom(), 16);
      for (int i = 0; i < 20; ++i) {
        Child<QAction>(shown.window, "zoomOutAction").trigger();
      }
      QCOMPARE(view.zoom(), 1);
      shown.window.resize(800, 600);
      QApplication::processEvents();
      Child<QAction>(shown.window, "fitAction").trigger();
      fitted = view.zoom();
      const QSize room = Child<QScrollArea>(view, "pictureArea").maximumViewportSize();
      QVERIFY(48 * fitted <= room.width() && 40 * fitted <= room.height());
      QVERIFY(48 * (fitted + 1) > room.width() || 40 * (fitted + 1) > room.height());
      shown.window.close();
    }
    Shown again(file);
    QCOMPARE(again.view().zoom(), fitted);
    QCOMPARE(again.window.size(), QSize(800, 600));
  }

  void damagedFileShownDownToTheDamage_data() {
    QTest::addColumn<Corruption>("corruption");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("rows");
    QTest::newRow("an entry misplaced")
        << Corruption::kMisplacedEntry
        << u"damaged RLE file at offset 4278: offset entry for segment 0 of row 40 is 10170, but "
           u"the code of row 39 ends at 10169 (file offset 14287)"_s
        << 40;
    QTest::newRow("a run of 0") << Corruption::kRunCount
                                << u"damaged RLE file at offset 16828: run count 0 of index 255 "
                                   u"at column 100 of row 50 is not 1 to 128"_s
                                << 50;
    QTest::newRow("the file cut") << Corruption::kCut
                                  << u"damaged RLE file at offset 10000: the file ends after "
                                     u"10000 bytes, but dataSize 15511 gives a length of 19629 "
                                     u"(4118 + dataSize)"_s
                                  << 0;
  }

  void damagedFileShownDownToTheDamage() {
    QFETCH(Corruption, corruption);
    QFETCH(QString, line);
    QFETCH(int, rows);
    QTemporaryDir dir;
    const QString sound = dir.filePath(u"sound.RLE"_s);
    QVERIFY(Convert(u"wide"_s, sound));
    QFile file(sound);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    // The offset entry of segment 0 of a row.
    const auto entry = [&bytes](int row) { return 4118 + 4 * row; };
    const auto code = [&](int row) { return 4118 + qFromLittleEndian<qint32>(&bytes[entry(row)]); };
    switch (corruption) {
      case Corruption::kMisplacedEntry:
        qToLittleEndian<qint32>(code(40) - 4118 + 1, &bytes[entry(40)]);
        break;
      case Corruption::kRunCount:  // 255 is always a run's index in an RLE file
        bytes[bytes.indexOf('\xFF', code(50)) + 1] = 0;
        break;
      case Corruption::kCut:
        bytes.truncate(10000);
        break;
    }
    QFile damaged(dir.filePath(u"damaged.RLE"_s));
    QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write(bytes) == bytes.size());
    damaged.close();
    Shown shown(damaged.fileName());
    QCOMPARE(Child<QLabel>(shown.view(), "problemLabel").text(), line);
    QCOMPARE(shown.view().file().shownRows, static_cast<std::uint32_t>(rows));
    const QImage picture = Premultiplied(shown.view().picture());
    if (rows == 0) {
      QVERIFY(picture.isNull());
      return;
    }
    QCOMPARE(picture.copy(0, 0, 300, rows), Rendered(sound, 0).copy(0, 0, 300, rows));
    QImage undrawn(300, 64 - rows, QImage::Format_ARGB32_Premultiplied);
    undrawn.fill(0);
    QCOMPARE(picture.copy(0, rows, 300, 64 - rows), undrawn);
  }

  // A picture larger than all the memory pictures may take is refused, not allocated.
  void pictureBeyondTheMemoryBudgetIsRefused() {
    QTemporaryDir dir;
    const QString file = dir.filePath(u"wide.RLE"_s);
    QVERIFY(Convert(u"wide"_s, file));
    const std::uint64_t limit = PictureMemory().Limit();
    PictureMemory().SetLimit(300 * 64 * 4 - 1);
    Shown shown(file);
    PictureMemory().SetLimit(limit);
    QCOMPARE(Child<QLabel>(shown.view(), "problemLabel").text(), u"Out of memory"_s);
    QVERIFY(shown.view().picture().isNull());
  }

  // kavconv replaces the file by rename while another reader holds the old one open (so the
  // watch must be moved to the new file), then a program writes it in place, then it is
  // removed and made again (seen in its folder only); the table chosen stays. A change to
  // another file of the folder reads nothing again.
  void reloadsWhenTheFileIsReplaced() {
    QTemporaryDir dir;
    const QString file = dir.filePath(u"live.RLE"_s);
    const QString later = dir.filePath(u"later.RLE"_s);
    QVERIFY(Convert(u"sprite"_s, file) && Convert(u"sprite"_s, later));
    Shown shown(file);
    AssetView& view = shown.view();
    auto& tables = Child<QComboBox>(view, "tableBox");
    tables.setCurrentIndex(tables.findText(u"Grey"_s));
    QFile held(file);
    QVERIFY(held.open(QIODevice::ReadOnly));
    QVERIFY(Convert(u"odd"_s, file));
    QImage expected = Rendered(file, 6);
    QTRY_COMPARE(Premultiplied(view.picture()), expected);
    QFile inPlace(file);
    QFile source(later);
    QVERIFY(source.open(QIODevice::ReadOnly) && inPlace.open(QIODevice::WriteOnly));
    QVERIFY(inPlace.write(source.readAll()) > 0);
    inPlace.close();
    expected = Rendered(later, 6);
    QTRY_COMPARE(Premultiplied(view.picture()), expected);
    QVERIFY(QFile::remove(file));
    QTRY_COMPARE(Child<QLabel>(view, "problemLabel").text(),
                 u"Cannot open this file: No such file or directory"_s);
    QVERIFY(view.picture().isNull());
    QVERIFY(Convert(u"wide"_s, file));
    expected = Rendered(file, 6);
    QTRY_COMPARE(Premultiplied(view.picture()), expected);
    QSignalSpy reloaded(&view, &AssetView::reloaded);
    QVERIFY(Convert(u"odd"_s, dir.filePath(u"other.RLE"_s)));
    QTest::qWait(300);
    QCOMPARE(reloaded.size(), 0);
  }

  void namesThePixelAndColourUnderTheMouse() {
    QTemporaryDir dir;
    const QString file = dir.filePath(u"sprite.RLE"_s);
    QVERIFY(Convert(u"sprite"_s, file));
    Shown shown(file);
    AssetView& view = shown.view();
    view.SetZoom(2);
    auto& canvas = Child(view, "canvas");
    auto& grid = Child(view, "paletteGrid");
    const QLabel& pixel = Child<QLabel>(view, "pixelLabel");
    const QLabel& entry = Child<QLabel>(view, "entryLabel");
    QTest::mouseMove(&canvas, QPoint(41, 35));
    QTRY_COMPARE(pixel.text(), u"x 20, y 17: index 18"_s);
    QTest::mouseMove(&canvas, QPoint(1, 1));
    QTRY_COMPARE(pixel.text(), u"x 0, y 0: index 255, transparent"_s);
    QTest::mouseMove(&grid, QPoint(18, 18));  // row 1, column 1
    QTRY_COMPARE(entry.text(), u"Index 17: 0x4101"_s);
    QTest::mouseMove(&grid, QPoint(186, 186));
    QTRY_COMPARE(entry.text(), u"Index 255: 0xF81F, transparent"_s);
  }

  // Files that look like Qt's options are files, and no display is said so.
  void withoutDisplaySaysSo() {
    QProcess viewer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& variable : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s}) {
      environment.remove(variable);
    }
    viewer.setProcessEnvironment(environment);
    viewer.start(QStringLiteral(KAV_VIEW_PATH), {u"--"_s, u"-platform"_s, u"offscreen"_s});
    QVERIFY(viewer.waitForFinished(20000));
    QCOMPARE(viewer.exitCode(), 1);
    QCOMPARE(viewer.readAllStandardError(), QByteArray("cannot open a window: no display\n"));
  }

 private:
  QTemporaryDir settingsHome_;  // QSettings' user folder, for the window's size and the zoom
};

}  // namespace kav

QTEST_MAIN(kav::ViewerTest)
#include "viewer_test.moc"
