#include "platform/posix/posix_places.h"

#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/file_system.h"
#include "platform/posix/mount_table.h"

namespace quelix {
namespace {

namespace fs = std::filesystem;

constexpr char kProgramName[] = "quelix-remover";

std::string Join(const std::string& dir, const std::string& name) {
  return JoinPath(dir, name, '/');
}

// The program directory without a closing separator, so that "/usr/bin/" finds /usr/share just
// as "/usr/bin" does.
fs::path Normal(const std::string& program_dir) {
  std::string normal = fs::path(program_dir).lexically_normal().string();
  if (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

fs::path DocDirectory(const std::string& program_dir) {
  return Normal(program_dir).parent_path() / "share" / "doc" / kProgramName;
}

std::string StateLogPath(const std::string& state_home) {
  return Join(Join(state_home, kProgramName), "log.txt");
}

// `path`, where the nearest folder of it that exists belongs to the user the program runs as;
// else null.
const char* Mine(const char* path) {
  if (path == nullptr || path[0] != '/') return nullptr;
  fs::path folder = path;
  struct stat st;
  while (::stat(folder.c_str(), &st) != 0) {
    if (folder == folder.parent_path()) return nullptr;
    folder = folder.parent_path();
  }
  return st.st_uid == ::geteuid() ? path : nullptr;
}

std::string ListedHome() {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found) {
    return found->pw_dir;
  }
  return {};
}

// The state folder of the user the program runs as. Root takes it from the user database alone:
// run with another user's environment (sudo -E), HOME and XDG_STATE_HOME name folders that user
// chose, where they could read the log or plant a backup run for root to restore over any file.
// Anyone else passes over values that lead to a folder of another user's. Whether every folder on
// the way is the user's alone is checked where the folder is used.
std::string OwnStateHome() {
  if (::geteuid() == 0) {
    const std::string listed = ListedHome();
    return StateHome(nullptr, listed.c_str());
  }
  const char* home = Mine(std::getenv("HOME"));
  std::string listed;
  if (home == nullptr) {
    listed = ListedHome();
    home = listed.c_str();
  }
  return StateHome(Mine(std::getenv("XDG_STATE_HOME")), home);
}

}  // namespace

std::string StateHome(const char* xdg_state_home, const char* home) {
  // By the XDG base directory rules a relative value is to be ignored.
  if (xdg_state_home && xdg_state_home[0] == '/') return xdg_state_home;
  if (home && home[0] == '/') return Join(home, ".local/state");
  return {};
}

bool IsInstalled(const std::string& program_dir) {
  // Both packages bring the hive helper (the window's depends on the command line's), and
  // minimal systems keep it where they leave out the doc folder: it marks the prefix. A program
  // copied out of its folder is no installed one, and keeps its log beside itself like any copy.
  std::error_code error;
  const fs::path dir = Normal(program_dir);
  return dir.filename() == "bin" &&
         fs::is_regular_file(dir.parent_path() / QUELIX_HIVE_HELPER_RELATIVE, error) &&
         !fs::exists(dir / "readme.txt", error);
}

std::string ReadmePath(const std::string& program_dir) {
  if (IsInstalled(program_dir)) return (DocDirectory(program_dir) / "readme.txt").string();
  return Join(program_dir, "readme.txt");
}

std::vector<LogPlace> LogPlaces(const std::string& program_dir, const std::string& state_home) {
  std::vector<LogPlace> places;
  if (!IsInstalled(program_dir)) places.push_back({Join(program_dir, "log.txt"), false});
  if (!state_home.empty()) places.push_back({StateLogPath(state_home), true});
  return places;
}

namespace {

class PosixPlaces final : public Places {
 public:
  std::vector<Volume> Volumes() override {
    std::vector<Volume> volumes = ListVolumes();
    // Without a readable mount table the whole tree is the one volume there is to offer.
    if (volumes.empty()) volumes.push_back({"/", "/", "", "", ""});
    return volumes;
  }

  size_t StartVolume(const std::vector<Volume>& volumes) override {
    const char* home = std::getenv("HOME");
    return VolumeHolding(volumes, home ? home : "/");
  }

  std::string ProgramDirectory() override {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    return fs::path(std::string(path, static_cast<size_t>(n))).parent_path().string();
  }

  std::string ReadmePath() override { return quelix::ReadmePath(ProgramDirectory()); }

  std::string BackupFolder() override {
    const std::string state = OwnStateHome();
    return state.empty() ? std::string() : Join(Join(state, kProgramName), "backups");
  }

  std::vector<LogPlace> LogPlaces() override {
    return quelix::LogPlaces(ProgramDirectory(), OwnStateHome());
  }
};

}  // namespace

std::unique_ptr<Places> CreateNativePlaces() {
  return std::make_unique<PosixPlaces>();
}

}  // namespace quelix
