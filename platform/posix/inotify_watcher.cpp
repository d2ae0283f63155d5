// The watch on Linux through inotify: one watch per folder, kept in a table of watch number to
// folder path, which is all the memory the watch takes beyond the kernel's own (files cost
// nothing). Folders made or moved in are watched as they appear, and listed once: a folder
// unpacked in one go is filled before its watch exists.
//
// The tree's owner can swap any folder for a link between its event and our look at it, so a
// folder is never reached through its path: it is opened one name at a time from the held top,
// without following links, and the watch is put on the folder so opened, which it lists.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <unordered_map>

#include "platform/posix/owned_fd.h"
#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_watchers.h"
#include "platform/posix/watched_folders.h"

namespace quelix {
namespace {

// No IN_DONT_FOLLOW: the watch is put through /proc/self/fd, whose link leads to the folder held.
constexpr uint32_t kFolderMask =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_ONLYDIR | IN_EXCL_UNLINK;

class InotifyWatcher final : public PollableWatcher {
 public:
  InotifyWatcher() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

  Status Add(const std::string& path) override;
  Status Wait(std::chrono::milliseconds timeout, std::vector<WatchEvent>* events) override;
  size_t folders() const override { return folders_.size(); }
  std::string method() const override { return "inotify"; }
  int descriptor() const override { return fd_.get(); }

 private:
  // The top added that holds `folder`, or null.
  const HeldTop* TopOf(const std::string& folder) const;
  // Watches the folder `dir`, named `folder` (ending in '/'); false, told in `*events`, where it
  // cannot be watched.
  bool WatchFolder(const std::string& folder, int dir, std::vector<WatchEvent>* events);
  // Watches `top` and every folder below it on its volume; with `report`, tells each file as
  // kFound.
  void AddTree(const std::string& top, bool report, std::vector<WatchEvent>* events);
  // Drops the watches of `top` and the folders below it: they moved out of the watched place.
  void ForgetTree(const std::string& top);
  // Watches every top again, after changes were dropped: a folder moved in meanwhile is watched
  // from now on, and the watches of folders moved out are dropped.
  void WatchAgain(std::vector<WatchEvent>* events);
  // Whether `name`, made in `folder`, was linked to a file made elsewhere: neither written nor
  // moved in, it is told as moved in.
  bool LinkedIn(const std::string& folder, const std::string& name) const;
  void Take(const inotify_event& event, std::vector<WatchEvent>* events);

  OwnedFd fd_;
  std::vector<HeldTop> tops_;
  std::unordered_map<int, std::string> folders_;
  std::vector<WatchEvent> early_;  // what Add had to tell, handed out by the next Wait
  bool limit_told_ = false;
};

Status InotifyWatcher::Add(const std::string& path) {
  if (!fd_.valid()) return FromErrno(errno, "inotify");
  std::string top = path;
  if (top.empty() || top.back() != '/') top += '/';
  OwnedFd dir(::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat info {};
  if (!dir.valid() || ::fstat(dir.get(), &info) != 0) return FromErrno(errno, path);
  std::vector<WatchEvent> told;
  if (!WatchFolder(top, dir.get(), &told)) {
    return {ErrorCode::kOther, told.empty() ? "it is no longer there" : told.front().reason};
  }
  OwnedFd listed(::dup(dir.get()));
  tops_.push_back({top, std::move(dir), info.st_dev});
  std::vector<std::string> pending;
  std::vector<WatchEvent> ignored;
  ListFolder(top, std::move(listed), false, &pending, &ignored);
  for (const std::string& folder : pending) AddTree(folder, false, &early_);
  return Status::Ok();
}

const HeldTop* InotifyWatcher::TopOf(const std::string& folder) const {
  const HeldTop* found = nullptr;
  for (const HeldTop& top : tops_) {
    const bool below = folder.compare(0, top.path.size(), top.path) == 0;
    if (below && (found == nullptr || top.path.size() > found->path.size())) found = &top;
  }
  return found;
}

bool InotifyWatcher::WatchFolder(const std::string& folder, int dir,
                                 std::vector<WatchEvent>* events) {
  const std::string held = "/proc/self/fd/" + std::to_string(dir);
  const int wd = inotify_add_watch(fd_.get(), held.c_str(), kFolderMask);
  if (wd >= 0) {
    // The same folder met again under another name (moved before its old name's event was read)
    // goes by the newer one.
    folders_[wd] = folder;
    return true;
  }
  const int err = errno;
  if (err == ENOSPC) {
    if (limit_told_) return false;
    limit_told_ = true;
    events->push_back({WatchEvent::Kind::kNotWatched,
                       folder,
                       {},
                       "the limit of inotify watches is reached; folders beyond it are not "
                       "watched (raise /proc/sys/fs/inotify/max_user_watches)"});
    return false;
  }
  events->push_back({WatchEvent::Kind::kNotWatched, folder, {}, std::strerror(err)});
  return false;
}

void InotifyWatcher::AddTree(const std::string& top, bool report, std::vector<WatchEvent>* events) {
  const HeldTop* held = TopOf(top);
  if (held == nullptr) return;
  std::vector<std::string> pending{top};
  while (!pending.empty()) {
    const std::string folder = std::move(pending.back());
    pending.pop_back();
    // No folder's path is longer than the system takes, so the table stays bounded.
    if (folder.size() >= PATH_MAX) {
      events->push_back({WatchEvent::Kind::kNotWatched, folder, {}, std::strerror(ENAMETOOLONG)});
      continue;
    }
    // A folder gone or swapped for a link meanwhile holds nothing to watch.
    OwnedFd dir = OpenFolderBelow(*held, folder, O_RDONLY | O_NONBLOCK);
    struct stat info {};
    if (!dir.valid() || ::fstat(dir.get(), &info) != 0 || info.st_dev != held->volume) continue;
    // Watched before it is listed: what lands in it meanwhile is then told by either.
    if (!WatchFolder(folder, dir.get(), events)) continue;
    ListFolder(folder, std::move(dir), report, &pending, events);
  }
}

void InotifyWatcher::ForgetTree(const std::string& top) {
  for (auto it = folders_.begin(); it != folders_.end();) {
    if (it->second.compare(0, top.size(), top) == 0) {
      inotify_rm_watch(fd_.get(), it->first);
      it = folders_.erase(it);
    } else {
      ++it;
    }
  }
}

void InotifyWatcher::WatchAgain(std::vector<WatchEvent>* events) {
  std::unordered_map<int, std::string> before;
  before.swap(folders_);
  for (const HeldTop& top : tops_) AddTree(top.path, false, events);
  for (const auto& old : before) {
    if (folders_.count(old.first) == 0) inotify_rm_watch(fd_.get(), old.first);
  }
}

bool InotifyWatcher::LinkedIn(const std::string& folder, const std::string& name) const {
  const HeldTop* top = TopOf(folder);
  return top != nullptr && LinkedFile(*top, folder, name);
}

void InotifyWatcher::Take(const inotify_event& event, std::vector<WatchEvent>* events) {
  if (event.mask & IN_Q_OVERFLOW) {
    events->push_back(
        {WatchEvent::Kind::kMissed, {}, {}, "changes came faster than the system could tell them"});
    WatchAgain(events);
    return;
  }
  const auto it = folders_.find(event.wd);
  if (it == folders_.end()) return;
  if (event.mask & IN_IGNORED) {
    folders_.erase(it);  // the folder was deleted, or moved off the volume
    return;
  }
  if (event.len == 0) return;
  const std::string folder = it->second;
  const std::string name = event.name;
  if (event.mask & IN_ISDIR) {
    if (event.mask & IN_MOVED_FROM) ForgetTree(folder + name + '/');
    if (event.mask & (IN_CREATE | IN_MOVED_TO)) AddTree(folder + name + '/', true, events);
  } else if (event.mask & IN_CLOSE_WRITE) {
    events->push_back({WatchEvent::Kind::kWritten, folder, name, {}});
  } else if ((event.mask & IN_MOVED_TO) || LinkedIn(folder, name)) {
    events->push_back({WatchEvent::Kind::kMovedIn, folder, name, {}});
  }
}

Status InotifyWatcher::Wait(std::chrono::milliseconds timeout, std::vector<WatchEvent>* events) {
  events->insert(events->end(), early_.begin(), early_.end());
  early_.clear();
  pollfd ready{fd_.get(), POLLIN, 0};
  const int polled = ::poll(&ready, 1, static_cast<int>(timeout.count()));
  if (polled < 0 && errno != EINTR) return FromErrno(errno, "inotify");
  if (polled <= 0) return Status::Ok();
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(fd_.get(), buffer, sizeof buffer);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return Status::Ok();
    if (got <= 0) return FromErrno(errno, "inotify");
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      Take(*event, events);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

}  // namespace

std::unique_ptr<PollableWatcher> CreateInotifyWatcher() {
  return std::make_unique<InotifyWatcher>();
}

}  // namespace quelix
