// A window that records what the engine, or the controller, does to it instead of drawing, for
// tests: it serves as the engine's Window and CommandHost, and as a front end of the controller.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "engine/window.h"

namespace quelix {

class FakeWindow : public FrontEnd, public CommandHost {
 public:
  // Everything the engine did, in order, as readable lines ("status: ...", "log: ...",
  // "candidate: ...", "infected: ...", "yield", "pointer: busy", "message: ...").
  std::vector<std::string> events;
  std::vector<std::string> candidates;
  std::vector<std::string> infected;
  std::vector<std::string> log;       // the entries that reached the log sink
  std::vector<std::string> statuses;  // every status text set
  std::vector<std::string> messages;  // every message box shown
  std::vector<MessageIcon> icons;     // and its icon
  // Called when a message box is shown, as a user would look at the screen before pressing OK.
  std::function<void()> on_message;
  std::vector<std::string> questions;  // every question asked
  bool answer = false;                 // and the answer the user gives
  std::string root;
  bool log_switch = true;
  bool candidates_visible = true;
  bool infected_visible = false;
  bool busy = false;
  int yields = 0;
  // Called at every yield point with the yield's number (from 1); returning false closes the
  // window (as the engine's Window). Tests use it to click or close in the middle of a command.
  std::function<bool(int)> on_yield;
  // As a front end: called whenever events are processed, with the number of the call (from 1).
  std::function<void(int)> on_events;
  // Drops the hooks above, for the same reason as FaultFileSystem::EndHooks.
  void EndHooks() {
    on_message = nullptr;
    on_yield = nullptr;
    on_events = nullptr;
  }

  void ClearCandidates() override;
  void AppendCandidate(const std::string& path) override;
  size_t CandidateCount() const override { return candidates.size(); }
  std::string Candidate(size_t index) const override { return candidates.at(index); }
  void HideCandidates() override;
  void ClearInfected() override;
  void AppendInfected(const std::string& path) override;
  size_t InfectedCount() const override { return infected.size(); }
  std::string Infected(size_t index) const override { return infected.at(index); }
  void ShowInfected() override;
  void SetStatus(const std::string& text) override;
  bool LogSwitch() const override { return log_switch; }
  void WriteLog(const std::string& entry) override;
  void FlushLog() override { events.push_back("flush log"); }
  std::string SearchRoot() const override { return root; }
  void SetBusyPointer(bool on) override;
  bool YieldPoint() override;
  void ProcessEvents() override;
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  bool Ask(const std::string& question) override;

  // The recorded events that start with `prefix`.
  std::vector<std::string> EventsStartingWith(const std::string& prefix) const;
};

}  // namespace quelix
