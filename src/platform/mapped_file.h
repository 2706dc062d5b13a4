#pragma once
// A whole file as read-only memory, read from the file page by page only where it is touched:
// mapping a file of any length costs nothing until its bytes are looked at, so a decoder can
// judge a header against the file's length without reading the rest. A file that shrinks
// while it is mapped reads as zeros from there on and marks the block Damaged().

#include <string>

#include "platform/memory_block.h"

namespace kav {

struct MappedFile {
  enum class Failure { kNone, kCannotOpen, kCannotRead, kOutOfMemory };
  Failure failure = Failure::kNone;
  int error = 0;      // errno of the failed call, 0 when no call failed
  MemoryBlock block;  // the file's bytes; empty for an empty file
};

// Maps the regular file at `path`. A folder or anything else that is not a regular file cannot
// be opened (a folder with EISDIR); opening never blocks.
MappedFile MapWholeFile(const std::string& path);

}  // namespace kav
