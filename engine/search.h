// The candidate search: walks the chosen drive and lists every entry whose name matches one of the
// patterns, one pattern after another.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/candidate_opener.h"
#include "engine/folder_read_ahead.h"
#include "engine/tree.h"
#include "engine/window.h"
#include "platform/file_system.h"

namespace quelix {

// Cuts `OriginalStr` at its first NUL, in place, and returns it.
std::string& StripNulls(std::string& OriginalStr);

class CandidateSearch {
 public:
  // Folders nested deeper than this below the root are not searched (and are reported): a tree
  // made to be endless must not exhaust the program.
  static constexpr int kMaxDepth = 4096;

  CandidateSearch(Window& window, CommandHost& host, SearchedTree& tree)
      : window_(window), host_(host), tree_(tree) {}

  // Clears the candidate list and fills it with every match of the drive the window shows,
  // pattern by pattern. Returns false when the window closed meanwhile.
  bool Search();

  // Appends the matches of `SearchStr` (one of kPatterns) in the tree below `path` to the
  // candidate list: a directory's matches, then each subdirectory's, in listing order. Appends the
  // separator to `path` when it lacks one. Each directory is listed once per Search; later walks
  // of the same tree replay what that listing recorded. Returns false when the window closed.
  bool FindFilesAPI(std::string& path, std::string_view SearchStr);

  // Has the search leave out every file and folder whose path below the root (its names joined
  // by '/') `exclude` holds true for; a folder left out is not entered.
  void Exclude(std::function<bool(const std::string& relative)> exclude) {
    exclude_ = std::move(exclude);
  }

  // Whether the entry `name` of the folder at `folder` is to be left out.
  bool Excluded(const std::string& folder, const std::string& name) const;

  // The folders of the last search that could not be searched (each logged "Could not search").
  size_t unsearched() const { return unsearched_; }
  // For each candidate the last search listed, in list order: whether its folder's listing gave
  // it as a regular file.
  const std::vector<bool>& listed_regular() const { return listed_regular_; }
  // The opener that began opening the candidates while the search listed a cold disk, for the
  // scan that follows at once to go on with; null where none began.
  std::unique_ptr<CandidateOpener> TakeOpener() { return std::move(opener_); }

 private:
  // What the one listing of a folder recorded, compactly: a tree of a million files is recorded
  // whole while the walks replay it. Names hold no NUL (StripNulls), which ends each one here.
  struct Folder {
    bool listed = false;
    std::string subdirectories;                     // each name followed by a NUL
    std::vector<std::unique_ptr<Folder>> children;  // one per subdirectory, made lazily
    // For each entry that matches a pattern: its mask (kPatterns' bits and kListedRegular), then
    // its name and a NUL.
    std::string matches;
  };
  // Beside the patterns' bits: the listing gave the entry as a regular file.
  static constexpr uint8_t kListedRegular = 0x80;

  bool Walk(std::string& path, uint8_t pattern_bit, Folder& folder, Directory* dir, int depth);
  bool List(Folder& folder, Directory& dir, const std::string& path);
  // Opens subdirectory `name` of `dir` for listing; null (reported) where it cannot be searched.
  std::unique_ptr<Directory> Enter(Directory* dir, const std::string& path, const std::string& name,
                                   int depth);
  void Unsearched(const std::string& path, const std::string& reason);
  // Records the root of a tree made of one file (SearchedTree::only_file()).
  void RecordOnlyFile();
  // Has a helper list the walk's next folders ahead of it (FolderReadAhead), from the root on:
  // the folders the walk listed already go by quickly.
  void StartReadAhead();
  // Has helpers open the candidates found so far, and those the walk finds next (CandidateOpener).
  void StartOpeningAhead();

  Window& window_;
  CommandHost& host_;
  SearchedTree& tree_;
  std::string recorded_root_;
  Folder root_;
  size_t unsearched_ = 0;
  std::vector<bool> listed_regular_;
  std::function<bool(const std::string&)> exclude_;
  // A folder whose first entry took longer than this to come may have waited for the storage
  // (the listing asks for the folder's first part then); it did where the walk's thread read
  // from the storage since the search began (where the OS tells), not where a busy machine only
  // held the walk up.
  static constexpr std::chrono::milliseconds kSlowListing{2};
  bool ReadFromStorageSinceStart() const;
  std::optional<uint64_t> storage_reads_at_start_;
  size_t folders_listed_ = 0;                    // by the walks since the root was opened
  std::unique_ptr<FolderReadAhead> read_ahead_;  // once a listing was slow, while the walk lists
  // Started with the read-ahead: opens the candidates found so far while the walk lists.
  std::unique_ptr<CandidateOpener> opener_;
};

}  // namespace quelix
