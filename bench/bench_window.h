// A window without a screen for the headless driver: the lists are plain vectors, the status line
// is kept but not shown, the log switch is checked, and log entries go to an event log when one is
// open.
#pragma once

#include <string>
#include <vector>

#include "engine/window.h"
#include "window/event_log.h"

namespace quelix {

class BenchWindow : public Window {
 public:
  BenchWindow(std::string root, EventLog& log) : root_(std::move(root)), log_(log) {}

  void ClearCandidates() override { candidates_.clear(); }
  void AppendCandidate(const std::string& path) override { candidates_.push_back(path); }
  size_t CandidateCount() const override { return candidates_.size(); }
  std::string Candidate(size_t index) const override { return candidates_[index]; }
  void HideCandidates() override {}
  void AppendInfected(const std::string& path) override { infected_.push_back(path); }
  size_t InfectedCount() const override { return infected_.size(); }
  std::string Infected(size_t index) const override { return infected_[index]; }
  void ShowInfected() override {}
  void SetStatus(const std::string& text) override { status_ = text; }
  bool LogSwitch() const override { return true; }
  void WriteLog(const std::string& entry) override { log_.Write(entry); }
  void FlushLog() override { log_.Flush(); }
  std::string SearchRoot() const override { return root_; }
  void SetBusyPointer(bool) override {}
  bool YieldPoint() override { return true; }
  void ShowMessage(const std::string& text) override { messages_.push_back(text); }

  const std::vector<std::string>& infected() const { return infected_; }
  const std::vector<std::string>& messages() const { return messages_; }

 private:
  std::string root_;
  EventLog& log_;
  std::vector<std::string> candidates_;
  std::vector<std::string> infected_;
  std::vector<std::string> messages_;
  std::string status_;
};

}  // namespace quelix
