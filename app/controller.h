// The command controller: runs Scan and Remove for every front end (the two windows, the headless
// driver, the command-line program) and owns the rules that must not drift between them: a
// command pressed while another runs is ignored; a close request during Scan stops it at its next
// yield, during Remove after the file being cleaned; the last scan's state and counts; the final
// status and message texts; and the event log.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/clock_pace.h"
#include "app/event_log.h"
#include "app/front_end.h"
#include "app/outcome.h"
#include "engine/backup_store.h"
#include "engine/engine.h"
#include "platform/file_system.h"
#include "platform/places.h"

namespace quelix {

enum class CommandResult {
  kDone,       // the command ran to its end
  kIgnored,    // another command was running, or the front end is closing
  kStopped,    // a close request stopped it; the log is closed and the front end should end now
  kCancelled,  // the user chose not to run it (there was no room to keep the originals)
};

struct Message {
  std::string text;
  MessageIcon icon = MessageIcon::kInformation;
};

class CommandController : private CommandHost {
 public:
  // `front` and `fs` must outlive the controller. `open_registry` opens the registry a removal
  // repairs: the native one in the programs (linked from the platform's registry library, not
  // by the engine), a fake or none in tests.
  CommandController(FrontEnd& front, FileSystem& fs, RegistryOpener open_registry);
  ~CommandController() override;
  CommandController(const CommandController&) = delete;
  CommandController& operator=(const CommandController&) = delete;

  // Opens the event log at the first of `places` that opens (created when absent; never through
  // a link, never a pipe or device). Returns the last failure when none opens; the program then
  // works without a log.
  Status OpenLog(const std::vector<LogPlace>& places);
  const EventLog& log() const { return log_; }
  // Writes an entry of the front end's own (a watch's start) to the event log, at once.
  void LogEntry(const std::string& entry);
  // The entry the log ends with, written just before it closes, however that comes: a stop, or
  // the end of the controller (a watch's end). None unless set.
  void EndLogWith(std::string entry) { last_entry_ = std::move(entry); }

  CommandResult Scan();
  CommandResult Remove();
  // The watch's check of `paths`, files below the front end's search root that just changed
  // (see Engine::CheckCommand); a Remove after it cleans what it found.
  CommandResult Check(const std::vector<std::string>& paths, const TreeIdentity* expected);

  // The user asks to close. Returns true when no command runs: the log is then closed and the
  // front end ends now. Otherwise the running command stops by its rule and returns kStopped; a
  // removal stopped so is logged "Virus removal stopped: " and `why`.
  bool RequestClose(const std::string& why = "the window was closed.");
  bool running() const { return running_; }

  // Has Remove keep every original it replaces in a run folder in `folder` (see BackupStore);
  // unless called, nothing is kept. Each Remove makes a run of its own, or with `one_run` all
  // the Removes of this controller add to one.
  void KeepOriginalsIn(const std::string& folder, bool one_run = false);
  // The run folder the originals were last kept in, "" where none was kept.
  std::string backup_run() const {
    return store_ && store_->kept() > 0 ? store_->run() : std::string();
  }
  // Why the last Remove could not keep the originals for want of room, "" where it could.
  const std::string& backup_shortage() const { return backup_shortage_; }

  // Has every Scan leave out what `exclude` holds true for (see CandidateSearch::Exclude).
  void Exclude(std::function<bool(const std::string& relative)> exclude) {
    engine_->search().Exclude(std::move(exclude));
  }

  // The least time between two yields that let the front end process events (15 ms unless set).
  void SetYieldInterval(std::chrono::milliseconds interval);

  const Engine& engine() const { return *engine_; }
  // What the status line shows once the last command ended.
  const std::string& final_status() const { return final_status_; }
  // The last Remove command's message box.
  const Message& message() const { return message_; }

 private:
  // The engine's host: the log is the controller's own; a yield lets the front end process
  // events once the yield interval has passed since the last time, and stops the command once a
  // close was asked for. A command starts the interval anew, from the click just taken in.
  void WriteLog(const std::string& entry) override;
  void FlushLog() override;
  bool YieldPoint() override;

  // Writes the last entry, where one is set and the log is still open, and closes the log.
  void CloseLog();
  // Ends a command; on a close request closes the log and tells kStopped.
  CommandResult Finish();
  // Shows the outcome of a removal in the status line and the message box.
  void Confirm(const RemovalOutcome& outcome);
  bool LogIntact() const { return log_.is_open() && log_.first_failure().ok(); }
  LogState State() const;
  // Before a removal that keeps the originals: false, with backup_shortage() set, where keeping
  // them (and, on the tree's own volume, the largest cleaned copy) would leave less than 5 % of
  // the backup volume free (or need more than is free).
  bool RoomToKeep();
  // The bytes on disk of the files the last scan listed and of the offline hives it found the
  // virus in; `*largest` gets the largest of them.
  uint64_t BytesToKeep(uint64_t* largest);
  // Before a removal: the keeper of the originals, where they are to be kept and there is room
  // or the user agrees to go on without them (`backup->declined`); false where the user would
  // rather not remove the virus now.
  bool PrepareBackup(BackupState* backup, OriginalKeeper** keeper);
  // Before the log `path` in the program's state folder `folder` is opened: fails where another
  // user could change the folder, or made or may read the log.
  Status CheckStateLog(const std::string& folder, const std::string& path);

  FrontEnd& front_;
  FileSystem& fs_;
  EventLog log_;
  std::unique_ptr<Engine> engine_;
  std::chrono::milliseconds yield_interval_{15};
  std::chrono::steady_clock::time_point last_events_;
  ClockPace clock_pace_;
  bool log_wanted_ = false;  // the front end asked for a log (a headless run may not)
  bool running_ = false;
  bool closing_ = false;
  std::string close_reason_;
  std::string last_entry_;
  std::string final_status_;
  Message message_;
  std::optional<std::string> backup_folder_;
  bool one_run_ = false;
  std::unique_ptr<BackupStore> store_;
  std::string backup_shortage_;
};

}  // namespace quelix
