#include "app/app_resources.h"

#include <QFile>

// Q_INIT_RESOURCE must be used outside any namespace. The resources live in a static
// library, whose initialiser the linker would otherwise drop.
static void InitKavResources() {
  Q_INIT_RESOURCE(kav);
}

namespace kav {
namespace {

const QString kMainDialogPath = QStringLiteral(":/templates/main-dialog.txt");
const QString kAboutBoxPath = QStringLiteral(":/templates/about-box.txt");
const QString kStringsPath = QStringLiteral(":/strings.txt");
const QString kIconPath = QStringLiteral(":/icons/kav-graphic-converter-%1.png");
constexpr int kIconSizes[] = {16, 32};

std::optional<QString> ReadResource(const QString& path, QString& error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    error = QStringLiteral("%1: %2").arg(path, file.errorString());
    return std::nullopt;
  }
  return QString::fromUtf8(file.readAll());
}

std::optional<DialogTemplate> LoadTemplate(const QString& path, int id, QString& error) {
  const std::optional<QString> text = ReadResource(path, error);
  if (!text) {
    return std::nullopt;
  }
  std::optional<DialogTemplate> dialog = ParseDialogTemplate(*text, error);
  if (!dialog) {
    error = QStringLiteral("%1: %2").arg(path, error);
    return std::nullopt;
  }
  if (dialog->id != id) {
    error = QStringLiteral("%1: holds template %2, not %3").arg(path).arg(dialog->id).arg(id);
    return std::nullopt;
  }
  return dialog;
}

std::optional<QIcon> LoadIcon(QString& error) {
  QIcon icon;
  for (const int size : kIconSizes) {
    const QString path = kIconPath.arg(size);
    const QPixmap image(path);
    if (image.isNull() || image.width() != size || image.height() != size) {
      error = QStringLiteral("%1: not a %2 x %2 image").arg(path).arg(size);
      return std::nullopt;
    }
    icon.addPixmap(image);
  }
  return icon;
}

}  // namespace

std::optional<AppResources> LoadAppResources(QString& error) {
  InitKavResources();
  std::optional<DialogTemplate> mainDialog =
      LoadTemplate(kMainDialogPath, kMainDialogTemplate, error);
  if (!mainDialog) {
    return std::nullopt;
  }
  std::optional<DialogTemplate> aboutBox = LoadTemplate(kAboutBoxPath, kAboutBoxTemplate, error);
  if (!aboutBox) {
    return std::nullopt;
  }
  const std::optional<QString> stringsText = ReadResource(kStringsPath, error);
  if (!stringsText) {
    return std::nullopt;
  }
  std::optional<StringTable> strings = ParseStringTable(*stringsText, error);
  if (!strings) {
    error = QStringLiteral("%1: %2").arg(kStringsPath, error);
    return std::nullopt;
  }
  std::optional<QIcon> icon = LoadIcon(error);
  if (!icon) {
    return std::nullopt;
  }
  return AppResources{.mainDialog = std::move(*mainDialog),
                      .aboutBox = std::move(*aboutBox),
                      .strings = std::move(*strings),
                      .icon = std::move(*icon)};
}

}  // namespace kav
