// The sizes of a run-length file's sections, known before its rows are coded.

#include <limits>

#include "formats/run_length.h"
#include "kav/kav_formats.h"

namespace kav {

// The decoder for engines states the layout on its own; both must say the same.
static_assert(kRowTablesOffset == KAV_RL_OFFSET_TABLES);
static_assert(kEffectTableCount == KAV_RL_TABLE_COUNT && kSegmentWidth == KAV_SEGMENT_WIDTH &&
              kMaxRunLength == KAV_MAX_RUN);
// The header's fields follow each other with no gap.
static_assert(kEffectTablesOffset + kEffectTablesBytes == kRowTableSizeOffset);

RunLengthLayout LayoutOf(const Picture& picture) {
  RunLengthLayout layout;
  layout.width = picture.width();
  layout.rowCount = picture.height();
  layout.segmentCount = SegmentCountFor(picture.width());
  layout.rowTableSize = std::uint64_t{picture.height()} * kOffsetEntrySize;
  layout.allRowTablesSize = layout.segmentCount * layout.rowTableSize;
  return layout;
}

bool MayOverflowDataSize(const RunLengthLayout& layout) {
  const std::uint64_t longest =
      layout.allRowTablesSize + layout.rowCount * MaxCodedRowBytes(layout.width);
  return longest > std::numeric_limits<std::uint32_t>::max();
}

}  // namespace kav
