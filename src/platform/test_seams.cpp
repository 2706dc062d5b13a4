#include "platform/test_seams.h"

namespace kav::seams {

__attribute__((weak)) bool FailBlockRequest() {
  return false;
}

__attribute__((weak)) void BlockTaken() {}

__attribute__((weak)) void BlockReturned() {}

__attribute__((weak)) bool UnnamedOutputFilesAllowed() {
  return true;
}

__attribute__((weak)) bool RefuseFolderWatch() {
  return false;
}

__attribute__((weak)) bool LoseWatchEvents() {
  return false;
}

__attribute__((weak)) bool KeepPaletteTables() {
  return true;
}

}  // namespace kav::seams
