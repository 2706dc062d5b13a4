#pragma once
// The hidden temporary files of outputs (".NAME.kav-PID-N.tmp" beside the target): their
// names, the registry that the interrupt handler sweeps, and the removal of those left by
// processes that were killed. Only OutputFile uses these.

#include <cstddef>
#include <string>

namespace kav {

// A name for a new temporary file of `target`, unique in this process.
std::string TemporaryNameFor(const std::string& target);

// Removes the temporaries of `target` in `folder` (opened by `folderPath`, or empty) that
// processes which no longer run left behind.
void RemoveLeftoverTemporaries(int folder, const std::string& target,
                               const std::string& folderPath);

// Slots of the interrupt handler's registry: a temporary file is registered before it
// exists and unregistered once it is gone or renamed. kTemporarySlots means none was free.
inline constexpr std::size_t kTemporarySlots = 1024;
std::size_t RegisterTemporary(int folder, const char* name);
void UnregisterTemporary(std::size_t slot);

// Held around every change of the registry, so the interrupt handler never sweeps a change
// half made; Allowed() is false once the handler runs, and nothing may be changed then.
class RegistryChange {
 public:
  RegistryChange();
  ~RegistryChange();
  RegistryChange(const RegistryChange&) = delete;
  RegistryChange& operator=(const RegistryChange&) = delete;
  static bool Allowed();
};

}  // namespace kav
