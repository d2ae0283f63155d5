// Whether what the program is about to write fits on the volumes it writes to: the cleaned copy on
// the tree's volume, the kept original on the backup store's. Every volume written to keeps a
// share of its space free (5 %), so that cleaning never fills the disk other programs need.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/file_system.h"
#include "platform/keeper.h"
#include "platform/status.h"

namespace quelix {

// The share of a volume, as a divisor of its size, that must stay free: 1/20, 5 %.
constexpr uint64_t kFreeShareDivisor = 20;

// The bytes a copy of the file `info` describes takes on disk: its allocated size where the
// platform tells it (a sparse file's holes take nothing, a compressed file takes less), but never
// more than its size (room set aside beyond the end, as a file's owner may ask for, is not copied).
uint64_t BytesOnDisk(const FileInfo& info);

// The room one step needs, volume by volume.
class RoomCheck {
 public:
  // Adds `bytes` to be written on volume `volume`, which has `free` bytes free of `total`. A
  // volume added again sums what is needed there (and takes the smaller free space told).
  void Need(uint64_t volume, uint64_t free, uint64_t total, uint64_t bytes);
  // True where every volume, after what it needs, still has its free share free.
  bool Fits() const;

 private:
  struct Volume {
    uint64_t id;
    uint64_t free;
    uint64_t total;
    uint64_t need;
    bool Fits() const { return need <= free && free - need >= total / kFreeShareDivisor; }
  };
  std::vector<Volume> volumes_;
};

// Whether the file `original` (as opened) may be cleaned now: its copy goes beside it in `dir`, and
// `keeper` (where set) keeps the original. Fails with "not enough room on the disk" where either
// would leave less than the free share on its volume, counting the two together where they share
// one. A volume whose free space cannot be learnt is not counted: the writes tell.
Status RoomToClean(Directory& dir, const FileInfo& original, OriginalKeeper* keeper);

}  // namespace quelix
