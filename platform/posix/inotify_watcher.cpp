// The watch on Linux through inotify: one watch per folder, kept in a table of watch number to
// folder path, which is all the memory the watch takes beyond the kernel's own (files cost
// nothing). Folders made or moved in are watched as they appear, and listed once: a folder
// unpacked in one go is filled before its watch exists.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "platform/posix/owned_fd.h"
#include "platform/posix/posix_errors.h"
#include "platform/watcher.h"

namespace quelix {
namespace {

constexpr uint32_t kFolderMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                                 IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

class InotifyWatcher final : public Watcher {
 public:
  InotifyWatcher() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

  Status Add(const std::string& path) override;
  Status Wait(std::chrono::milliseconds timeout, std::vector<WatchEvent>* events) override;
  size_t folders() const override { return folders_.size(); }
  std::string method() const override { return "inotify"; }

 private:
  // Watches `folder` (ending in '/'); false, told in `*events`, where it cannot be watched.
  bool WatchFolder(const std::string& folder, std::vector<WatchEvent>* events);
  // Watches `top` and every folder below it on `volume`; with `report`, tells each file as kFound.
  void AddTree(const std::string& top, dev_t volume, bool report, std::vector<WatchEvent>* events);
  // Lists `folder`: its subfolders on `volume` go to `*pending`, its files (with `report`) to
  // `*events`.
  void ListFolder(const std::string& folder, dev_t volume, bool report,
                  std::vector<std::string>* pending, std::vector<WatchEvent>* events);
  // Drops the watches of `top` and the folders below it: they moved out of the watched place.
  void ForgetTree(const std::string& top);
  void Take(const inotify_event& event, std::vector<WatchEvent>* events);

  OwnedFd fd_;
  std::unordered_map<int, std::string> folders_;
  std::vector<WatchEvent> early_;  // what Add had to tell, handed out by the next Wait
  bool limit_told_ = false;
};

Status InotifyWatcher::Add(const std::string& path) {
  if (!fd_.valid()) return FromErrno(errno, "inotify");
  std::string top = path;
  if (top.empty() || top.back() != '/') top += '/';
  struct stat info {};
  if (::stat(top.c_str(), &info) != 0) return FromErrno(errno, path);
  const int wd = inotify_add_watch(fd_.get(), top.c_str(), kFolderMask & ~IN_DONT_FOLLOW);
  if (wd < 0) return FromErrno(errno, path);
  folders_[wd] = top;
  std::vector<std::string> pending;
  std::vector<WatchEvent> ignored;
  ListFolder(top, info.st_dev, false, &pending, &ignored);
  for (const std::string& folder : pending) AddTree(folder, info.st_dev, false, &early_);
  return Status::Ok();
}

bool InotifyWatcher::WatchFolder(const std::string& folder, std::vector<WatchEvent>* events) {
  const int wd = inotify_add_watch(fd_.get(), folder.c_str(), kFolderMask);
  if (wd >= 0) {
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
  // A folder gone or swapped for a link before it could be watched holds nothing to watch.
  if (err != ENOENT && err != ENOTDIR) {
    events->push_back({WatchEvent::Kind::kNotWatched, folder, {}, std::strerror(err)});
  }
  return false;
}

void InotifyWatcher::AddTree(const std::string& top, dev_t volume, bool report,
                             std::vector<WatchEvent>* events) {
  std::vector<std::string> pending{top};
  while (!pending.empty()) {
    const std::string folder = std::move(pending.back());
    pending.pop_back();
    // Watched before it is listed: what lands in it meanwhile is then told by either.
    if (!WatchFolder(folder, events)) continue;
    ListFolder(folder, volume, report, &pending, events);
  }
}

void InotifyWatcher::ListFolder(const std::string& folder, dev_t volume, bool report,
                                std::vector<std::string>* pending,
                                std::vector<WatchEvent>* events) {
  OwnedFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!dir.valid() || ::fstat(dir.get(), &info) != 0 || info.st_dev != volume) return;
  DIR* listing = ::fdopendir(dir.get());
  if (listing == nullptr) return;
  dir.Release();
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    unsigned char type = entry->d_type;
    struct stat child {};
    if (type == DT_UNKNOWN &&
        ::fstatat(dirfd(listing), name.c_str(), &child, AT_SYMLINK_NOFOLLOW) == 0) {
      type = S_ISDIR(child.st_mode) ? DT_DIR : S_ISREG(child.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    if (type == DT_DIR) {
      pending->push_back(folder + name + '/');
    } else if (type == DT_REG && report) {
      events->push_back({WatchEvent::Kind::kFound, folder, name, {}});
    }
  }
  ::closedir(listing);
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

void InotifyWatcher::Take(const inotify_event& event, std::vector<WatchEvent>* events) {
  if (event.mask & IN_Q_OVERFLOW) {
    events->push_back(
        {WatchEvent::Kind::kMissed, {}, {}, "changes came faster than the system could tell them"});
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
    struct stat info {};
    if ((event.mask & (IN_CREATE | IN_MOVED_TO)) && ::stat(folder.c_str(), &info) == 0) {
      AddTree(folder + name + '/', info.st_dev, true, events);
    }
  } else if (event.mask & IN_CLOSE_WRITE) {
    events->push_back({WatchEvent::Kind::kWritten, folder, name, {}});
  } else if (event.mask & IN_MOVED_TO) {
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

std::unique_ptr<Watcher> CreateNativeWatcher() {
  return std::make_unique<InotifyWatcher>();
}

}  // namespace quelix
