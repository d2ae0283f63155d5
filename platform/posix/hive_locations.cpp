#include "platform/posix/hive_locations.h"

#include <strings.h>

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

using Folders = std::vector<std::unique_ptr<Directory>>;

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// The names (sorted) of the entries of `folder` that are folders the walk may enter (or are not,
// for `folders` false) and, when `name` is not empty, match it without regard to case.
std::vector<std::string> Names(Directory& folder, const std::string& name, bool folders) {
  std::vector<std::string> found;
  const Status listed = folder.List([&](const DirEntry& entry) {
    if (entry.is_directory == folders && (name.empty() || SameIgnoringCase(entry.name, name))) {
      found.push_back(entry.name);
    }
    return true;
  });
  // As with every folder here that cannot be opened: a hive not found is a value not repaired,
  // never a file touched.
  IgnoreResult(listed, "the search for hives is best-effort");
  std::sort(found.begin(), found.end());
  return found;
}

// The folders in `folder` that match `name` (every one when empty).
Folders Subfolders(Directory& folder, const std::string& name) {
  Folders found;
  for (const std::string& entry : Names(folder, name, true)) {
    std::unique_ptr<Directory> sub;
    if (folder.OpenDirectory(entry, &sub).ok()) found.push_back(std::move(sub));
  }
  return found;
}

// Every folder that matches `components` below `root`.
Folders Resolve(Directory& root, const std::vector<std::string>& components) {
  Folders folders;
  std::unique_ptr<Directory> again;
  if (!root.OpenDirectory("", &again).ok()) return folders;
  folders.push_back(std::move(again));
  for (const std::string& component : components) {
    Folders next;
    for (const auto& folder : folders) {
      for (auto& found : Subfolders(*folder, component)) next.push_back(std::move(found));
    }
    folders = std::move(next);
  }
  return folders;
}

bool Has9xSignature(File& file) {
  char magic[4] = {};
  size_t got = 0;
  return file.Read(magic, sizeof magic, &got).ok() && got == sizeof magic &&
         std::memcmp(magic, k9xSignature, sizeof magic) == 0 && file.Rewind().ok();
}

class HiveList {
 public:
  // Adds the files in `folder` named `name` (without regard to case), each once whatever name it
  // is reached through.
  void AddAll(RegistryRoot root, Directory& folder, const std::string& name, bool only_9x = false) {
    for (const std::string& found : Names(folder, name, false)) {
      std::unique_ptr<File> file;
      FileInfo info;
      // Not a regular file (a link, a pipe): not opened, not listed.
      if (!folder.OpenFile(found, OpenMode::kRead, &file).ok() || !file->GetInfo(&info).ok()) {
        continue;
      }
      if (only_9x && !Has9xSignature(*file)) continue;
      if (!seen_.insert({info.volume, info.file_id}).second) continue;
      std::unique_ptr<Directory> held;
      if (!folder.OpenDirectory("", &held).ok()) continue;
      hives_.push_back({root, folder.path() + found, std::move(held), found, std::move(file)});
    }
  }
  std::vector<HiveLocation> Take() { return std::move(hives_); }

 private:
  std::set<std::pair<uint64_t, uint64_t>> seen_;
  std::vector<HiveLocation> hives_;
};

}  // namespace

std::vector<HiveLocation> FindHives(Directory& root) {
  HiveList hives;
  const Folders windows_9x = Resolve(root, {k9xWindowsDirectory});
  for (const auto& components : kSoftwareFolders) {
    for (const auto& config : Resolve(root, components)) {
      hives.AddAll(RegistryRoot::kLocalMachine, *config, kSoftwareHive);
    }
  }
  for (const auto& windows : windows_9x) {
    hives.AddAll(RegistryRoot::kLocalMachine, *windows, k9xMachineHive, true);
  }
  for (const auto& components : kProfileDirectories) {
    for (const auto& profiles : Resolve(root, components)) {
      for (const auto& profile : Subfolders(*profiles, "")) {
        hives.AddAll(RegistryRoot::kCurrentUser, *profile, kUserHive);
      }
    }
  }
  for (const auto& windows : windows_9x) {
    hives.AddAll(RegistryRoot::kCurrentUser, *windows, k9xUserHive, true);
    for (const auto& profiles : Subfolders(*windows, k9xProfiles)) {
      for (const auto& profile : Subfolders(*profiles, "")) {
        hives.AddAll(RegistryRoot::kCurrentUser, *profile, k9xUserHive, true);
      }
    }
  }
  return hives.Take();
}

}  // namespace quelix
