#include "engine/room.h"

#include <algorithm>

namespace quelix {

uint64_t BytesOnDisk(const FileInfo& info) {
  return std::min(info.allocated, info.size);
}

void RoomCheck::Need(uint64_t volume, uint64_t free, uint64_t total, uint64_t bytes) {
  for (Volume& known : volumes_) {
    if (known.id != volume) continue;
    known.need += bytes;
    known.free = std::min(known.free, free);
    return;
  }
  volumes_.push_back({volume, free, total, bytes});
}

bool RoomCheck::Fits() const {
  return std::all_of(volumes_.begin(), volumes_.end(), [](const Volume& v) { return v.Fits(); });
}

Status RoomToClean(Directory& dir, const FileInfo& original, OriginalKeeper* keeper) {
  const uint64_t bytes = BytesOnDisk(original);
  RoomCheck room;
  uint64_t free = 0;
  uint64_t total = 0;
  if (dir.FreeSpace(&free, &total).ok()) room.Need(original.volume, free, total, bytes);
  uint64_t volume = 0;
  if (keeper && keeper->Room(&volume, &free, &total).ok()) room.Need(volume, free, total, bytes);
  if (room.Fits()) return Status::Ok();
  return {ErrorCode::kOther, "not enough room on the disk"};
}

}  // namespace quelix
