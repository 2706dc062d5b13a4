// The sizes of a run-length file's sections, known before its rows are coded.

#include <limits>

#include "formats/run_length.h"

namespace kav {

std::string_view SignatureOf(RunLengthVariant variant) {
  return variant == RunLengthVariant::kRls ? "RS" : "RL";
}

RunLengthLayout LayoutOf(const BitmapView& bitmap) {
  RunLengthLayout layout;
  layout.width = bitmap.width;
  layout.rowCount = bitmap.rowCount;
  layout.segmentCount = SegmentCountFor(bitmap.width);
  layout.rowTableSize = std::uint64_t{bitmap.rowCount} * kOffsetEntrySize;
  layout.allRowTablesSize = layout.segmentCount * layout.rowTableSize;
  return layout;
}

bool MayOverflowDataSize(const RunLengthLayout& layout) {
  const std::uint64_t longest =
      layout.allRowTablesSize + layout.rowCount * MaxCodedRowBytes(layout.width);
  return longest > std::numeric_limits<std::uint32_t>::max();
}

}  // namespace kav
