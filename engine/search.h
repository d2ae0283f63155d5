// The candidate search: walks the chosen drive and lists every entry whose name matches one of the
// patterns, one pattern after another.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/candidate_opener.h"
#include "engine/folder_read_ahead.h"
#include "engine/tree.h"
#include "engine/window.h"
#include "platform/file_system.h"

namespace quelix {

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
  // What the one listing of a folder recorded (see FolderListing): a tree of a million files is
  // recorded whole while the walks replay it.
  struct Folder {
    bool listed = false;
    std::string subdirectories;                     // each name followed by a NUL
    std::vector<std::unique_ptr<Folder>> children;  // one per subdirectory, made lazily
    std::string matches;
  };

  bool Walk(std::string& path, uint8_t pattern_bit, Folder& folder, Directory* dir, int depth);
  // Lists the folder at `path` into `folder`: from `dir` where the walk holds it, else from
  // what a helper listed, else opened from the root here (`*listed_here`). False when the window
  // closed.
  bool ListFolder(Folder& folder, Directory* dir, const std::string& path, int depth,
                  std::unique_ptr<Directory>* listed_here);
  bool List(Folder& folder, Directory& dir, const std::string& path);
  // Records what a helper listed as List does, with the same yields (`turns` of them given while
  // the helper listed) and reports.
  bool Adopt(Folder& folder, FolderListing& listing, const std::string& path, size_t turns);
  bool Keep(Folder& folder, FolderListing& listing, const std::string& path, bool open);
  // Reports a folder that could not be opened, unless it lies on another volume.
  void NotEntered(const std::string& path, const Status& why);
  // `path`'s names below the root, joined by the separator; "" for the root.
  std::string BelowRoot(const std::string& path) const;
  // Opens subdirectory `name` of `dir` for listing; null (reported) where it cannot be searched.
  std::unique_ptr<Directory> Enter(Directory* dir, const std::string& path, const std::string& name,
                                   int depth);
  void Unsearched(const std::string& path, const std::string& reason);
  // Records the root of a tree made of one file (SearchedTree::only_file()).
  void RecordOnlyFile();
  // Has helpers list the walk's folders ahead of it and hand it the listings (FolderReadAhead).
  void StartReadAhead();
  // A helper's listing waited for the storage: more helpers list, and others open the pages
  // found meanwhile.
  void GoCold();
  void StartOpeningAhead();

  Window& window_;
  CommandHost& host_;
  SearchedTree& tree_;
  std::string recorded_root_;
  Folder root_;
  size_t unsearched_ = 0;
  std::vector<bool> listed_regular_;
  Exclusion exclude_;
  std::unique_ptr<FolderReadAhead> read_ahead_;  // while the walk lists the tree's folders
  bool went_cold_ = false;
  // The process ran out of descriptors: from then on the walk holds no folder while it walks the
  // folders below it, and opens each from the root, so that the depth costs none.
  bool short_of_descriptors_ = false;
  // Started with the read-ahead: opens the candidates found so far while the walk lists.
  std::unique_ptr<CandidateOpener> opener_;
};

}  // namespace quelix
