// Where the Windows program is and what it offers: the drives, the program's folder, its readme
// beside it and its event log beside it or, where that folder is not writable, in the user's
// local application data.
#include <windows.h>

#include <cctype>
#include <cstdlib>

#include "platform/file_system.h"
#include "platform/places.h"

namespace quelix {
namespace {

std::string VolumeLabel(const std::string& root) {
  char label[MAX_PATH + 1] = {};
  if (!GetVolumeInformationA(root.c_str(), label, sizeof label, nullptr, nullptr, nullptr, nullptr,
                             0)) {
    return {};
  }
  return label;
}

std::string InFolder(const std::string& dir, const char* name) {
  return JoinPath(dir, name, '\\');
}

class Win32Places final : public Places {
 public:
  // In the style of a drive list, in letter order: "c: [system]", "a:". Removable, optical and
  // network drives are not asked for a label, so that a drive without media or a server out of
  // reach neither delays the start nor prompts.
  std::vector<Volume> Volumes() override {
    std::vector<Volume> drives;
    const DWORD mask = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
      if (!(mask & (1u << i))) continue;
      Volume drive;
      drive.root = {static_cast<char>('a' + i), ':'};
      drive.caption = drive.root;
      const std::string root{static_cast<char>('A' + i), ':', '\\'};
      const UINT type = GetDriveTypeA(root.c_str());
      if (type == DRIVE_FIXED || type == DRIVE_RAMDISK) drive.label = VolumeLabel(root);
      if (!drive.label.empty()) drive.caption += " [" + drive.label + "]";
      drives.push_back(std::move(drive));
    }
    return drives;
  }

  size_t StartVolume(const std::vector<Volume>& volumes) override {
    char dir[MAX_PATH + 1] = {};
    const DWORD length = GetCurrentDirectoryA(sizeof dir, dir);
    if (length < 2 || length > MAX_PATH || dir[1] != ':') return 0;
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(dir[0])));
    for (size_t i = 0; i < volumes.size(); ++i) {
      if (volumes[i].root[0] == letter) return i;
    }
    return 0;
  }

  std::string ProgramDirectory() override {
    // With long paths enabled the module path may exceed MAX_PATH; grow until it fits.
    std::string path(MAX_PATH, '\0');
    for (;;) {
      const DWORD length =
          GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (length == 0) return ".";
      if (length < path.size()) {
        path.resize(length);
        break;
      }
      path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of('\\');
    if (slash == std::string::npos) return ".";
    // A program in a drive's root keeps the backslash: "c:" alone means the current directory.
    return path.substr(0, slash == 2 ? 3 : slash);
  }

  std::string ReadmePath() override { return InFolder(ProgramDirectory(), "readme.txt"); }

  std::string BackupFolder() override {
    const char* local = std::getenv("LOCALAPPDATA");
    if (local == nullptr || *local == '\0') return {};
    return InFolder(InFolder(local, "Quelix Remover"), "backups");
  }

  std::vector<LogPlace> LogPlaces() override {
    std::vector<LogPlace> places = {{InFolder(ProgramDirectory(), "log.txt"), false}};
    const char* local = std::getenv("LOCALAPPDATA");
    if (local && *local) {
      places.push_back({InFolder(InFolder(local, "Quelix Remover"), "log.txt"), true});
    }
    return places;
  }
};

}  // namespace

std::unique_ptr<Places> CreateNativePlaces() {
  return std::make_unique<Win32Places>();
}

}  // namespace quelix
