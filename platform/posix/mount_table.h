// The volumes the drive chooser offers on Linux: mounted file systems with real storage behind
// them, read from the kernel's mount table.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/places.h"

namespace quelix {

// What the chooser shows for a mounted volume: the mount path with the label, or else the device.
std::string MountCaption(const Volume& volume);

// The volumes with real storage in the text of /proc/self/mountinfo, in mount order: pseudo and
// in-memory file systems are left out, and a device mounted twice at the same place in its tree is
// listed once. Mount paths are unescaped ("\040" is a blank).
std::vector<Volume> ParseMountInfo(std::string_view mountinfo);

// The volumes mounted now whose mount path is a directory, with labels from /dev/disk/by-label.
// Empty when the mount table cannot be read. Captions are set.
std::vector<Volume> ListVolumes();

// The index of the volume that holds `path` (the deepest mount path above it), or 0 when none
// does or the list is empty.
size_t VolumeHolding(const std::vector<Volume>& volumes, const std::string& path);

}  // namespace quelix
