#include "engine/search.h"

#include <algorithm>

#include "engine/patterns.h"
#include "runtime/shown_name.h"

namespace quelix {

bool CandidateSearch::Search() {
  opener_.reset();
  window_.ClearCandidates();
  listed_regular_.clear();
  root_ = Folder{};
  recorded_root_.clear();
  unsearched_ = 0;
  std::string root = window_.SearchRoot();
  bool open = true;
  for (std::string_view pattern : kPatterns) {
    open = FindFilesAPI(root, pattern);
    if (!open) break;
  }
  read_ahead_.reset();
  if (!open) opener_.reset();
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
    const Status opened = tree_.Open(path);
    if (opened.ok()) path = tree_.root();
    recorded_root_ = path;
    if (!opened.ok()) {
      root_.listed = true;
      Unsearched(path, Reason(opened));
    } else if (!tree_.only_file().empty()) {
      RecordOnlyFile();
    } else {
      StartReadAhead();
    }
  }
  // With helpers that list, the walk is handed the root's listing as every other.
  Directory* dir = root_.listed || read_ahead_ ? nullptr : &tree_.root_directory();
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
  // Without helpers (a backend whose folders are not to be used from other threads, or no thread
  // to be had) the walk lists every folder itself.
  read_ahead_ = std::make_unique<FolderReadAhead>(tree_, exclude_);
  if (read_ahead_->listers() == 0) read_ahead_.reset();
  went_cold_ = false;
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

bool CandidateSearch::Excluded(const std::string& folder, const std::string& name) const {
  return ExcludedEntry(exclude_, folder.substr(std::min(folder.size(), tree_.root().size())), name,
                       tree_.Separator());
}

std::string CandidateSearch::BelowRoot(const std::string& path) const {
  std::string relative = path.substr(std::min(path.size(), tree_.root().size()));
  if (!relative.empty() && relative.back() == tree_.Separator()) relative.pop_back();
  return relative;
}

void CandidateSearch::Unsearched(const std::string& path, const std::string& reason) {
  ++unsearched_;
  host_.WriteLog("Could not search " + ShownName(path) + ": " + ShownName(reason));
  window_.Tell({FileEvent::Kind::kUnsearched, path, reason});
}

bool CandidateSearch::List(Folder& folder, Directory& dir, const std::string& path) {
  FolderListing listing;
  const std::string folder_below_root = path.substr(std::min(path.size(), tree_.root().size()));
  bool open = true;
  // A directory that cannot be listed contributes what it gave before failing; the walk goes on.
  listing.listed = dir.List([&](const DirEntry& entry) {
    const size_t taken = listing.entries;
    TakeEntry(entry, exclude_, folder_below_root, tree_.Separator(), &listing);
    if (listing.entries == taken) return true;  // "." or "..", or left out
    open = host_.YieldPoint();
    return open;
  });
  // An empty folder yields too: a walk through many of them would otherwise leave the window
  // unanswered and a close or an interrupt unseen until it ends.
  if (open && listing.entries == 0) open = host_.YieldPoint();
  return Keep(folder, listing, path, open);
}

bool CandidateSearch::Keep(Folder& folder, FolderListing& listing, const std::string& path,
                           bool open) {
  folder.listed = true;
  folder.subdirectories = std::move(listing.subdirectories);
  folder.subdirectories.shrink_to_fit();
  folder.matches = std::move(listing.matches);
  folder.matches.shrink_to_fit();
  folder.children.resize(listing.subdirectory_count);
  if (open && !listing.listed.ok()) Unsearched(path, Describe(listing.listed.code()));
  return open;
}

bool CandidateSearch::Adopt(Folder& folder, FolderListing& listing, const std::string& path,
                            size_t turns) {
  if (!listing.opened.ok()) {
    folder.listed = true;
    NotEntered(path, listing.opened);
    return true;
  }
  // The walk yields once for each entry, as while it lists a folder itself.
  bool open = true;
  for (size_t i = turns; open && i < std::max<size_t>(listing.entries, 1); ++i) {
    open = host_.YieldPoint();
  }
  return Keep(folder, listing, path, open);
}

bool CandidateSearch::ListFolder(Folder& folder, Directory* dir, const std::string& path, int depth,
                                 std::unique_ptr<Directory>* listed_here) {
  if (dir != nullptr) return List(folder, *dir, path);
  if (depth > kMaxDepth) {
    folder.listed = true;
    Unsearched(path, Describe(ErrorCode::kTooDeep));
    return true;
  }
  const std::string relative = BelowRoot(path);
  FolderListing listing;
  // The window has its turns while a helper lists the folder, as while the walk lists it.
  bool open = true;
  size_t turns = 0;
  const auto turn = [&] { return open = host_.YieldPoint(); };
  if (read_ahead_ && read_ahead_->Take(relative, &listing, turn, &turns)) {
    if (!open) return false;
    if (listing.opened.code() == ErrorCode::kTooManyOpen) {
      // The process ran out of descriptors, the helpers holding some: they stop, and the walk
      // lists this folder and the rest itself. A refused open never came to the folder.
      read_ahead_.reset();
      short_of_descriptors_ = true;
    } else {
      if (read_ahead_->SlowListingSeen() && !went_cold_) GoCold();
      return Adopt(folder, listing, path, turns);
    }
  }
  // A folder no helper lists: opened from the root here, and the folders below it from it.
  const Status opened = tree_.root_directory().OpenDirectory(relative, listed_here);
  if (!opened.ok()) {
    folder.listed = true;
    NotEntered(path, opened);
    return true;
  }
  return List(folder, **listed_here, path);
}

void CandidateSearch::GoCold() {
  went_cold_ = true;
  read_ahead_->GoCold();
  // The helpers that list folders may be had: so may those that open the pages found.
  if (!opener_) StartOpeningAhead();
}

void CandidateSearch::NotEntered(const std::string& path, const Status& why) {
  // A mount point met on the way belongs to another volume, which the walk leaves alone.
  if (why.code() != ErrorCode::kOtherVolume) Unsearched(path, Describe(why.code()));
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
  if (opened.code() == ErrorCode::kTooManyOpen) {
    short_of_descriptors_ = true;  // opened from the root by the walk below, holding less
  } else if (!opened.ok()) {
    NotEntered(path, opened);
  }
  return child;
}

bool CandidateSearch::Walk(std::string& path, uint8_t pattern_bit, Folder& folder, Directory* dir,
                           int depth) {
  std::unique_ptr<Directory> listed_here;
  if (!folder.listed && !ListFolder(folder, dir, path, depth, &listed_here)) return false;
  if (listed_here) dir = listed_here.get();
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
    listed_regular_.push_back((mask & FolderListing::kListedRegular) != 0);
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
    if (short_of_descriptors_) {
      listed_here.reset();
      dir = nullptr;
    }
    // Below a folder the walk holds it opens the next itself; elsewhere a helper lists it, or,
    // short of descriptors, the walk from the root.
    std::unique_ptr<Directory> child_dir;
    if (!record->listed && dir != nullptr) {
      child_dir = Enter(dir, child, name, depth + 1);
      // Nothing found in a folder not entered, unless it is to be opened from the root.
      record->listed = child_dir == nullptr && !short_of_descriptors_;
    }
    if (!Walk(child, pattern_bit, *record, child_dir.get(), depth + 1)) return false;
  }
  return true;
}

}  // namespace quelix
