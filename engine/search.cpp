#include "engine/search.h"

#include "engine/patterns.h"

namespace quelix {

std::string& StripNulls(std::string& OriginalStr) {
  const size_t nul = OriginalStr.find('\0');
  if (nul != std::string::npos) OriginalStr.resize(nul);
  return OriginalStr;
}

bool CandidateSearch::Search() {
  window_.SetBusyPointer(true);
  window_.ClearCandidates();
  root_ = Directory{};
  recorded_root_.clear();
  std::string root = window_.SearchRoot();
  bool open = true;
  for (std::string_view pattern : kPatterns) {
    open = FindFilesAPI(root, pattern);
    if (!open) break;
  }
  // The record is only good while the drive stays as it was listed.
  root_ = Directory{};
  recorded_root_.clear();
  window_.SetBusyPointer(false);
  return open;
}

bool CandidateSearch::FindFilesAPI(std::string& path, std::string_view SearchStr) {
  if (path.empty() || path.back() != fs_.Separator()) path += fs_.Separator();
  uint8_t bit = 0;
  for (size_t i = 0; i < kPatterns.size(); ++i) {
    if (kPatterns[i] == SearchStr) bit = static_cast<uint8_t>(1u << i);
  }
  if (bit == 0) return true;  // not a pattern of the table: nothing was recorded for it
  if (path != recorded_root_) {
    root_ = Directory{};
    recorded_root_ = path;
  }
  return Walk(path, bit, root_);
}

bool CandidateSearch::List(const std::string& path, Directory& dir) {
  dir.listed = true;
  bool open = true;
  // A directory that cannot be listed contributes what it gave before failing; the walk goes on.
  fs_.ListDirectory(path, [&](const DirEntry& entry) {
    std::string name = entry.name;
    StripNulls(name);
    if (name == "." || name == "..") return true;
    if (entry.is_directory) dir.subdirectories.push_back(name);
    if (const uint8_t mask = MatchingPatterns(name))
      dir.matches.emplace_back(std::move(name), mask);
    open = window_.YieldPoint();
    return open;
  });
  dir.children.resize(dir.subdirectories.size());
  return open;
}

bool CandidateSearch::Walk(std::string& path, uint8_t pattern_bit, Directory& dir) {
  if (!dir.listed && !List(path, dir)) return false;
  for (const auto& [name, mask] : dir.matches) {
    if (!(mask & pattern_bit)) continue;
    const std::string progress = "Searching \r\n" + path;
    window_.WriteLog(progress);
    window_.SetStatus(progress);
    window_.AppendCandidate(path + name);
    if (!window_.YieldPoint()) return false;
  }
  for (size_t i = 0; i < dir.subdirectories.size(); ++i) {
    std::string child = path + dir.subdirectories[i] + fs_.Separator();
    if (!dir.children[i]) dir.children[i] = std::make_unique<Directory>();
    if (!Walk(child, pattern_bit, *dir.children[i])) return false;
  }
  return true;
}

}  // namespace quelix
