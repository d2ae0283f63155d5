// The two Linux watchers and how the one a watch uses is chosen (posix_watcher.cpp): fanotify
// where the system lets this process mark a whole file system (root, or CAP_SYS_ADMIN with
// CAP_DAC_READ_SEARCH), inotify otherwise and for the folders fanotify cannot take.
#pragma once

#include <memory>

#include "platform/watcher.h"

namespace quelix {

// A watcher whose changes wait on one descriptor, so that a watch kept by two can wait on both.
class PollableWatcher : public Watcher {
 public:
  virtual int descriptor() const = 0;
};

std::unique_ptr<PollableWatcher> CreateInotifyWatcher();
// Null where the system refuses fanotify to this process.
std::unique_ptr<PollableWatcher> CreateFanotifyWatcher();

}  // namespace quelix
