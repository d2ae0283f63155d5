#include "engine/folder_read_ahead.h"

#include <system_error>
#include <utility>

namespace quelix {

FolderReadAhead::FolderReadAhead(std::unique_ptr<Directory> root, size_t walk_listed)
    : walk_listed_(walk_listed) {
  pending_.push(Pending{});  // the root itself, listed again: the walk starts from it
  for (size_t i = 0; i < kListers && root; ++i) {
    // Each helper lists from a handle of the root of its own: a backend's folder is used by one
    // thread at a time.
    std::unique_ptr<Directory> own = std::move(root);
    if (i + 1 < kListers && !own->OpenDirectory("", &root).ok()) root.reset();
    try {
      listers_.emplace_back([this, dir = std::move(own)]() mutable { Run(std::move(dir)); });
    } catch (const std::system_error&) {
      break;  // no thread to be had: the helpers there are list, or the walk goes on alone
    }
  }
}

FolderReadAhead::~FolderReadAhead() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& lister : listers_) lister.join();
}

void FolderReadAhead::WalkListedOne() {
  bool lead_used_up = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    lead_used_up = helpers_listed_ >= walk_listed_ + kLead;
    ++walk_listed_;
  }
  // Only a helper held back by the lead waits for the walk; waking the helpers at every folder
  // would cost the walk a switch to them each time.
  if (lead_used_up) changed_.notify_one();
}

bool FolderReadAhead::Next(Pending* next) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] {
    return stop_ || (pending_.empty() && listing_ == 0) ||
           (!pending_.empty() && helpers_listed_ < walk_listed_ + kLead);
  });
  if (stop_ || pending_.empty()) return false;
  *next = pending_.top();
  pending_.pop();
  ++helpers_listed_;
  ++listing_;
  return true;
}

void FolderReadAhead::Listed(const Pending& listed, const std::vector<std::string>& names,
                             char separator) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    --listing_;
    for (size_t i = 0; i < names.size() && listed.place.size() < kMaxDepth; ++i) {
      Pending child{listed.place, listed.relative};
      child.place.push_back(static_cast<uint32_t>(i));
      if (!child.relative.empty()) child.relative += separator;
      child.relative += names[i];
      pending_.push(std::move(child));
    }
  }
  changed_.notify_all();
}

void FolderReadAhead::Run(std::unique_ptr<Directory> root) {
  const char separator = root->path().empty() ? '/' : root->path().back();
  Pending folder;
  std::vector<std::string> names;
  while (Next(&folder)) {
    names.clear();
    std::unique_ptr<Directory> dir;
    // A folder a helper cannot open or list (a link, another volume, no right) is the walk's to
    // report.
    if (folder.relative.empty() || root->OpenDirectory(folder.relative, &dir).ok()) {
      Directory& listing = folder.relative.empty() ? *root : *dir;
      IgnoreResult(listing.List([&](const DirEntry& entry) {
        if (entry.is_directory && entry.name.find('\0') == std::string::npos && entry.name != "." &&
            entry.name != "..") {
          names.push_back(entry.name);
        }
        return true;
      }),
                   "what a helper could not list, the walk lists and reports itself");
    }
    Listed(folder, names, separator);
  }
}

}  // namespace quelix
