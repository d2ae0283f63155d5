#include "engine/engine.h"

#include <algorithm>
#include <optional>

#include "engine/signature.h"
#include "runtime/shown_name.h"

namespace quelix {
Engine::Engine(Window& window, CommandHost& host, FileSystem& fs, RegistryOpener open_registry)
    : window_(window),
      host_(host),
      files_(fs),
      tree_(fs),
      signature_(SignatureLine()),
      search_(window, host, tree_),
      scan_(window, host, tree_, files_, signature_),
      cleaner_(tree_, files_, signature_),
      open_registry_(std::move(open_registry)),
      beside_(tree_) {}

bool Engine::ScanCommand() {
  scan_report_ = ScanReport{};
  window_.SetStatus("Searching for the virus. Please wait ...");
  window_.ClearInfected();
  if (!search_.Search()) return false;
  scan_report_.root = tree_.root();
  scan_report_.root_searched = tree_.is_open();
  scan_report_.root_status = tree_.open_status();
  scan_report_.unsearched = search_.unsearched();
  scan_report_.candidates = window_.CandidateCount();
  if (!scan_.ScanCandidates(&search_.listed_regular(), search_.TakeOpener())) return false;
  LookForRegistryValues();
  scan_report_.infected = window_.InfectedCount();
  scan_report_.unreadable = scan_.unreadable();
  scan_report_.done = true;
  return true;
}

bool Engine::CheckCommand(const std::vector<std::string>& paths, const TreeIdentity* expected) {
  scan_report_ = ScanReport{};
  window_.ClearInfected();
  window_.ClearCandidates();
  std::string root = window_.SearchRoot();
  if (root.empty() || root.back() != tree_.Separator()) root += tree_.Separator();
  if (!tree_.is_open() || tree_.root() != root) IgnoreResult(tree_.Open(root), "open_status()");
  scan_report_.root = tree_.root();
  scan_report_.root_status = tree_.open_status();
  FileInfo info;
  if (tree_.is_open() && expected != nullptr &&
      (!tree_.root_directory().GetInfo(&info).ok() || !expected->SameFolder(info))) {
    scan_report_.root_status = {ErrorCode::kOther, "another folder took its name"};
    return true;
  }
  scan_report_.root_searched = tree_.is_open();
  if (!scan_report_.root_searched) return true;
  for (const std::string& path : paths) window_.AppendCandidate(path);
  scan_report_.candidates = paths.size();
  scan_.CheckingChanges(true);
  const bool finished = scan_.ScanCandidates();
  scan_.CheckingChanges(false);
  if (!finished) return false;
  scan_report_.infected = window_.InfectedCount();
  scan_report_.unreadable = scan_.unreadable();
  scan_report_.done = true;
  return true;
}

void Engine::LookForRegistryValues() {
  if (!tree_.is_open()) return;  // no drive was searched
  const std::unique_ptr<Registry> registry = open_registry_(tree_.root_directory());
  if (!registry) return;
  scan_report_.registry_found = FindVirusValues(*registry);
  for (const RegistryValueRef& value : scan_report_.registry_found) {
    if (window_.LogSwitch())
      host_.WriteLog("Virus registry value found: " + ShownName(value.FullName()));
  }
}

bool Engine::RemoveCommand(OriginalKeeper* keeper) {
  removal_ = RemovalReport{};
  // The registry is always handed a keeper: the platform never decides what is kept.
  beside_.Forget();
  keeper_ = keeper != nullptr ? keeper : &beside_;
  cleaner_.KeepOriginalsWith(keeper);
  std::unique_ptr<Registry> registry;
  const size_t count = window_.InfectedCount();
  for (size_t i = 0; i < count; ++i) {
    // A close request takes effect between two files, never in the middle of one.
    if (!host_.YieldPoint()) {
      removal_.stopped = true;
      break;
    }
    RemoveEntry(window_.Infected(i), registry);
  }
  if (count == 0 && !scan_report_.registry_found.empty()) Repair(registry);
  for (const std::string& problem : removal_.registry_problems) host_.WriteLog(problem);
  if (!removal_.stopped && !FindOtherNamesBelow()) removal_.stopped = true;
  return !removal_.stopped;
}

void Engine::NoteOtherNames(const std::string& path, const FileInfo& original, uint64_t count) {
  auto& left = removal_.other_names_left;
  const bool noted = std::any_of(left.begin(), left.end(),
                                 [&](const OtherNamesLeft& l) { return l.cleaned == path; });
  if (!noted) left.push_back({path, original.volume, original.file_id, count, {}});
}

bool Engine::FindOtherNamesBelow() {
  // A tree made of one file has nothing below it: every other name lies elsewhere.
  if (removal_.other_names_left.empty() || !tree_.is_open() || !tree_.only_file().empty()) {
    return true;
  }
  // A name the scan found infected is cleaned, or told, in its own turn.
  const LeftOut left_out = [this](const std::string& folder, const std::string& name) {
    return search_.Excluded(folder, name) || scan_.FoundAs(folder + name) != nullptr;
  };
  return FindOtherNames(
      tree_.root_directory(), left_out, [this] { return host_.YieldPoint(); },
      &removal_.other_names_left);
}

void Engine::RemoveEntry(const std::string& path, std::unique_ptr<Registry>& registry) {
  window_.SetStatus("Removing virus from \r\n" + ShownName(path));
  if (window_.LogSwitch()) host_.WriteLog("Removing virus from \r\n" + ShownName(path));
  const FileInfo* found = scan_.FoundAs(path);
  const std::optional<FileInfo> found_as = found ? std::optional<FileInfo>(*found) : std::nullopt;
  // The window stays live while a large file is cleaned; closing it waits for the file.
  CleanResult result = cleaner_.CleanFile(path, found, [this] { host_.YieldPoint(); });
  if (result.cleaned && found_as) {
    // The names the scan found infected are cleaned or told in their own turn: only the names it
    // never saw are left over.
    result.other_names -= std::min(result.other_names, scan_.OtherNamesFound(path, *found_as));
  }
  if (result.cleaned && found_as && result.other_names > 0) {
    NoteOtherNames(path, *found_as, result.other_names);
  }
  if (result.cleaned) scan_.Record(path, result.now);
  Repair(registry);
  if (result.cleaned) {
    LogLeftovers(path, result);
    if (window_.LogSwitch()) host_.WriteLog("Virus successfully removed from " + ShownName(path));
  }
  RecordOutcome(path, result);
  host_.FlushLog();
}

void Engine::RecordOutcome(const std::string& path, const CleanResult& result) {
  auto it = std::find_if(removal_.files.begin(), removal_.files.end(),
                         [&](const RemovalResult& r) { return r.path == path; });
  const bool first = it == removal_.files.end();
  // A file listed twice is reported once: with the failure its first attempt met, so the second
  // attempt, which finds the file as the first left it, cannot hide the true reason.
  if (!result.cleaned && (first || it->result.cleaned)) {
    host_.WriteLog("Could not remove the virus from " + ShownName(path) + ": " +
                   ShownName(result.reason));
  }
  // Told once per file, and again only where a later entry of it changed its outcome.
  if (first || it->result.cleaned != result.cleaned) {
    window_.Tell({result.cleaned ? FileEvent::Kind::kCleaned : FileEvent::Kind::kNotCleaned, path,
                  result.reason, result.other_names});
  }
  if (first) {
    removal_.files.push_back({path, result});
  } else if (it->result.cleaned || result.cleaned) {
    // The other names an earlier cleaning left still hold the virus; this one sees none of them.
    const uint64_t left = it->result.cleaned ? it->result.other_names : 0;
    it->result = result;
    it->result.other_names = std::max(left, result.other_names);
  }
  removal_.cleaned = 0;
  removal_.other_names = 0;
  for (const RemovalResult& r : removal_.files) {
    removal_.cleaned += r.result.cleaned ? 1 : 0;
    removal_.other_names += r.result.cleaned ? r.result.other_names : 0;
  }
}

void Engine::LogLeftovers(const std::string& path, const CleanResult& result) {
  if (!result.lost.empty()) {
    std::string items;
    for (const std::string& item : result.lost) items += (items.empty() ? "" : ", ") + item;
    host_.WriteLog("Could not keep the metadata of " + ShownName(path) + ": " + items);
  }
  if (result.other_names == 1) {
    host_.WriteLog("1 other name (hard link) of " + ShownName(path) + " still holds the virus");
  } else if (result.other_names > 1) {
    host_.WriteLog(std::to_string(result.other_names) + " other names (hard links) of " +
                   ShownName(path) + " still hold the virus");
  }
}

void Engine::Accumulate(const RepairReport& report) {
  auto& deleted = removal_.registry_deleted;
  auto& failed = removal_.registry_failed;
  for (const RegistryValueRef& value : report.deleted) {
    if (std::find(deleted.begin(), deleted.end(), value) == deleted.end()) {
      deleted.push_back(value);
    }
    std::erase_if(failed, [&](const RegistryValueFailure& f) { return f.value == value; });
  }
  for (const RegistryValueFailure& failure : report.not_deleted) {
    std::erase_if(failed, [&](const RegistryValueFailure& f) { return f.value == failure.value; });
    failed.push_back(failure);
  }
  for (const RegistryOpenFailure& failure : report.not_opened) {
    const bool known =
        std::any_of(removal_.registry_unopened.begin(), removal_.registry_unopened.end(),
                    [&](const RegistryOpenFailure& f) {
                      return f.store == failure.store && f.key == failure.key;
                    });
    if (!known) removal_.registry_unopened.push_back(failure);
  }
}

void Engine::Repair(std::unique_ptr<Registry>& registry) {
  if (!registry && tree_.is_open()) registry = open_registry_(tree_.root_directory());
  if (!registry) return;
  removal_.registry_repaired = true;
  const RepairReport report = RepairRegistry(*registry, keeper_);
  Accumulate(report);
  std::vector<std::string> found;
  for (const RegistryValueFailure& f : report.not_deleted) {
    found.push_back("Could not delete the registry value " + ShownName(f.value.FullName()) + ": " +
                    ShownName(Reason(f.status)));
  }
  for (const RegistryOpenFailure& f : report.not_opened) {
    const std::string where = f.store + (f.key.empty() ? "" : "\\") + f.key;
    found.push_back("Could not open the registry " + ShownName(where) + ": " +
                    ShownName(f.status.message()));
  }
  auto& problems = removal_.registry_problems;
  for (std::string& problem : found) {
    if (std::find(problems.begin(), problems.end(), problem) == problems.end()) {
      problems.push_back(std::move(problem));
    }
  }
}

}  // namespace quelix
