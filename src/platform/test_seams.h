#pragma once
// Points where tests make the platform fail or watch it. The programs link no test code:
// each seam has a default in test_seams.cpp that changes nothing, declared weak, and the
// tests link definitions of their own in its place (tests/support/seams.cpp).

#include <cstddef>

namespace kav::seams {

// Asked before every memory block is allocated or a file is mapped: true makes that request
// fail as a real shortage would.
bool FailBlockRequest();
// Told whenever a block is taken or given back.
void BlockTaken();
void BlockReturned();
// Whether outputs may begin as unnamed files where the system allows it; false makes every
// output a hidden temporary file from the start, as where the system cannot name one later.
bool UnnamedOutputFilesAllowed();
// Asked by kavconv's --watch: before it watches a folder, true makes that fail as when the
// user's limit of watches is reached (ENOSPC); before it takes a batch of events, true
// drops them, as the kernel does when its queue overflows, and reports the overflow.
bool RefuseFolderWatch();
bool LoseWatchEvents();
// Asked by the writers whenever they need a palette's colour tables: false builds them anew
// instead of taking those kept from an earlier file of the same palette.
bool KeepPaletteTables();

}  // namespace kav::seams
