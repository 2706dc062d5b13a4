#include "viewer/viewed_file.h"

#include <array>

#include <QCoreApplication>

#include "platform/memory_budget.h"

namespace kav {

ViewedFile OpenViewedFile(const std::string& path) {
  ViewedFile file{CheckFile(path), QString(), 0};
  const CheckedFile& checked = file.checked;
  if (checked.failure) {
    file.problem = QString::fromStdString(*checked.failure);
  } else if (checked.damage) {
    file.problem = QCoreApplication::translate("ViewedFile", "damaged %1 file at offset %2: %3")
                       .arg(QString::fromLatin1(kav_kind_name(checked.kind)))
                       .arg(checked.damage->offset)
                       .arg(QString::fromStdString(checked.damage->reason));
    // A header that failed leaves the image unopened, and no row to show.
    if (checked.image.kind != KAV_KIND_NONE) {
      kav_error error{};
      kav_check(&checked.image, &error);
      file.shownRows = RowsBeforeFault(checked.image, error);
    }
  } else {
    file.shownRows = checked.image.height;
  }
  return file;
}

std::uint32_t RowsBeforeFault(const kav_image& image, const kav_error& error) {
  switch (error.reason) {
    case KAV_ERR_ENTRY_OUTSIDE:
    case KAV_ERR_ENTRY_MISPLACED:
    case KAV_ERR_MARKER_ENTRY:
      // The entry of segment s of row r lies at 4118 + 4 * (s * height + r).
      return static_cast<std::uint32_t>((error.offset - KAV_RL_OFFSET_TABLES) / 4 % image.height);
    case KAV_ERR_RUN_COUNT:
    case KAV_ERR_RUN_CROSSES_SEGMENT:
    case KAV_ERR_RUN_PAST_ROW_END:
      return error.number[1];
    case KAV_ERR_ROWS_CUT:
      return error.number[0];
    case KAV_ERR_CODES_AFTER_ROWS:
      return image.height;
    default:
      return 0;
  }
}

QImage DrawPicture(const ViewedFile& file, unsigned table) {
  const kav_image& image = file.checked.image;
  const std::uint64_t bytes = std::uint64_t{image.width} * image.height * 4;
  if (!file.HasPicture() || bytes > PictureMemory().Limit()) {
    return {};
  }
  QImage picture(image.width, image.height, QImage::Format_RGBA8888_Premultiplied);
  if (picture.isNull()) {
    return {};
  }
  picture.fill(Qt::transparent);
  // A frame buffer that ends above the damage: the decoder draws no row at or below it.
  kav_draw_rgba8888(&image, table, reinterpret_cast<std::uint32_t*>(picture.bits()),
                    static_cast<std::size_t>(picture.bytesPerLine() / 4), image.width,
                    static_cast<int>(file.shownRows), 0, 0, 0);
  return picture;
}

std::optional<std::uint8_t> IndexAt(const ViewedFile& file, int x, int y) {
  const kav_image& image = file.checked.image;
  if (x < 0 || y < 0 || x >= image.width || static_cast<std::uint32_t>(y) >= file.shownRows) {
    return std::nullopt;
  }
  const auto column = static_cast<std::uint32_t>(x);
  std::array<std::uint8_t, KAV_SEGMENT_WIDTH> segment{};
  if (kav_segment_indices(&image, static_cast<std::uint32_t>(y), column / KAV_SEGMENT_WIDTH,
                          segment.data()) == 0) {
    return std::nullopt;
  }
  return segment[column % KAV_SEGMENT_WIDTH];
}

}  // namespace kav
