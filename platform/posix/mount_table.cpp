#include "platform/posix/mount_table.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string_view>
#include <utility>

namespace quelix {
namespace {

// Types that always sit on real storage, whatever device number the kernel gives them: btrfs and
// zfs report anonymous device numbers, an overlay is the disk of a container, and network shares
// hold real files too.
constexpr std::array kStorageTypes = {
    "ext2",  "ext3",    "ext4",  "xfs",     "btrfs", "zfs",  "vfat",     "msdos",
    "exfat", "ntfs",    "ntfs3", "fuseblk", "f2fs",  "jfs",  "reiserfs", "hfsplus",
    "udf",   "overlay", "nfs",   "nfs4",    "cifs",  "smb3", "9p",       "virtiofs",
};

// Pseudo, in-memory and read-only image file systems: nothing a user keeps web pages on.
constexpr std::array kPseudoTypes = {
    "proc",      "sysfs",      "devtmpfs",  "devpts",      "tmpfs",    "ramfs",    "cgroup",
    "cgroup2",   "securityfs", "debugfs",   "tracefs",     "configfs", "fusectl",  "mqueue",
    "hugetlbfs", "pstore",     "bpf",       "binfmt_misc", "autofs",   "efivarfs", "rpc_pipefs",
    "nsfs",      "squashfs",   "selinuxfs", "iso9660",
};

template <size_t N>
bool OneOf(const std::array<const char*, N>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool IsStorage(const std::string& type, const std::string& device_numbers,
               const std::string& source) {
  if (OneOf(kStorageTypes, type)) return true;
  // ntfs-3g mounting a disk image (rather than a device) shows as plain "fuse" with the image's
  // path as its source: a Windows disk as real as any.
  if (type == "fuse" && source.starts_with("/")) return true;
  if (OneOf(kPseudoTypes, type) || type.starts_with("fuse.")) return false;
  // Anything else counts when a real device stands behind it (major number other than 0).
  return !device_numbers.starts_with("0:");
}

// The mount table writes blank, tab, newline and backslash as three octal digits.
std::string Unescape(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    const std::string_view digits = std::string_view(field).substr(i + 1, 3);
    if (field[i] == '\\' && digits.size() == 3 &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
      out += static_cast<char>(std::stoi(std::string(digits), nullptr, 8));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::map<std::string, std::string> LabelsByDevice() {
  std::map<std::string, std::string> labels;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/disk/by-label", error)) {
    const auto device = std::filesystem::canonical(entry.path(), error);
    if (!error) labels[device.string()] = entry.path().filename().string();
  }
  return labels;
}

// Labels in /dev/disk/by-label write a blank as "\x20".
std::string UnescapeLabel(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name.compare(i, 2, "\\x") == 0 && i + 3 < name.size() &&
        std::isxdigit(static_cast<unsigned char>(name[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(name[i + 3]))) {
      out += static_cast<char>(std::stoi(name.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += name[i];
    }
  }
  return out;
}

}  // namespace

std::string MountCaption(const Volume& volume) {
  // "/dev/sdb1" says no more than "sdb1" in a chooser this narrow.
  std::string detail = volume.label;
  if (detail.empty()) {
    detail = volume.device.starts_with("/dev/") ? volume.device.substr(5) : volume.device;
  }
  return detail.empty() ? volume.root : volume.root + " (" + detail + ")";
}

std::vector<Volume> ParseMountInfo(std::string_view mountinfo) {
  std::vector<Volume> volumes;
  std::set<std::pair<std::string, std::string>> seen;  // device numbers, root within the device
  std::istringstream lines{std::string(mountinfo)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string id, parent, numbers, root, mount_path, options, field;
    if (!(fields >> id >> parent >> numbers >> root >> mount_path >> options)) continue;
    while (fields >> field && field != "-") {
    }
    Volume volume;
    if (field != "-" || !(fields >> volume.type >> volume.device)) continue;
    if (!IsStorage(volume.type, numbers, volume.device)) continue;
    if (!seen.emplace(numbers, root).second) continue;
    volume.root = Unescape(mount_path);
    volume.device = Unescape(volume.device);
    volume.caption = MountCaption(volume);
    volumes.push_back(std::move(volume));
  }
  return volumes;
}

std::vector<Volume> ListVolumes() {
  std::ifstream in("/proc/self/mountinfo");
  std::stringstream text;
  text << in.rdbuf();
  std::vector<Volume> volumes;
  const auto labels = LabelsByDevice();
  for (Volume& volume : ParseMountInfo(text.str())) {
    std::error_code error;
    // A file bind-mounted over another (a container's /etc/hosts) is no volume to search.
    if (!std::filesystem::is_directory(volume.root, error)) continue;
    const auto device = std::filesystem::canonical(volume.device, error);
    if (!error) {
      const auto found = labels.find(device.string());
      if (found != labels.end()) volume.label = UnescapeLabel(found->second);
    }
    volume.caption = MountCaption(volume);
    volumes.push_back(std::move(volume));
  }
  return volumes;
}

size_t VolumeHolding(const std::vector<Volume>& volumes, const std::string& path) {
  size_t best = 0;
  size_t best_length = 0;
  for (size_t i = 0; i < volumes.size(); ++i) {
    const std::string& mount = volumes[i].root;
    const bool holds =
        mount == "/" || path == mount ||
        (path.starts_with(mount) && path.size() > mount.size() && path[mount.size()] == '/');
    if (holds && mount.size() >= best_length) {
      best = i;
      best_length = mount.size();
    }
  }
  return best;
}

}  // namespace quelix
