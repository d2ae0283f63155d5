#include "engine/backups.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "engine/backup_format.h"
#include "engine/backup_store.h"

namespace quelix {
namespace {

// The number after the stamp: runs begun within one second count on from 1.
unsigned long RunNumber(const std::string& name) {
  const size_t dash = name.rfind('-');
  return dash == std::string::npos ? 0 : std::strtoul(name.c_str() + dash + 1, nullptr, 10);
}

size_t CountLines(FileSystem& fs, const std::string& path) {
  std::string text;
  return ReadOwnFile(fs, path, &text).ok() ? SplitLines(text).size() : 0;
}

// The files a run's manifest still holds: those withdrawn are not counted. A manifest with a line
// that cannot be read is counted by its lines, as the listing has nothing better to tell.
size_t CountFiles(FileSystem& fs, const std::string& path) {
  std::string text;
  std::vector<ManifestEntry> entries;
  if (!ReadOwnFile(fs, path, &text).ok()) return 0;
  return ParseManifest(text, &entries) ? entries.size() : SplitLines(text).size();
}

// The folders in `folder` named as runs are, oldest first, without reading them.
Status RunFolders(FileSystem& fs, const std::string& folder, std::vector<RunSummary>* runs) {
  runs->clear();
  std::unique_ptr<Directory> dir;
  // Runs in a folder someone else may change would tell a restore what to write where.
  Status status = fs.CheckOwnFolder(folder);
  if (status.ok()) status = fs.OpenDirectory(folder, &dir);
  if (status.code() == ErrorCode::kNotFound) return Status::Ok();
  if (status.ok()) {
    status = dir->List([&](const DirEntry& entry) {
      RunSummary run;
      if (entry.is_directory && ParseRunStamp(entry.name, &run.time)) {
        run.name = entry.name;
        run.path = folder + fs.Separator() + entry.name;
        runs->push_back(std::move(run));
      }
      return true;
    });
  }
  std::sort(runs->begin(), runs->end(), [](const RunSummary& a, const RunSummary& b) {
    return a.time != b.time ? a.time < b.time : RunNumber(a.name) < RunNumber(b.name);
  });
  return status;
}

Status RemoveRun(FileSystem& fs, const std::string& path) {
  std::unique_ptr<Directory> dir;
  std::vector<std::string> names;
  Status status = fs.OpenDirectory(path, &dir);
  if (status.ok()) {
    status = dir->List([&](const DirEntry& entry) {
      names.push_back(entry.name);
      return true;
    });
  }
  dir.reset();
  for (const std::string& name : names) {
    if (status.ok()) status = fs.Remove(path + fs.Separator() + name);
  }
  return status.ok() ? fs.RemoveFolder(path) : status;
}

}  // namespace

Status ListRuns(FileSystem& fs, const std::string& folder, std::vector<RunSummary>* runs) {
  const Status status = RunFolders(fs, folder, runs);
  const char sep = fs.Separator();
  for (RunSummary& run : *runs) {
    std::string text;
    // A run stopped before its record was written kept nothing.
    if (ReadOwnFile(fs, run.path + sep + kRunName, &text).ok()) {
      for (const RunRoot& root : ParseRun(text).roots) run.roots.push_back(root.path);
    }
    run.files = CountFiles(fs, run.path + sep + kManifestName);
    run.values = CountLines(fs, run.path + sep + kRegistryName);
  }
  return status;
}

Status FindRun(FileSystem& fs, const std::string& folder, const std::string& which,
               std::string* run) {
  if (which.find(fs.Separator()) != std::string::npos) {
    // A run named by its folder is trusted only as one of this user's: a folder someone else
    // owns or may write would tell the restore what to write where.
    FileInfo given, store;
    Status status = fs.GetInfo(which, &given);
    if (status.ok()) status = fs.GetInfo(folder, &store);
    if (!status.ok()) return status;
    const FileAttributes& a = given.attributes;
    if (!given.is_directory || a.owner != store.attributes.owner ||
        (a.owner >= 0 && (a.word & 022) != 0)) {
      return {ErrorCode::kAccessDenied, which + " is not a run of this user's backups"};
    }
    status = fs.CheckOwnFolder(which);
    if (!status.ok()) return status;
    *run = which;
    return Status::Ok();
  }
  std::vector<RunSummary> runs;
  const Status status = RunFolders(fs, folder, &runs);
  if (!status.ok()) return status;
  auto found =
      std::find_if(runs.begin(), runs.end(), [&](const RunSummary& r) { return r.name == which; });
  // The latest is the latest that began: one stopped before its record was written kept nothing.
  for (auto it = runs.rbegin(); which.empty() && it != runs.rend(); ++it) {
    FileInfo info;
    if (fs.GetInfo(it->path + fs.Separator() + kRunName, &info).ok()) {
      found = std::prev(it.base());
      break;
    }
  }
  if (found == runs.end()) {
    return {ErrorCode::kOther, which.empty() ? "no backups are kept in " + folder
                                             : "no run " + which + " is kept in " + folder};
  }
  *run = found->path;
  return Status::Ok();
}

Status PruneRuns(FileSystem& fs, const std::string& folder, int days,
                 std::chrono::system_clock::time_point now, std::vector<std::string>* removed) {
  std::vector<RunSummary> runs;
  Status status = RunFolders(fs, folder, &runs);
  const auto oldest_kept = now - std::chrono::days(days);
  for (const RunSummary& run : runs) {
    if (!status.ok() || run.time >= oldest_kept) continue;
    status = RemoveRun(fs, run.path);
    if (status.ok()) removed->push_back(run.name);
  }
  return status;
}

}  // namespace quelix
