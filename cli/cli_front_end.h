// The command line's front end: the lists held in memory, every result handed to the Reporter
// the moment the engine tells it, and a progress line redrawn in place on standard error (where
// that is a terminal) at most ten times a second: the folder searched, the file checked or the
// file being cleaned, with how far the command has come.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/clock_pace.h"
#include "app/listed_front_end.h"
#include "cli/options.h"
#include "cli/report.h"
#include "platform/console.h"
#include "platform/places.h"

namespace quelix {

class CommandController;

class CliFrontEnd final : public ListedFrontEnd {
 public:
  // Progress goes to `err` when `show_progress`; `console` says how wide it may be and whether
  // the user asked to stop.
  CliFrontEnd(std::ostream& err, Console& console, bool show_progress);

  // The controller that a stop request goes to, and what tells the bytes read so far.
  void Attach(CommandController* controller, std::function<uint64_t()> bytes_read);
  // Where the results go as they happen; with `found`, each entry of the infected list too.
  void ReportTo(Reporter* reporter, bool found) {
    reporter_ = reporter;
    report_found_ = found;
  }
  // The files the last command took in hand: those it read, or cleaned, and the one it was at
  // when it stopped.
  size_t taken() const { return checked_; }
  // Wipes the progress line, so that what follows starts on a clean line.
  void ClearProgress();

  void SetStatus(const std::string& text) override;
  void SetBusyPointer(bool busy) override;
  void ProcessEvents() override;
  void ShowMessage(const std::string&, MessageIcon) override {}
  // Nobody may be there to answer: the program takes no step the user did not ask for.
  bool Ask(const std::string&) override { return false; }
  void AppendInfected(const std::string& path) override;
  void Tell(const FileEvent& event) override;

 private:
  std::string ProgressLine() const;
  void Draw();

  std::ostream& err_;
  Console& console_;
  const bool show_progress_;
  CommandController* controller_ = nullptr;
  std::function<uint64_t()> bytes_read_;
  Reporter* reporter_ = nullptr;
  bool report_found_ = false;
  enum class Phase { kSearching, kScanning, kCleaning };
  Phase phase_ = Phase::kSearching;
  size_t checked_ = 0;  // files read, or files taken in hand to be cleaned
  std::string folder_;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point drawn_;
  ClockPace clock_pace_;
  uint64_t bytes_at_start_ = 0;
  size_t drawn_width_ = 0;
};

// Opens the event log the options ask for: the file given, none, or the first of the usual
// places. False, told on `err`, only where a log file given cannot be opened; a usual place
// that cannot be opened is told and the command runs without a log.
bool OpenEventLog(CommandController& controller, const CliOptions& options, Places& places,
                  std::ostream& err);

// After a Remove that did not run for want of room to keep the originals: says so on `err`,
// with `outcome` (what became of the removal, "Nothing is removed") and how to go on.
void TellBackupShortage(const CommandController& controller, const std::string& outcome,
                        std::ostream& err);

}  // namespace quelix
