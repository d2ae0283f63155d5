// The operating system's word that files changed below the folders a watch was asked for, behind
// one small interface: Linux fanotify (one mark per file system, where the process may) or inotify
// (a watch per folder), Windows ReadDirectoryChangesW (one per folder, with its subtree). Tests use
// FakeWatcher.
//
// A watcher tells names, never acts on them: what it tells is looked up again below the folder
// the command holds, without following links.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

namespace quelix {

struct WatchEvent {
  enum class Kind {
    kWritten,     // `name` in `folder` was closed after being written
    kMovedIn,     // `name` was moved into `folder` (from inside the watch or from outside)
    kFound,       // `name` was there when its folder came under the watch after the start
    kNotWatched,  // the folder `folder` (`name` empty) could not be watched, for `reason`
    kMissed,      // the system dropped changes (its queue overflowed); `reason` says so
  };
  Kind kind;
  std::string folder;  // the full path of the folder, ending in the separator
  std::string name;
  std::string reason;
};

class Watcher {
 public:
  virtual ~Watcher() = default;

  // Starts watching the folder `path` and every folder below it on the same volume, and goes on
  // with the folders made or moved in later (reporting their files as kFound). Fails where
  // `path` itself cannot be watched; folders below it that cannot are told as kNotWatched.
  virtual Status Add(const std::string& path) = 0;

  // Waits until something changed or `timeout` passed, or a signal came, and appends what changed
  // to `*events`. Fails only where the system's service broke down.
  virtual Status Wait(std::chrono::milliseconds timeout, std::vector<WatchEvent>* events) = 0;

  // The folders watched now, each at a cost; none where the watch is of whole file systems.
  virtual size_t folders() const = 0;
  // How the watch is kept ("fanotify", "inotify", "ReadDirectoryChangesW"); after Add, how the
  // folder just added is.
  virtual std::string method() const = 0;
};

// The watcher of the platform the program was built for.
std::unique_ptr<Watcher> CreateNativeWatcher();

}  // namespace quelix
