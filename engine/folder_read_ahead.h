// On a cold disk most of the search's time goes to waiting for folders to be read from the
// storage, one after another. A helper thread lists the folders the walk comes to next, a bounded
// number ahead of it, so that the walk finds them in memory. What the helper lists is dropped:
// the walk lists every folder itself, and all a user sees comes from the walk alone.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"

namespace quelix {

class FolderReadAhead {
 public:
  // How many folders the helper lists ahead of the walk at most, and how deep below the root it
  // goes: it holds one open folder per level, so this bounds its open files too.
  static constexpr size_t kLead = 256;
  static constexpr size_t kMaxDepth = 64;

  // Starts listing below `root` (a handle of the helper's own, opened on the walk's root), in the
  // walk's order: a folder, then each of its subfolders in listing order, depth first. The walk
  // has listed `walk_listed` folders so far.
  FolderReadAhead(std::unique_ptr<Directory> root, size_t walk_listed);
  // Stops the helper and waits for it: it holds no folder open afterwards.
  ~FolderReadAhead();
  FolderReadAhead(const FolderReadAhead&) = delete;
  FolderReadAhead& operator=(const FolderReadAhead&) = delete;

  // The walk has listed one more folder.
  void WalkListedOne();

 private:
  // One folder of the helper's way down, and the subfolders of it still to list.
  struct Level {
    std::unique_ptr<Directory> dir;
    std::vector<std::string> subfolders;
    size_t next = 0;
  };

  void Run(std::unique_ptr<Directory> root);
  // Lists `dir`, keeping its subfolders' names; false when the helper is to stop.
  bool ListAhead(std::unique_ptr<Directory> dir, std::vector<Level>* way);
  // Waits until the helper may list one more folder; false when it is to stop.
  bool MayListOneMore();

  std::mutex mutex_;
  std::condition_variable changed_;
  size_t walk_listed_ = 0;
  size_t helper_listed_ = 0;
  bool stop_ = false;
  std::thread helper_;
};

}  // namespace quelix
