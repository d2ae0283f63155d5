// A front end without a screen for the headless driver: the lists are plain vectors, the status
// line and the message box are kept but not shown, and the log switch is checked.
#pragma once

#include <string>
#include <vector>

#include "app/front_end.h"

namespace quelix {

class BenchFrontEnd : public FrontEnd {
 public:
  explicit BenchFrontEnd(std::string root) : root_(std::move(root)) {}

  void ClearCandidates() override { candidates_.clear(); }
  void AppendCandidate(const std::string& path) override { candidates_.push_back(path); }
  size_t CandidateCount() const override { return candidates_.size(); }
  std::string Candidate(size_t index) const override { return candidates_[index]; }
  void HideCandidates() override {}
  void ClearInfected() override { infected_.clear(); }
  void AppendInfected(const std::string& path) override { infected_.push_back(path); }
  size_t InfectedCount() const override { return infected_.size(); }
  std::string Infected(size_t index) const override { return infected_[index]; }
  void ShowInfected() override {}
  void SetStatus(const std::string& text) override { status_ = text; }
  bool LogSwitch() const override { return true; }
  std::string SearchRoot() const override { return root_; }
  void SetBusyPointer(bool) override {}
  void ProcessEvents() override {}
  void ShowMessage(const std::string&, MessageIcon) override {}
  // A measure runs on: the originals are kept only where there is room for them.
  bool Ask(const std::string&) override { return true; }

  const std::vector<std::string>& infected() const { return infected_; }
  const std::string& status() const { return status_; }

 private:
  std::string root_;
  std::vector<std::string> candidates_;
  std::vector<std::string> infected_;
  std::string status_;
};

}  // namespace quelix
