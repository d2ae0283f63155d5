// A watcher for tests: hands out the batches of events a test lays down, one batch per wait, and
// then nothing; says when the watch has waited its longest with nothing left to check.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/watcher.h"

namespace quelix {

class FakeWatcher : public Watcher {
 public:
  std::deque<std::vector<WatchEvent>> batches;
  std::vector<std::string> added;
  // Runs before each batch is handed out: the tree changes while the watch waits.
  std::function<void()> before_batch;
  // Where set, Add fails with it.
  Status add_status = Status::Ok();

  Status Add(const std::string& path) override {
    if (add_status.ok()) added.push_back(path);
    return add_status;
  }
  Status Wait(std::chrono::milliseconds timeout, std::vector<WatchEvent>* events) override {
    if (!batches.empty()) {
      if (before_batch) before_batch();
      *events = std::move(batches.front());
      batches.pop_front();
      return Status::Ok();
    }
    // Nothing pending waits the longest, which is more than a burst takes to settle.
    idle = timeout >= std::chrono::milliseconds(250);
    std::this_thread::sleep_for(timeout);
    return Status::Ok();
  }
  size_t folders() const override { return added.size(); }
  std::string method() const override { return "fake"; }

  // Every batch was handed out and the watch then waited with nothing to check.
  bool idle = false;
};

}  // namespace quelix
