#include "app/controller.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "app/outcome.h"
#include "engine/room.h"
#include "runtime/shown_name.h"

namespace quelix {

CommandController::CommandController(FrontEnd& front, FileSystem& fs, RegistryOpener open_registry)
    : front_(front),
      fs_(fs),
      log_(fs),
      engine_(std::make_unique<Engine>(front, static_cast<CommandHost&>(*this), fs,
                                       std::move(open_registry))) {}

CommandController::~CommandController() {
  CloseLog();
}

Status CommandController::OpenLog(const std::vector<LogPlace>& places) {
  log_wanted_ = true;
  Status status(ErrorCode::kNotFound, "no place for the event log is known");
  for (const LogPlace& place : places) {
    const size_t folder_end = place.path.find_last_of(fs_.Separator());
    if (place.make_folder && folder_end != std::string::npos) {
      const std::string folder = place.path.substr(0, folder_end);
      status = fs_.CreateDirectories(folder);
      if (status.ok()) status = CheckStateLog(folder, place.path);
      if (!status.ok()) continue;
    }
    status = log_.Open(place.path);
    if (status.ok()) return status;
  }
  return status;
}

Status CommandController::CheckStateLog(const std::string& folder, const std::string& path) {
  // The log names the files of every tree searched: a log another user made, or a folder they
  // may change, would hand those names to them.
  Status status = fs_.CheckOwnFolder(folder);
  FileInfo info;
  const Status found = status.ok() ? fs_.GetInfo(path, &info) : status;
  if (status.ok() && found.ok()) status = fs_.CheckOwn(info, path, true);
  if (status.ok() && !found.ok() && found.code() != ErrorCode::kNotFound) status = found;
  return status;
}

CommandResult CommandController::Scan() {
  if (running_ || closing_) return CommandResult::kIgnored;
  running_ = true;
  last_events_ = std::chrono::steady_clock::now();
  front_.SetBusyPointer(true);
  const bool finished = engine_->ScanCommand();
  if (finished) {
    log_.Flush();
    // The command's last yield: what the user did while it ran is taken in as done during it.
    // The pointer and the final status change only after it, so a click made on seeing them is
    // not one of those.
    front_.ProcessEvents();
  }
  front_.SetBusyPointer(false);
  if (!finished) return Finish();
  final_status_ = ScanStatus(engine_->scan_report(), State());
  front_.SetStatus(final_status_);
  return Finish();
}

CommandResult CommandController::Check(const std::vector<std::string>& paths,
                                       const TreeIdentity* expected) {
  if (running_ || closing_) return CommandResult::kIgnored;
  running_ = true;
  last_events_ = std::chrono::steady_clock::now();
  front_.SetBusyPointer(true);
  const bool finished = engine_->CheckCommand(paths, expected);
  front_.SetBusyPointer(false);
  if (finished) log_.Flush();
  return Finish();
}

CommandResult CommandController::Remove() {
  if (running_ || closing_) return CommandResult::kIgnored;
  running_ = true;
  last_events_ = std::chrono::steady_clock::now();
  const ScanReport& scan = engine_->scan_report();
  const bool work = scan.done && (scan.infected > 0 || !scan.registry_found.empty());
  BackupState backup;
  OriginalKeeper* keeper = nullptr;
  if (work && !PrepareBackup(&backup, &keeper)) {
    log_.Write("Virus removal cancelled: " + backup_shortage_);
    log_.Flush();
    final_status_ = "Virus removal cancelled.";
    front_.SetStatus(final_status_);
    running_ = false;
    return closing_ ? Finish() : CommandResult::kCancelled;
  }
  front_.SetBusyPointer(true);
  const bool finished = engine_->RemoveCommand(keeper);
  if (!finished) front_.SetBusyPointer(false);
  if (keeper) backup.run = backup_run();
  if (!backup.run.empty() && front_.LogSwitch()) {
    log_.Write("The originals are kept in " + ShownName(backup.run));
  }
  if (!finished) {
    log_.Write("Virus removal stopped: " + close_reason_);
    return Finish();
  }
  log_.Flush();
  front_.ProcessEvents();
  front_.SetBusyPointer(false);
  if (!closing_) {
    Confirm(work ? RemovalMessage(scan, engine_->removal(), State(), backup) : NothingToRemove());
  }
  log_.Write("Virus removal complete.");
  log_.Flush();
  return Finish();
}

bool CommandController::PrepareBackup(BackupState* backup, OriginalKeeper** keeper) {
  backup_shortage_.clear();
  if (!backup_folder_) return true;
  if (!RoomToKeep()) {
    if (!front_.Ask(backup_shortage_ + " Remove the virus without keeping them?")) return false;
    backup->declined = true;
    log_.Write("The originals are not kept: " + backup_shortage_);
    return true;
  }
  if (!store_ || !one_run_) store_ = std::make_unique<BackupStore>(fs_, *backup_folder_);
  // A root not recorded now is recorded before the first original is kept, or that keep fails.
  IgnoreResult(store_->SetRoot(engine_->tree().identity()), "retried by every Keep");
  *keeper = store_.get();
  return true;
}

void CommandController::KeepOriginalsIn(const std::string& folder, bool one_run) {
  backup_folder_ = folder;
  one_run_ = one_run;
  store_.reset();
}

uint64_t CommandController::BytesToKeep(uint64_t* largest) {
  std::set<std::string> counted;
  uint64_t bytes = 0;
  *largest = 0;
  const auto count = [&](const FileInfo& info) {
    bytes += BytesOnDisk(info);
    *largest = std::max(*largest, BytesOnDisk(info));
  };
  for (size_t i = 0; i < front_.InfectedCount(); ++i) {
    const std::string path = front_.Infected(i);
    const FileInfo* info = engine_->scan().FoundAs(path);
    if (info && counted.insert(path).second) count(*info);
  }
  // An offline hive is kept whole; a live registry value takes a few bytes.
  for (const RegistryValueRef& value : engine_->scan_report().registry_found) {
    FileInfo info;
    if (counted.insert(value.store).second && fs_.GetInfo(value.store, &info).ok() &&
        info.is_regular) {
      count(info);
    }
  }
  return bytes;
}

bool CommandController::RoomToKeep() {
  const std::string place = NearestExisting(fs_, *backup_folder_);
  FileInfo info;
  uint64_t free = 0;
  uint64_t total = 0;
  // Where the space cannot be learnt, the backup itself will tell whether it fits.
  if (!fs_.GetInfo(place, &info).ok() || !fs_.FreeSpace(place, &free, &total).ok()) return true;
  uint64_t largest = 0;
  uint64_t need = BytesToKeep(&largest);
  // A cleaned copy takes room on the tree's volume only until it replaces its original, so one
  // at a time: where the originals are kept on that volume too, the largest copy comes on top.
  const SearchedTree& tree = engine_->tree();
  if (tree.is_open() && tree.identity().volume == info.volume) need += largest;
  if (need <= free && free - need >= total / kFreeShareDivisor) return true;
  const auto mb = [](uint64_t bytes) { return std::to_string(bytes >> 20) + " MB"; };
  backup_shortage_ = "There is not enough room to keep the originals: they take " +
                     mb(need + (1 << 20) - 1) + ", and " + ShownName(*backup_folder_) + " has " +
                     mb(free) + " free of " + mb(total) + ", of which 5 % must stay free.";
  return false;
}

void CommandController::Confirm(const RemovalOutcome& outcome) {
  message_ = {outcome.text, outcome.icon};
  final_status_ = FirstSentence(outcome.text);
  if (log_wanted_ && log_.is_open() && !LogIntact()) {
    final_status_ += "\r\nThe event log could not be written completely.";
  }
  front_.SetStatus(final_status_);
  front_.ShowMessage(message_.text, message_.icon);
}

LogState CommandController::State() const {
  return {log_wanted_, log_.is_open(), LogIntact(), log_.path()};
}

void CommandController::SetYieldInterval(std::chrono::milliseconds interval) {
  yield_interval_ = interval;
}

void CommandController::WriteLog(const std::string& entry) {
  log_.Write(entry);
}

void CommandController::LogEntry(const std::string& entry) {
  log_.Write(entry);
  log_.Flush();
}

void CommandController::CloseLog() {
  if (!last_entry_.empty()) log_.Write(last_entry_);
  log_.Close();
}

void CommandController::FlushLog() {
  log_.Flush();
}

bool CommandController::YieldPoint() {
  if (closing_) return false;
  // The search yields after every directory entry, far more often than anyone can act.
  if (yield_interval_.count() == 0) {
    front_.ProcessEvents();
    return !closing_;
  }
  if (!clock_pace_.Due()) return true;
  const auto now = std::chrono::steady_clock::now();
  clock_pace_.Read(now);
  if (now - last_events_ >= yield_interval_) {
    front_.ProcessEvents();
    last_events_ = std::chrono::steady_clock::now();
  }
  return !closing_;
}

bool CommandController::RequestClose(const std::string& why) {
  if (!closing_) close_reason_ = why;
  closing_ = true;
  if (running_) return false;
  CloseLog();
  return true;
}

CommandResult CommandController::Finish() {
  running_ = false;
  if (!closing_) return CommandResult::kDone;
  CloseLog();
  return CommandResult::kStopped;
}

}  // namespace quelix
