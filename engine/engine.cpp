#include "engine/engine.h"

#include <algorithm>

#include "engine/registry_repair.h"
#include "engine/signature.h"

namespace quelix {
namespace {

constexpr char kRemovedText[] =
    "The HTML.Quelix.A Virus has been removed successfully from your system.";

std::string Describe(const RegistryValueRef& v) {
  return v.store + "\\" + v.key + "\\" + v.value;
}

}  // namespace

Engine::Engine(Window& window, FileSystem& fs, RegistryOpener open_registry)
    : window_(window),
      fs_(fs),
      files_(fs),
      tree_(fs),
      signature_(SignatureLine()),
      search_(window, tree_),
      scan_(window, tree_, files_, signature_),
      cleaner_(tree_, files_, signature_),
      open_registry_(std::move(open_registry)) {}

bool Engine::ScanCommand() {
  window_.SetStatus("Searching for the virus. Please wait ...");
  if (!search_.Search()) return false;
  return scan_.ScanCandidates();
}

void Engine::RemoveCommand() {
  const size_t count = window_.InfectedCount();
  removal_.clear();
  std::unique_ptr<Registry> registry;
  std::vector<std::string> registry_problems;
  size_t cleaned = 0;
  other_names_ = 0;
  for (size_t i = 0; i < count; ++i) {
    const std::string path = window_.Infected(i);
    window_.SetStatus("Removing virus from \r\n" + path);
    if (window_.LogSwitch()) window_.WriteLog("Removing virus from \r\n" + path);
    const CleanResult result = cleaner_.CleanFile(path, scan_.FoundAs(path));
    if (result.cleaned) scan_.Record(path, result.now);
    Repair(registry, &registry_problems);
    if (result.cleaned) LogLeftovers(path, result);
    if (result.cleaned) {
      ++cleaned;
      other_names_ += result.other_names;
      if (window_.LogSwitch()) window_.WriteLog("Virus successfully removed from " + path);
    } else {
      // Failures are always logged: the message box sends the user to the log for them.
      window_.WriteLog("Could not remove the virus from " + path + ": " + result.reason);
    }
    window_.FlushLog();
    removal_.push_back({path, result});
  }
  for (const std::string& problem : registry_problems) window_.WriteLog(problem);
  window_.ShowMessage(Summary(cleaned, registry_problems.size()));
  window_.WriteLog("Virus removal complete.");
  window_.FlushLog();
}

void Engine::LogLeftovers(const std::string& path, const CleanResult& result) {
  if (!result.lost.empty()) {
    std::string items;
    for (const std::string& item : result.lost) items += (items.empty() ? "" : ", ") + item;
    window_.WriteLog("Could not keep the metadata of " + path + ": " + items);
  }
  if (result.other_names == 1) {
    window_.WriteLog("1 other name (hard link) of " + path + " still holds the virus");
  } else if (result.other_names > 1) {
    window_.WriteLog(std::to_string(result.other_names) + " other names (hard links) of " + path +
                     " still hold the virus");
  }
}

void Engine::Repair(std::unique_ptr<Registry>& registry, std::vector<std::string>* problems) {
  if (!registry) registry = open_registry_(window_.SearchRoot());
  if (!registry) return;
  const RepairReport report = RepairRegistry(*registry);
  std::vector<std::string> found;
  for (const RegistryValueFailure& f : report.not_deleted) {
    found.push_back("Could not delete the registry value " + Describe(f.value) + ": " +
                    quelix::Describe(f.status.code()));
  }
  for (const RegistryOpenFailure& f : report.not_opened) {
    found.push_back("Could not open the registry " + f.store + (f.key.empty() ? "" : "\\") + f.key +
                    ": " + f.status.message());
  }
  for (std::string& problem : found) {
    if (std::find(problems->begin(), problems->end(), problem) == problems->end()) {
      problems->push_back(std::move(problem));
    }
  }
}

std::string Engine::Summary(size_t cleaned, size_t registry_problems) const {
  const size_t count = removal_.size();
  if (cleaned == count && registry_problems == 0 && other_names_ == 0) return kRemovedText;
  std::string text = "The HTML.Quelix.A Virus could not be removed completely.";
  if (cleaned < count) {
    text += " It was removed from " + std::to_string(cleaned) + " of " + std::to_string(count) +
            " files.";
  }
  if (registry_problems > 0) text += " Some registry values it set could not be deleted.";
  if (other_names_ > 0) {
    text += " " + std::to_string(other_names_) +
            (other_names_ == 1 ? " other name (hard link) of a cleaned file still holds it."
                               : " other names (hard links) of cleaned files still hold it.");
  }
  return text + " The log has the details.";
}

}  // namespace quelix
