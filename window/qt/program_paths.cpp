#include "window/qt/program_paths.h"

#include <filesystem>

namespace quelix {
namespace {

namespace fs = std::filesystem;

constexpr char kProgramName[] = "quelix-remover";

std::string Join(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
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

}  // namespace

std::string StateHome(const char* xdg_state_home, const char* home) {
  // By the XDG base directory rules a relative value is to be ignored.
  if (xdg_state_home && xdg_state_home[0] == '/') return xdg_state_home;
  if (home && home[0] == '/') return Join(home, ".local/state");
  return {};
}

bool IsInstalled(const std::string& program_dir) {
  std::error_code error;
  return !fs::exists(Normal(program_dir) / "readme.txt", error) &&
         fs::is_directory(DocDirectory(program_dir), error);
}

std::string ReadmePath(const std::string& program_dir) {
  if (IsInstalled(program_dir)) return (DocDirectory(program_dir) / "readme.txt").string();
  return Join(program_dir, "readme.txt");
}

std::vector<std::string> LogPaths(const std::string& program_dir, const std::string& state_home) {
  std::vector<std::string> paths;
  if (!IsInstalled(program_dir)) paths.push_back(Join(program_dir, "log.txt"));
  if (!state_home.empty()) paths.push_back(StateLogPath(state_home));
  return paths;
}

Status OpenEventLog(EventLog& log, const std::string& program_dir, const std::string& state_home) {
  Status status(ErrorCode::kNotFound, "no place for the event log is known");
  for (const std::string& path : LogPaths(program_dir, state_home)) {
    if (!state_home.empty() && path == StateLogPath(state_home)) {
      // Only the program's own state directory is made; the program directory is never created.
      std::error_code error;
      fs::create_directories(fs::path(path).parent_path(), error);
    }
    status = log.Open(path);
    if (status.ok()) return status;
  }
  return status;
}

}  // namespace quelix
