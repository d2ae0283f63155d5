#include "platform/posix/hive_locations.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>

namespace quelix {
namespace {

// Where the hives live, relative to the drive's root. A mounted NTFS volume looks names up with
// their case, while Windows does not, so each component is found by reading its directory.
const std::vector<std::vector<std::string>> kSoftwareFolders = {
    {"Windows", "System32", "config"},
    {"WINNT", "System32", "config"},
};
constexpr char kSoftwareHive[] = "SOFTWARE";
const std::vector<std::vector<std::string>> kProfileDirectories = {
    {"Users"},
    {"Documents and Settings"},
    {"WINNT", "Profiles"},
};
constexpr char kUserHive[] = "NTUSER.DAT";

// Windows 9x keeps the machine and default-user registry in the Windows directory and one
// USER.DAT per profile; its files begin with this signature.
constexpr char k9xWindowsDirectory[] = "Windows";
constexpr char k9xMachineHive[] = "SYSTEM.DAT";
constexpr char k9xUserHive[] = "USER.DAT";
constexpr char k9xProfiles[] = "Profiles";
constexpr char k9xSignature[] = "CREG";

enum class Kind { kDirectory, kFile };

// A folder on the way down, open since it was found.
struct Folder {
  OwnedFd fd;
  std::string path;  // for people
};

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::string Join(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

// The names in `folder` (sorted) of entries that are of `kind`, without following links, and,
// when `name` is not empty, match it without regard to case.
std::vector<std::string> Names(const Folder& folder, const std::string& name, Kind kind) {
  std::vector<std::string> found;
  const int listing = ::openat(folder.fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* stream = listing < 0 ? nullptr : ::fdopendir(listing);
  if (stream == nullptr) {
    if (listing >= 0) ::close(listing);
    return found;
  }
  while (const dirent* entry = ::readdir(stream)) {
    const std::string entry_name = entry->d_name;
    if (entry_name == "." || entry_name == "..") continue;
    if (!name.empty() && !SameIgnoringCase(entry_name, name)) continue;
    struct stat st;
    if (::fstatat(folder.fd.get(), entry_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (kind == Kind::kDirectory ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)) {
      found.push_back(entry_name);
    }
  }
  ::closedir(stream);
  std::sort(found.begin(), found.end());
  return found;
}

// The folders in `folder` that match `name` (every one when empty), each opened without following
// a link and only where it is on `device`.
std::vector<Folder> Subfolders(const Folder& folder, const std::string& name, dev_t device) {
  std::vector<Folder> found;
  for (const std::string& entry : Names(folder, name, Kind::kDirectory)) {
    OwnedFd fd(
        ::openat(folder.fd.get(), entry.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || st.st_dev != device) continue;
    found.push_back({std::move(fd), Join(folder.path, entry)});
  }
  return found;
}

// Every folder that matches `components` below `root`.
std::vector<Folder> Resolve(const Folder& root, const std::vector<std::string>& components,
                            dev_t device) {
  std::vector<Folder> folders;
  folders.push_back({OwnedFd(::fcntl(root.fd.get(), F_DUPFD_CLOEXEC, 0)), root.path});
  for (const std::string& component : components) {
    std::vector<Folder> next;
    for (const Folder& folder : folders) {
      for (Folder& found : Subfolders(folder, component, device)) next.push_back(std::move(found));
    }
    folders = std::move(next);
  }
  return folders;
}

bool Has9xSignature(const Folder& folder, const std::string& name) {
  // Not blocking: the name may have become a FIFO since it was listed.
  OwnedFd fd(
      ::openat(folder.fd.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  char magic[4] = {};
  return ::pread(fd.get(), magic, sizeof magic, 0) == static_cast<ssize_t>(sizeof magic) &&
         std::memcmp(magic, k9xSignature, sizeof magic) == 0;
}

class HiveList {
 public:
  // Adds the file `name` in `folder` unless the same file is listed already (reached through
  // another name).
  void Add(RegistryRoot root, const Folder& folder, const std::string& name) {
    struct stat st;
    if (::fstatat(folder.fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (!S_ISREG(st.st_mode) || !seen_.insert({st.st_dev, st.st_ino}).second) return;
    OwnedFd held(::fcntl(folder.fd.get(), F_DUPFD_CLOEXEC, 0));
    if (!held.valid()) return;
    hives_.push_back({root, Join(folder.path, name), std::move(held), name});
  }
  // Adds the files in `folder` named `name` (without regard to case).
  void AddAll(RegistryRoot root, const Folder& folder, const std::string& name,
              bool only_9x = false) {
    for (const std::string& found : Names(folder, name, Kind::kFile)) {
      if (!only_9x || Has9xSignature(folder, found)) Add(root, folder, found);
    }
  }
  std::vector<HiveLocation> Take() { return std::move(hives_); }

 private:
  std::set<std::pair<dev_t, ino_t>> seen_;
  std::vector<HiveLocation> hives_;
};

}  // namespace

std::string HiveLocation::Beside(const std::string& other) const {
  return path.substr(0, path.size() - name.size()) + other;
}

std::vector<HiveLocation> FindHives(const std::string& search_root) {
  HiveList hives;
  // The root is the one the user chose, so it alone may be reached through a link.
  Folder root{OwnedFd(::open(search_root.empty() ? "." : search_root.c_str(),
                             O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
              search_root.empty() ? "." : search_root};
  struct stat st;
  if (!root.fd.valid() || ::fstat(root.fd.get(), &st) != 0) return {};
  const dev_t device = st.st_dev;
  const std::vector<Folder> windows_9x = Resolve(root, {k9xWindowsDirectory}, device);
  for (const auto& components : kSoftwareFolders) {
    for (const Folder& config : Resolve(root, components, device)) {
      hives.AddAll(RegistryRoot::kLocalMachine, config, kSoftwareHive);
    }
  }
  for (const Folder& windows : windows_9x) {
    hives.AddAll(RegistryRoot::kLocalMachine, windows, k9xMachineHive, true);
  }
  for (const auto& components : kProfileDirectories) {
    for (const Folder& profiles : Resolve(root, components, device)) {
      for (const Folder& profile : Subfolders(profiles, "", device)) {
        hives.AddAll(RegistryRoot::kCurrentUser, profile, kUserHive);
      }
    }
  }
  for (const Folder& windows : windows_9x) {
    hives.AddAll(RegistryRoot::kCurrentUser, windows, k9xUserHive, true);
    for (const Folder& profiles : Subfolders(windows, k9xProfiles, device)) {
      for (const Folder& profile : Subfolders(profiles, "", device)) {
        hives.AddAll(RegistryRoot::kCurrentUser, profile, k9xUserHive, true);
      }
    }
  }
  return hives.Take();
}

}  // namespace quelix
