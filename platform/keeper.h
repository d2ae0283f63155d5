// Where the program keeps what it replaces: the original of a file before its cleaned copy takes
// its place, and a registry value before it is deleted, so that both can be put back.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"
#include "platform/status.h"

namespace quelix {

// A registry value's type (REG_SZ, REG_DWORD, ... as the registry numbers them) and its data as
// the registry holds it.
struct RegistryValueData {
  uint32_t type = 0;
  std::string data;
};

class OriginalKeeper {
 public:
  virtual ~OriginalKeeper() = default;

  // Keeps a copy of `original`, the file at `path` about to be replaced by `replacement` (both
  // open; read from their starts). Returns once the copy and its record are complete and on the
  // storage device; on failure `path` must not be replaced.
  virtual Status Keep(File& original, const std::string& path, File& replacement) = 0;

  // The original of `path` kept by the last Keep was not replaced after all: it is no longer
  // recorded as something to put back, and its copy is deleted. Called only after Keep succeeded.
  virtual Status Withdraw(const std::string& /*path*/) { return Status::Ok(); }

  // Records the value `name` of `key` in registry store `store`, about to be deleted. On failure
  // it must not be deleted.
  virtual Status KeepValue(const std::string& store, const std::string& key,
                           const std::string& name, const RegistryValueData& value) = 0;

  // Where the next original would go: its volume (as FileInfo::volume tells it) and the bytes
  // free on it and in all. Fails where that cannot be learnt (nothing is counted there then).
  virtual Status Room(uint64_t* /*volume*/, uint64_t* /*free*/, uint64_t* /*total*/) {
    return {ErrorCode::kOther, "where the originals go is not known"};
  }
};

}  // namespace quelix
