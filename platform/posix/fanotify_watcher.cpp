// The watch on Linux through fanotify: one mark on each file system that holds a folder asked
// for, so the watch keeps nothing per folder and starts at once over any tree. The system reports
// every change on the file system, as the handle of the folder it happened in and the name, so
// each folder is placed once (opened by its handle, its path read from the descriptor, and the
// same folder found again from the held top one name at a time) and remembered, below a top or
// below none, in a bounded table that is forgotten whenever a folder moves anywhere on the file
// system. A folder made or moved in is searched once, as the inotify watch does.
#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "platform/posix/owned_fd.h"
#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_watchers.h"
#include "platform/posix/watched_folders.h"

namespace quelix {
namespace {

// Files closed after writing or moved in; folders made or moved in (FAN_ONDIR). Files made are
// reported too (FAN_CREATE has no folders-only form) and passed over, as they are checked once
// written, but for a name linked to a file that has another: nothing else tells it.
constexpr uint64_t kEvents = FAN_CLOSE_WRITE | FAN_MOVED_TO | FAN_CREATE | FAN_ONDIR;
// Folders whose place is remembered; on a busy file system most lie below no top.
constexpr size_t kPlacesKept = 1024;
// Reads of the queue in one wait: writers elsewhere on the file system may fill it as fast as it
// is read, and the watch must come back to check what settled and to see a stop.
constexpr int kReadsPerWait = 16;

struct MarkedTop {
  HeldTop held;
  std::string volume_id;  // the file system's id, as events carry it
};

// Where a folder was found: below tops_[top] as `folder`, or below none (top < 0). Below a top
// with no `folder`: its path is longer than the system can tell.
struct Place {
  int top = -1;
  std::string folder;
};

// The folder and name an event came with, pointing into the read buffer.
struct EventRecord {
  std::string volume_id;
  file_handle* handle = nullptr;
  const char* name = nullptr;
};

std::string VolumeId(const void* fsid, size_t size) {
  return std::string(static_cast<const char*>(fsid), size);
}

// The path of the open `fd`, ending in '/', as this process's mounts show it; empty where it has
// none, and then `*too_long` where it has one longer than the system can tell.
std::string PathOf(int fd, bool* too_long) {
  char target[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t got = ::readlink(link.c_str(), target, sizeof target);
  *too_long = (got < 0 && errno == ENAMETOOLONG) || got >= static_cast<ssize_t>(sizeof target);
  if (got <= 0 || *too_long || target[0] != '/') return {};
  std::string path(target, static_cast<size_t>(got));
  if (path.back() != '/') path += '/';
  return path;
}

bool SameFile(int one, int other) {
  struct stat a {};
  struct stat b {};
  return ::fstat(one, &a) == 0 && ::fstat(other, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

// Whether the folder `dir` lies below `top`, by its parents, for a folder whose path is too long
// to be read. Each level takes two bytes of a path at least, which bounds the climb.
bool Below(int dir, const HeldTop& top) {
  OwnedFd at(::dup(dir));
  for (int level = 0; at.valid() && level < PATH_MAX / 2; ++level) {
    OwnedFd parent(::openat(at.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!parent.valid() || SameFile(parent.get(), at.get())) return false;  // the root
    if (SameFile(parent.get(), top.fd.get())) return true;
    at = std::move(parent);
  }
  return false;
}

// The folder-and-name record of `event`, whose bytes begin at `bytes`, or one with no handle.
EventRecord RecordOf(const fanotify_event_metadata& event, char* bytes) {
  const size_t length = event.event_len;
  for (size_t at = event.metadata_len; at + sizeof(fanotify_event_info_header) <= length;) {
    char* record = bytes + at;
    const auto* header = reinterpret_cast<fanotify_event_info_header*>(record);
    if (header->len < sizeof *header || at + header->len > length) break;
    at += header->len;
    if (header->info_type != FAN_EVENT_INFO_TYPE_DFID_NAME ||
        header->len < sizeof(fanotify_event_info_fid) + sizeof(file_handle)) {
      continue;
    }
    auto* info = reinterpret_cast<fanotify_event_info_fid*>(record);
    auto* handle = reinterpret_cast<file_handle*>(info->handle);
    const size_t name_at =
        sizeof(fanotify_event_info_fid) + sizeof(file_handle) + handle->handle_bytes;
    if (name_at >= header->len ||
        std::memchr(record + name_at, 0, header->len - name_at) == nullptr) {
      break;
    }
    return {VolumeId(&info->fsid, sizeof info->fsid), handle, record + name_at};
  }
  return {};
}

// What tells the folder of `record` apart from every other on every file system.
std::string KeyOf(const EventRecord& record) {
  std::string key = record.volume_id;
  key.append(reinterpret_cast<const char*>(&record.handle->handle_type),
             sizeof record.handle->handle_type);
  key.append(reinterpret_cast<const char*>(record.handle->f_handle), record.handle->handle_bytes);
  return key;
}

bool PlainName(const char* name) {
  return name[0] != '\0' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
         std::strchr(name, '/') == nullptr;
}

class FanotifyWatcher final : public PollableWatcher {
 public:
  explicit FanotifyWatcher(OwnedFd fd) : fd_(std::move(fd)) {}

  Status Add(const std::string& path) override;
  Status Wait(std::chrono::milliseconds timeout, std::vector<WatchEvent>* events) override;
  // Nothing is kept per folder.
  size_t folders() const override { return 0; }
  std::string method() const override { return "fanotify"; }
  int descriptor() const override { return fd_.get(); }

 private:
  // Takes in `event`, whose bytes (with its records) begin at `bytes`.
  void Take(const fanotify_event_metadata& event, char* bytes, std::vector<WatchEvent>* events);
  // Where the folder `record` names lies now, remembered under `key`.
  Place Locate(const EventRecord& record, const std::string& key);
  // Where the folder lies, looked at through each top on its file system; false where it could
  // not be opened (gone, or a passing shortage) and nothing is to be remembered.
  bool Find(const EventRecord& record, Place* place) const;
  // Searches `folder`, below `top`, and the folders below it on its volume, telling each file
  // as kFound.
  static void Search(const HeldTop& top, const std::string& folder,
                     std::vector<WatchEvent>* events);

  OwnedFd fd_;
  std::vector<MarkedTop> tops_;
  std::unordered_map<std::string, Place> places_;
  // The folders below a top too deep to name that were told as not watched.
  std::unordered_set<std::string> too_deep_told_;
};

Status FanotifyWatcher::Add(const std::string& path) {
  std::string top = path;
  if (top.empty() || top.back() != '/') top += '/';
  OwnedFd dir(::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat info {};
  struct statfs volume {};
  if (!dir.valid() || ::fstat(dir.get(), &info) != 0 || ::fstatfs(dir.get(), &volume) != 0) {
    return FromErrno(errno, path);
  }
  // What events carry must open again: the file system gives handles, and this process may
  // open by them (CAP_DAC_READ_SEARCH).
  alignas(file_handle) unsigned char own[sizeof(file_handle) + MAX_HANDLE_SZ];
  auto* handle = reinterpret_cast<file_handle*>(own);
  handle->handle_bytes = MAX_HANDLE_SZ;
  int mount = 0;
  if (::name_to_handle_at(dir.get(), "", handle, &mount, AT_EMPTY_PATH) != 0) {
    return FromErrno(errno, path);
  }
  OwnedFd again(::open_by_handle_at(dir.get(), handle, O_PATH | O_CLOEXEC));
  if (!again.valid()) return FromErrno(errno, path);
  const std::string volume_id = VolumeId(&volume.f_fsid, sizeof volume.f_fsid);
  const bool marked = std::any_of(tops_.begin(), tops_.end(), [&](const MarkedTop& other) {
    return other.volume_id == volume_id;
  });
  if (!marked && ::fanotify_mark(fd_.get(), FAN_MARK_ADD | FAN_MARK_FILESYSTEM, kEvents, dir.get(),
                                 nullptr) != 0) {
    return FromErrno(errno, path);
  }
  tops_.push_back({{top, std::move(dir), info.st_dev}, volume_id});
  places_.clear();  // a folder placed below no top may lie below this one
  return Status::Ok();
}

bool FanotifyWatcher::Find(const EventRecord& record, Place* place) const {
  bool opened = false;
  for (size_t i = 0; i < tops_.size(); ++i) {
    const MarkedTop& top = tops_[i];
    if (top.volume_id != record.volume_id) continue;
    OwnedFd dir(
        ::open_by_handle_at(top.held.fd.get(), record.handle, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) continue;
    opened = true;
    // The paths are read now, so a top renamed since the start is still found; the folder is
    // then named from the top's path as asked for, as the engine reaches it from the held top.
    bool too_long = false;
    const std::string where = PathOf(dir.get(), &too_long);
    if (too_long && Below(dir.get(), top.held)) {
      *place = {static_cast<int>(i), {}};
      return true;
    }
    const std::string top_now = PathOf(top.held.fd.get(), &too_long);
    if (top_now.empty() || where.compare(0, top_now.size(), top_now) != 0) continue;
    const std::string folder = top.held.path + where.substr(top_now.size());
    // The path read may be stale (renamed meanwhile) or lead elsewhere (a bind mount): only the
    // same folder reached from the held top, without links, places it. A folder renamed
    // meanwhile is searched when its move is read.
    const OwnedFd reached = OpenFolderBelow(top.held, folder, O_PATH);
    if (reached.valid() && SameFile(reached.get(), dir.get())) {
      *place = {static_cast<int>(i), folder};
      return true;
    }
  }
  *place = {};
  return opened;
}

Place FanotifyWatcher::Locate(const EventRecord& record, const std::string& key) {
  const auto known = places_.find(key);
  if (known != places_.end()) return known->second;
  Place place;
  if (!Find(record, &place)) return place;
  if (places_.size() >= kPlacesKept) places_.clear();
  places_.emplace(key, place);
  return place;
}

void FanotifyWatcher::Search(const HeldTop& top, const std::string& folder,
                             std::vector<WatchEvent>* events) {
  std::vector<std::string> pending{folder};
  while (!pending.empty()) {
    const std::string next = std::move(pending.back());
    pending.pop_back();
    if (next.size() >= PATH_MAX) {
      events->push_back({WatchEvent::Kind::kNotWatched, next, {}, std::strerror(ENAMETOOLONG)});
      continue;
    }
    // A folder gone or swapped for a link meanwhile holds nothing to search.
    OwnedFd dir = OpenFolderBelow(top, next, O_RDONLY | O_NONBLOCK);
    struct stat info {};
    if (!dir.valid() || ::fstat(dir.get(), &info) != 0 || info.st_dev != top.volume) continue;
    ListFolder(next, std::move(dir), true, &pending, events);
  }
}

void FanotifyWatcher::Take(const fanotify_event_metadata& event, char* bytes,
                           std::vector<WatchEvent>* events) {
  const uint64_t mask = event.mask;
  if (mask & FAN_Q_OVERFLOW) {
    // The changes dropped may hold a folder's move, after which no place remembered can be
    // trusted: a folder taken for one outside the tree may have moved in.
    places_.clear();
    events->push_back(
        {WatchEvent::Kind::kMissed, {}, {}, "changes came faster than the system could tell them"});
    return;
  }
  const bool folder = (mask & FAN_ONDIR) != 0;
  // A folder moved anywhere changes the place of every folder below it.
  if (folder && (mask & FAN_MOVED_TO)) places_.clear();
  const EventRecord record = RecordOf(event, bytes);
  if (record.handle == nullptr || !PlainName(record.name)) return;
  const std::string key = KeyOf(record);
  const Place place = Locate(record, key);
  if (place.top < 0) return;
  const std::string name = record.name;
  if (place.folder.empty()) {
    // Told once for each such folder, as the inotify watch does, however often the places are
    // forgotten: the owner who writes there must not make the watch write a line each time.
    if (too_deep_told_.size() >= kPlacesKept) too_deep_told_.clear();
    if (too_deep_told_.insert(key).second) {
      events->push_back({WatchEvent::Kind::kNotWatched,
                         tops_[static_cast<size_t>(place.top)].held.path,
                         {},
                         std::string("a folder below it: ") + std::strerror(ENAMETOOLONG)});
    }
  } else if (folder) {
    Search(tops_[static_cast<size_t>(place.top)].held, place.folder + name + '/', events);
  } else if (mask & FAN_CLOSE_WRITE) {
    events->push_back({WatchEvent::Kind::kWritten, place.folder, name, {}});
  } else if ((mask & FAN_MOVED_TO) ||
             LinkedFile(tops_[static_cast<size_t>(place.top)].held, place.folder, name)) {
    events->push_back({WatchEvent::Kind::kMovedIn, place.folder, name, {}});
  }
}

Status FanotifyWatcher::Wait(std::chrono::milliseconds timeout, std::vector<WatchEvent>* events) {
  pollfd ready{fd_.get(), POLLIN, 0};
  const int polled = ::poll(&ready, 1, static_cast<int>(timeout.count()));
  if (polled < 0 && errno != EINTR) return FromErrno(errno, "fanotify");
  if (polled <= 0) return Status::Ok();
  alignas(fanotify_event_metadata) char buffer[64 * 1024];
  for (int round = 0; round < kReadsPerWait; ++round) {
    const ssize_t got = ::read(fd_.get(), buffer, sizeof buffer);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return Status::Ok();
    if (got <= 0) return FromErrno(errno, "fanotify");
    for (size_t at = 0; at + FAN_EVENT_METADATA_LEN <= static_cast<size_t>(got);) {
      // Events are 4-byte aligned, their 64-bit mask 8: the fixed part is copied out.
      fanotify_event_metadata event{};
      std::memcpy(&event, buffer + at, sizeof event);
      if (event.vers != FANOTIFY_METADATA_VERSION || event.event_len < FAN_EVENT_METADATA_LEN ||
          at + event.event_len > static_cast<size_t>(got)) {
        return {ErrorCode::kOther, "fanotify: events of an unknown form"};
      }
      if (event.fd >= 0) ::close(event.fd);
      Take(event, buffer + at, events);
      at += event.event_len;
    }
  }
  return Status::Ok();
}

}  // namespace

std::unique_ptr<PollableWatcher> CreateFanotifyWatcher() {
  OwnedFd fd(::fanotify_init(FAN_CLASS_NOTIF | FAN_REPORT_DFID_NAME | FAN_CLOEXEC | FAN_NONBLOCK,
                             O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return nullptr;
  return std::make_unique<FanotifyWatcher>(std::move(fd));
}

}  // namespace quelix
