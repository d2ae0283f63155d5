#include "platform/posix/hive_locations.h"

#include <dirent.h>
#include <fcntl.h>
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
const std::vector<std::vector<std::string>> kSoftwareHives = {
    {"Windows", "System32", "config", "SOFTWARE"},
    {"WINNT", "System32", "config", "SOFTWARE"},
};
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

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::string Join(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool IsKind(const std::string& path, Kind kind) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return false;
  return kind == Kind::kDirectory ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
}

// The entries of `dir` (sorted by name) that are of `kind` and, when `name` is not empty, match
// it without regard to case.
std::vector<std::string> Entries(const std::string& dir, const std::string& name, Kind kind) {
  std::vector<std::string> found;
  DIR* stream = ::opendir(dir.c_str());
  if (stream == nullptr) return found;
  while (const dirent* entry = ::readdir(stream)) {
    const std::string entry_name = entry->d_name;
    if (entry_name == "." || entry_name == "..") continue;
    if (!name.empty() && !SameIgnoringCase(entry_name, name)) continue;
    const std::string path = Join(dir, entry_name);
    if (IsKind(path, kind)) found.push_back(path);
  }
  ::closedir(stream);
  std::sort(found.begin(), found.end());
  return found;
}

// Every path that matches `components` under `dir`; the last component is of `last_kind`.
std::vector<std::string> Resolve(const std::string& dir, const std::vector<std::string>& components,
                                 Kind last_kind) {
  std::vector<std::string> paths = {dir};
  for (size_t i = 0; i < components.size(); ++i) {
    const Kind kind = i + 1 == components.size() ? last_kind : Kind::kDirectory;
    std::vector<std::string> next;
    for (const std::string& path : paths) {
      for (std::string& found : Entries(path, components[i], kind))
        next.push_back(std::move(found));
    }
    paths = std::move(next);
  }
  return paths;
}

// The user hives named `hive` in the profile directories under `profiles`.
std::vector<std::string> ProfileHives(const std::string& profiles, const std::string& hive) {
  std::vector<std::string> paths;
  for (const std::string& profile : Entries(profiles, "", Kind::kDirectory)) {
    for (std::string& path : Entries(profile, hive, Kind::kFile)) paths.push_back(std::move(path));
  }
  return paths;
}

bool Has9xSignature(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char magic[4] = {};
  const bool matches = ::read(fd, magic, sizeof magic) == static_cast<ssize_t>(sizeof magic) &&
                       std::memcmp(magic, k9xSignature, sizeof magic) == 0;
  ::close(fd);
  return matches;
}

class HiveList {
 public:
  // Adds `path` unless the same file is listed already (reached through another name).
  void Add(RegistryRoot root, const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return;
    if (!seen_.insert({st.st_dev, st.st_ino}).second) return;
    hives_.push_back({root, path});
  }
  std::vector<HiveLocation> Take() { return std::move(hives_); }

 private:
  std::set<std::pair<dev_t, ino_t>> seen_;
  std::vector<HiveLocation> hives_;
};

}  // namespace

std::vector<HiveLocation> FindHives(const std::string& search_root) {
  HiveList hives;
  const std::string root = search_root.empty() ? "." : search_root;
  const std::vector<std::string> windows_9x =
      Resolve(root, {k9xWindowsDirectory}, Kind::kDirectory);
  for (const auto& components : kSoftwareHives) {
    for (const std::string& path : Resolve(root, components, Kind::kFile)) {
      hives.Add(RegistryRoot::kLocalMachine, path);
    }
  }
  for (const std::string& dir : windows_9x) {
    for (const std::string& path : Entries(dir, k9xMachineHive, Kind::kFile)) {
      if (Has9xSignature(path)) hives.Add(RegistryRoot::kLocalMachine, path);
    }
  }
  for (const auto& components : kProfileDirectories) {
    for (const std::string& profiles : Resolve(root, components, Kind::kDirectory)) {
      for (const std::string& path : ProfileHives(profiles, kUserHive)) {
        hives.Add(RegistryRoot::kCurrentUser, path);
      }
    }
  }
  for (const std::string& dir : windows_9x) {
    std::vector<std::string> paths = Entries(dir, k9xUserHive, Kind::kFile);
    for (const std::string& profiles : Entries(dir, k9xProfiles, Kind::kDirectory)) {
      for (std::string& path : ProfileHives(profiles, k9xUserHive))
        paths.push_back(std::move(path));
    }
    for (const std::string& path : paths) {
      if (Has9xSignature(path)) hives.Add(RegistryRoot::kCurrentUser, path);
    }
  }
  return hives.Take();
}

}  // namespace quelix
