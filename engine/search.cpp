#include "engine/search.h"

#include <algorithm>
#include <chrono>

#include "engine/patterns.h"
#include "runtime/shown_name.h"

namespace quelix {

std::string& StripNulls(std::string& OriginalStr) {
  const size_t nul = OriginalStr.find('\0');
  if (nul != std::string::npos) OriginalStr.resize(nul);
  return OriginalStr;
}

bool CandidateSearch::Search() {
  opener_.reset();
  window_.ClearCandidates();
  listed_regular_.clear();
  root_ = Folder{};
  recorded_root_.clear();
  unsearched_ = 0;
  storage_reads_at_start_ = tree_.StorageReadsOfThisThread();
  std::string root = window_.SearchRoot();
  bool open = true;
  for (std::string_view pattern : kPatterns) {
    open = FindFilesAPI(root, pattern);
    if (!open) break;
  }
  read_ahead_.reset();
  if (!open) opener_.reset();
  folders_listed_ = 0;
  // The record is only good while the drive stays as it was listed.
  root_ = Folder{};
  recorded_root_.clear();
  return open;
}

bool CandidateSearch::FindFilesAPI(std::string& path, std::string_view SearchStr) {
  const char separator = tree_.Separator();
  if (path.empty() || path.back() != separator) path += separator;
  uint8_t bit = 0;
  for (size_t i = 0; i < kPatterns.size(); ++i) {
    if (kPatterns[i] == SearchStr) bit = static_cast<uint8_t>(1u << i);
  }
  if (bit == 0) return true;  // not a pattern of the table: nothing was recorded for it
  if (path != recorded_root_) {
    // The root is opened once for all patterns; from then on `path` is its absolute path.
    root_ = Folder{};
    read_ahead_.reset();
    opener_.reset();
    folders_listed_ = 0;
    const Status opened = tree_.Open(path);
    if (opened.ok()) path = tree_.root();
    recorded_root_ = path;
    if (!opened.ok()) {
      root_.listed = true;
      Unsearched(path, Reason(opened));
    } else if (!tree_.only_file().empty()) {
      RecordOnlyFile();
    }
  }
  Directory* dir = root_.listed ? nullptr : &tree_.root_directory();
  return Walk(path, bit, root_, dir, 0);
}

void CandidateSearch::RecordOnlyFile() {
  root_.listed = true;
  const std::string& name = tree_.only_file();
  if (Excluded(tree_.root(), name)) return;
  if (const uint8_t mask = MatchingPatterns(name)) {
    root_.matches.push_back(static_cast<char>(mask));
    root_.matches.append(name);
    root_.matches.push_back('\0');
  } else {
    window_.Tell(
        {FileEvent::Kind::kSkipped, tree_.root() + name, "not a kind of file the virus infects"});
  }
}

void CandidateSearch::StartReadAhead() {
  std::unique_ptr<Directory> own_root;
  // Without a handle of its own the walk goes on alone, only slower on a cold disk.
  Directory& root = tree_.root_directory();
  if (root.UsableFromAnotherThread() && root.OpenDirectory("", &own_root).ok()) {
    read_ahead_ = std::make_unique<FolderReadAhead>(std::move(own_root), folders_listed_);
  }
}

void CandidateSearch::StartOpeningAhead() {
  // Where the process may hold few files, the walk's folders and the listers' need them.
  if (tree_.FilesHeldAheadAllowed() < CandidateOpener::kAheadCold) return;
  opener_ = std::make_unique<CandidateOpener>(
      tree_, window_.CandidateCount(), [this](size_t i) { return window_.Candidate(i); },
      [this](size_t i) { return i < listed_regular_.size() && listed_regular_[i]; }, true);
  // Without helpers the scan opens its candidates itself, when it comes to them.
  if (opener_->helpers() == 0) opener_.reset();
}

bool CandidateSearch::ReadFromStorageSinceStart() const {
  const std::optional<uint64_t> now = tree_.StorageReadsOfThisThread();
  return !now || !storage_reads_at_start_ || *now > *storage_reads_at_start_;
}

bool CandidateSearch::Excluded(const std::string& folder, const std::string& name) const {
  if (!exclude_) return false;
  std::string relative = folder.substr(std::min(folder.size(), tree_.root().size())) + name;
  for (char& c : relative) {
    if (c == tree_.Separator()) c = '/';
  }
  return exclude_(relative);
}

void CandidateSearch::Unsearched(const std::string& path, const std::string& reason) {
  ++unsearched_;
  host_.WriteLog("Could not search " + ShownName(path) + ": " + ShownName(reason));
  window_.Tell({FileEvent::Kind::kUnsearched, path, reason});
}

bool CandidateSearch::List(Folder& folder, Directory& dir, const std::string& path) {
  folder.listed = true;
  if (read_ahead_) read_ahead_->WalkListedOne();
  const auto started = std::chrono::steady_clock::now();
  // When the first entry came: the window's turns at the yields below take time too, which no
  // wait for the storage is.
  std::optional<std::chrono::steady_clock::time_point> first_entry;
  bool open = true;
  bool yielded = false;
  size_t subdirectories = 0;
  // A directory that cannot be listed contributes what it gave before failing; the walk goes on.
  const Status listed = dir.List([&](const DirEntry& entry) {
    if (!first_entry) first_entry = std::chrono::steady_clock::now();
    std::string name = entry.name;
    StripNulls(name);
    if (name == "." || name == ".." || Excluded(path, name)) return true;
    if (entry.is_directory) {
      folder.subdirectories.append(name);
      folder.subdirectories.push_back('\0');
      ++subdirectories;
    }
    if (const uint8_t mask = MatchingPatterns(name)) {
      folder.matches.push_back(
          static_cast<char>(mask | (entry.is_regular_file ? kListedRegular : 0)));
      folder.matches.append(name);
      folder.matches.push_back('\0');
    }
    open = host_.YieldPoint();
    yielded = true;
    return open;
  });
  // An empty folder yields too: a walk through many of them would otherwise leave the window
  // unanswered and a close or an interrupt unseen until it ends.
  if (open && !yielded) open = host_.YieldPoint();
  ++folders_listed_;
  // A listing that had to wait for the storage says the disk is cold: only then is the helper
  // worth its calls (on a warm one it would list every folder twice for nothing).
  if (!read_ahead_ &&
      first_entry.value_or(std::chrono::steady_clock::now()) - started > kSlowListing &&
      ReadFromStorageSinceStart()) {
    StartReadAhead();
    // The helpers that list folders may be had: so may those that open the pages found.
    if (read_ahead_ && !opener_) StartOpeningAhead();
  }
  folder.children.resize(subdirectories);
  folder.subdirectories.shrink_to_fit();
  folder.matches.shrink_to_fit();
  if (open && !listed.ok()) Unsearched(path, Describe(listed.code()));
  return open;
}

std::unique_ptr<Directory> CandidateSearch::Enter(Directory* dir, const std::string& path,
                                                  const std::string& name, int depth) {
  if (dir == nullptr) return nullptr;
  if (depth > kMaxDepth) {
    Unsearched(path, Describe(ErrorCode::kTooDeep));
    return nullptr;
  }
  std::unique_ptr<Directory> child;
  const Status opened = dir->OpenDirectory(name, &child);
  // A mount point met on the way belongs to another volume, which the walk leaves alone.
  if (!opened.ok() && opened.code() != ErrorCode::kOtherVolume) {
    Unsearched(path, Describe(opened.code()));
  }
  return child;
}

bool CandidateSearch::Walk(std::string& path, uint8_t pattern_bit, Folder& folder, Directory* dir,
                           int depth) {
  if (!folder.listed) {
    if (dir == nullptr) {
      folder.listed = true;
    } else if (!List(folder, *dir, path)) {
      return false;
    }
  }
  std::string progress;  // the same for every match here: made once, at the first
  for (size_t at = 0; at < folder.matches.size();) {
    const auto mask = static_cast<uint8_t>(folder.matches[at]);
    const size_t end = folder.matches.find('\0', at + 1);
    const std::string_view name(folder.matches.data() + at + 1, end - at - 1);
    at = end + 1;
    if (!(mask & pattern_bit)) continue;
    if (progress.empty()) progress = "Searching \r\n" + ShownName(path);
    host_.WriteLog(progress);
    window_.SetStatus(progress);
    window_.AppendCandidate(path + std::string(name));
    listed_regular_.push_back((mask & kListedRegular) != 0);
    if (!host_.YieldPoint()) return false;
  }
  if (opener_ && !progress.empty()) opener_->Extend(window_.CandidateCount());
  size_t at = 0;
  for (std::unique_ptr<Folder>& record : folder.children) {
    const size_t end = folder.subdirectories.find('\0', at);
    const std::string name = folder.subdirectories.substr(at, end - at);
    at = end + 1;
    std::string child = path + name + tree_.Separator();
    if (!record) record = std::make_unique<Folder>();
    std::unique_ptr<Directory> child_dir;
    if (!record->listed) child_dir = Enter(dir, child, name, depth + 1);
    if (!Walk(child, pattern_bit, *record, child_dir.get(), depth + 1)) return false;
  }
  return true;
}

}  // namespace quelix
