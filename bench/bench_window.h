// A front end without a screen for the headless driver: the lists are plain vectors, the status
// line and the message box are kept but not shown, and the log switch is checked.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "app/listed_front_end.h"

namespace quelix {

class BenchFrontEnd : public ListedFrontEnd {
 public:
  explicit BenchFrontEnd(std::string root) { SetRoot(std::move(root)); }

  void SetStatus(const std::string& text) override {
    // The first candidate's status ends the search: where a command's time goes.
    if (!scan_started_ && text.rfind("Scanning ", 0) == 0) {
      scan_started_ = std::chrono::steady_clock::now();
    }
    status_ = text;
  }
  void SetBusyPointer(bool) override {}
  void ProcessEvents() override {}
  void ShowMessage(const std::string&, MessageIcon) override {}
  // A measure runs on: the originals are kept only where there is room for them.
  bool Ask(const std::string&) override { return true; }

  const std::string& status() const { return status_; }
  // When the scan of the first command reached its first candidate, if it did.
  const std::optional<std::chrono::steady_clock::time_point>& scan_started() const {
    return scan_started_;
  }

 private:
  std::string status_;
  std::optional<std::chrono::steady_clock::time_point> scan_started_;
};

}  // namespace quelix
