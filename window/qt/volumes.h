// The volumes the drive chooser offers on Linux: mounted file systems with real storage behind
// them, read from the kernel's mount table.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quelix {

struct Volume {
  std::string mount_path;  // the search root
  std::string device;      // "/dev/sda1", or the source the mount table names
  std::string label;       // the file system label where one is known, else empty
  std::string type;        // "ext4", "vfat", "fuseblk", ...

  // What the chooser shows: the mount path with the label, or else the device.
  std::string Caption() const;
};

// The volumes with real storage in the text of /proc/self/mountinfo, in mount order: pseudo and
// in-memory file systems are left out, and a device mounted twice at the same place in its tree is
// listed once. Mount paths are unescaped ("\040" is a blank).
std::vector<Volume> ParseMountInfo(std::string_view mountinfo);

// The volumes mounted now whose mount path is a directory, with labels from /dev/disk/by-label.
// Empty when the mount table cannot be read.
std::vector<Volume> ListVolumes();

// The index of the volume that holds `path` (the deepest mount path above it), or 0 when none
// does or the list is empty.
size_t VolumeHolding(const std::vector<Volume>& volumes, const std::string& path);

}  // namespace quelix
