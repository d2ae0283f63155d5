// A front end without a screen for the headless driver: the lists are plain vectors, the status
// line and the message box are kept but not shown, and the log switch is checked.
#pragma once

#include <string>

#include "app/listed_front_end.h"

namespace quelix {

class BenchFrontEnd : public ListedFrontEnd {
 public:
  explicit BenchFrontEnd(std::string root) { SetRoot(std::move(root)); }

  void SetStatus(const std::string& text) override { status_ = text; }
  void SetBusyPointer(bool) override {}
  void ProcessEvents() override {}
  void ShowMessage(const std::string&, MessageIcon) override {}
  // A measure runs on: the originals are kept only where there is room for them.
  bool Ask(const std::string&) override { return true; }

  const std::string& status() const { return status_; }

 private:
  std::string status_;
};

}  // namespace quelix
