// The watch on Linux: fanotify where this process may mark a whole file system, which costs
// nothing per folder and starts at once over any tree; inotify, with a watch per folder, where it
// may not (an unprivileged user, a container without CAP_SYS_ADMIN) or for a folder on a file
// system fanotify cannot report (no file system id, no file handles). Each folder asked for goes
// to the first that takes it, and the start line says which.
#include <poll.h>

#include <cerrno>

#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_watchers.h"

namespace quelix {
namespace {

class PosixWatcher final : public Watcher {
 public:
  PosixWatcher() : fanotify_(CreateFanotifyWatcher()) {}

  Status Add(const std::string& path) override {
    if (fanotify_ && fanotify_->Add(path).ok()) {
      method_ = fanotify_->method();
      return Status::Ok();
    }
    if (!inotify_) inotify_ = CreateInotifyWatcher();
    method_ = inotify_->method();
    return inotify_->Add(path);
  }

  Status Wait(std::chrono::milliseconds timeout, std::vector<WatchEvent>* events) override {
    const size_t before = events->size();
    Status status = TakeReady(events);
    if (!status.ok() || events->size() > before) return status;
    std::vector<pollfd> ready;
    for (const PollableWatcher* watcher : {fanotify_.get(), inotify_.get()}) {
      if (watcher != nullptr) ready.push_back({watcher->descriptor(), POLLIN, 0});
    }
    const int polled = ::poll(ready.data(), ready.size(), static_cast<int>(timeout.count()));
    if (polled < 0 && errno != EINTR) return FromErrno(errno, method_);
    if (polled <= 0) return Status::Ok();
    return TakeReady(events);
  }

  size_t folders() const override {
    return (fanotify_ ? fanotify_->folders() : 0) + (inotify_ ? inotify_->folders() : 0);
  }
  std::string method() const override { return method_; }

 private:
  // What both have to tell now, without waiting.
  Status TakeReady(std::vector<WatchEvent>* events) {
    for (PollableWatcher* watcher : {fanotify_.get(), inotify_.get()}) {
      if (watcher == nullptr) continue;
      const Status status = watcher->Wait(std::chrono::milliseconds(0), events);
      if (!status.ok()) return status;
    }
    return Status::Ok();
  }

  std::unique_ptr<PollableWatcher> fanotify_;
  std::unique_ptr<PollableWatcher> inotify_;
  std::string method_ = "inotify";
};

}  // namespace

std::unique_ptr<Watcher> CreateNativeWatcher() {
  return std::make_unique<PosixWatcher>();
}

}  // namespace quelix
