// On a cold disk most of the search's time goes to waiting for folders to be read from the
// storage, one after another. Helper threads list the folders the walk comes to next, a bounded
// number ahead of it and several at once, so that the walk finds them in memory. What the helpers
// list is dropped: the walk lists every folder itself, and all a user sees comes from the walk
// alone.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"

namespace quelix {

class FolderReadAhead {
 public:
  // How many folders the helpers list ahead of the walk at most, and how deep below the root
  // they go; and how many list at once (the storage serves several requests at a time).
  static constexpr size_t kLead = 256;
  static constexpr size_t kMaxDepth = 64;
  static constexpr size_t kListers = 4;

  // Starts listing below `root` (a handle of the helpers' own, opened on the walk's root), in the
  // walk's order as far as it can: a folder's subfolders are listed before the folders that come
  // after it, in listing order. The walk has listed `walk_listed` folders so far.
  FolderReadAhead(std::unique_ptr<Directory> root, size_t walk_listed);
  // Stops the helpers and waits for them: they hold no folder open afterwards.
  ~FolderReadAhead();
  FolderReadAhead(const FolderReadAhead&) = delete;
  FolderReadAhead& operator=(const FolderReadAhead&) = delete;

  // The walk has listed one more folder.
  void WalkListedOne();

 private:
  // A folder still to list, by its place in the walk's order: the positions, among their
  // folders' subfolders, of the folders on its way down from the root. The walk goes depth first
  // in listing order, so places compare as the walk comes to them.
  struct Pending {
    std::vector<uint32_t> place;
    std::string relative;  // below the root
  };
  struct ComesLater {
    bool operator()(const Pending& a, const Pending& b) const { return a.place > b.place; }
  };

  void Run(std::unique_ptr<Directory> root);
  // Waits for the next folder to list; false when the helpers are to stop or all is listed.
  bool Next(Pending* next);
  // Queues the subfolders `names` of `listed` and counts it done.
  void Listed(const Pending& listed, const std::vector<std::string>& names, char separator);

  std::mutex mutex_;
  std::condition_variable changed_;
  size_t walk_listed_ = 0;
  size_t helpers_listed_ = 0;
  size_t listing_ = 0;  // folders a helper is listing now
  bool stop_ = false;
  std::priority_queue<Pending, std::vector<Pending>, ComesLater> pending_;
  std::vector<std::thread> listers_;
};

}  // namespace quelix
