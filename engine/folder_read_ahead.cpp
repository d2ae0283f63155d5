#include "engine/folder_read_ahead.h"

#include <utility>

namespace quelix {

FolderReadAhead::FolderReadAhead(std::unique_ptr<Directory> root, size_t walk_listed)
    : walk_listed_(walk_listed),
      helper_([this, dir = std::move(root)]() mutable { Run(std::move(dir)); }) {}

FolderReadAhead::~FolderReadAhead() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  helper_.join();
}

void FolderReadAhead::WalkListedOne() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++walk_listed_;
  }
  changed_.notify_all();
}

bool FolderReadAhead::MayListOneMore() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return stop_ || helper_listed_ < walk_listed_ + kLead; });
  ++helper_listed_;
  return !stop_;
}

void FolderReadAhead::Run(std::unique_ptr<Directory> root) {
  std::vector<Level> way;
  if (!ListAhead(std::move(root), &way)) return;
  while (!way.empty()) {
    Level& level = way.back();
    if (level.next == level.subfolders.size()) {
      way.pop_back();
      continue;
    }
    const std::string& name = level.subfolders[level.next++];
    std::unique_ptr<Directory> child;
    // A folder the helper cannot open (a link, another volume, no right) is the walk's to report.
    if (way.size() > kMaxDepth || !level.dir->OpenDirectory(name, &child).ok()) continue;
    if (!ListAhead(std::move(child), &way)) return;
  }
}

bool FolderReadAhead::ListAhead(std::unique_ptr<Directory> dir, std::vector<Level>* way) {
  if (!MayListOneMore()) return false;
  Level level{std::move(dir), {}, 0};
  IgnoreResult(level.dir->List([&](const DirEntry& entry) {
    if (entry.is_directory && entry.name.find('\0') == std::string::npos) {
      level.subfolders.push_back(entry.name);
    }
    return true;
  }),
               "what the helper could not list, the walk lists and reports itself");
  way->push_back(std::move(level));
  return true;
}

}  // namespace quelix
