#pragma once
// A converted file as the viewer shows it: mapped and checked by the engines' decoder
// (include/kav/kav_formats.h), and drawn through one colour table by kav_draw_rgba8888, as an
// engine draws it. A damaged file is drawn down to the row where the damage lies.

#include <cstdint>
#include <optional>
#include <string>

#include <QImage>
#include <QString>

#include "cli/checked_file.h"

namespace kav {

struct ViewedFile {
  CheckedFile checked;      // `checked.image` holds the header once it is sound
  QString problem;          // empty, or the one line saying why it is not wholly shown
  std::uint32_t shownRows;  // the rows above the damage: all of them when the file is sound

  bool HasPicture() const { return shownRows > 0; }
};

// Maps and checks the file at `path` (in the file system's encoding). The problem line is
// what `kavconv info` says of the file, without the program's and the file's names.
ViewedFile OpenViewedFile(const std::string& path);

// How many rows of an image whose header passed come before `error`, the fault that
// kav_check found: the row of the offset entry or code it names (every row when the fault
// lies after the last row).
std::uint32_t RowsBeforeFault(const kav_image& image, const kav_error& error);

// The shown rows through colour table `table` (below them every pixel is transparent), as
// kav_draw_rgba8888 draws them: RGBA bytes, alpha 0 or 255, so also valid premultiplied. A
// null image when there is no picture or no memory for it.
QImage DrawPicture(const ViewedFile& file, unsigned table);

// The palette index of pixel (x, y), when it is a shown pixel.
std::optional<std::uint8_t> IndexAt(const ViewedFile& file, int x, int y);

}  // namespace kav
