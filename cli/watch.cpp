#include "cli/watch.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <unordered_map>

#include "app/controller.h"
#include "app/outcome.h"
#include "cli/cli_front_end.h"
#include "cli/report.h"
#include "cli/shell_pattern.h"
#include "engine/patterns.h"
#include "runtime/shown_name.h"

namespace quelix {
namespace {

using Clock = std::chrono::steady_clock;

// Events of one file closer than this to each other are one change, checked once this long after
// the last: a page uploaded in pieces, or written and then renamed into place.
constexpr auto kQuiet = std::chrono::milliseconds(200);
// A file written again and again, never quiet that long, is checked all the same this long after
// its first change: a writer's pace must not keep a page from its check.
constexpr auto kLongestDelay = std::chrono::milliseconds(1000);
// The longest wait, so that a stop request is seen where no signal cut the wait short.
constexpr auto kLongestWait = std::chrono::milliseconds(250);
constexpr char kStopped[] = "the watch was stopped";

struct WatchedRoot {
  std::string path;  // absolute, ending in the separator
  TreeIdentity identity;
};

// A file whose changes have not settled yet.
struct Pending {
  size_t root;
  Clock::time_point first;
  Clock::time_point last;
  bool ours = false;  // only the watch's own cleaning changed it
};

// When a pending file is checked: once its changes settled, or once it waited its longest.
Clock::time_point Due(const Pending& pending) {
  return std::min(pending.last + kQuiet, pending.first + kLongestDelay);
}

// What the watch met, for its exit status and summary.
struct WatchTally {
  size_t checked = 0;
  size_t infected = 0;
  size_t unreadable = 0;
  size_t unsearched = 0;  // folders not watched, changes not seen, a PATH no longer there
  size_t unchecked = 0;   // files changed, not checked before a stop
  bool found = false;
  bool left = false;     // something found could not be cleaned, or other names still hold it
  bool no_room = false;  // the originals could not be kept, so nothing was cleaned
};

class Watch {
 public:
  Watch(const CliOptions& options, std::ostream& out, std::ostream& err,
        const CliServices& services)
      : options_(options),
        err_(err),
        services_(services),
        reporter_(out, err, options.json, options.quiet),
        front_(err, services.console, !options.quiet && services.console.ErrorIsTerminal()),
        controller_(front_, services.fs, [](Directory&) { return nullptr; }),
        watcher_(services.open_watcher()) {
    if (!options.no_backup) controller_.KeepOriginalsIn(services.places.BackupFolder(), true);
    front_.Attach(&controller_, [this] { return controller_.engine().bytes_read(); });
    front_.ReportTo(&reporter_, !options.watch_removes);
    controller_.SetYieldInterval(std::chrono::milliseconds(0));
  }

  int Go();

 private:
  // Holds the folder `path` and puts it under watch; false, told, where it cannot be.
  bool StartOne(const std::string& path);
  // Takes in what changed; a change to a name in `cleaned` or to a copy made beside one is the
  // cleaning's own (it is checked again all the same).
  void Take(const std::vector<WatchEvent>& events, const std::set<std::string>& cleaned = {});
  // Takes in the changes the cleaning of the files the last Remove cleaned made itself.
  void TakeOwnChanges();
  // Whether `path`, a file below `root`, is a candidate the options do not leave out.
  bool Wanted(const std::string& root, const std::string& path) const;
  // Checks the files whose changes have settled by `now`; false when a stop request ended it.
  bool CheckSettled(Clock::time_point now);
  bool CheckFiles(size_t root, std::vector<std::string>& paths);
  // Cleans what the last check found; false when a stop request ended it.
  bool CleanFound();
  // After a check a stop cut short: names each file it had not read to its end and not found.
  void TellUnread();
  // Names `path`, a file changed that the watch did not check, for `reason`.
  void NotChecked(const std::string& path, const std::string& reason);
  // With --remove, after a stop: names each file found that was left as it was (not among the
  // files `removal`, where given, worked).
  void TellLeftByStop(const RemovalReport* removal);
  // At the end: takes in the changes told before it (after a stop only) and names each file
  // changed and not checked, for `reason`.
  void TellPending(bool take_told, const std::string& reason);
  std::chrono::milliseconds NextWait(Clock::time_point now) const;
  int ExitStatus() const;
  void Summary(Clock::time_point start, int status, bool stopped);

  const CliOptions& options_;
  std::ostream& err_;
  const CliServices& services_;
  Reporter reporter_;
  CliFrontEnd front_;
  CommandController controller_;
  std::unique_ptr<Watcher> watcher_;
  std::vector<WatchedRoot> roots_;
  std::unordered_map<std::string, Pending> pending_;
  WatchTally tally_;
};

bool Watch::StartOne(const std::string& path) {
  front_.SetRoot(path);
  if (controller_.Check({}, nullptr) == CommandResult::kStopped) return false;
  const SearchedTree& tree = controller_.engine().tree();
  const ScanReport& opened = controller_.engine().scan_report();
  Status status = opened.root_status;
  if (opened.root_searched && !tree.only_file().empty()) {
    status = {ErrorCode::kOther, "not a folder"};
  }
  const size_t before = watcher_->folders();
  if (status.ok()) status = watcher_->Add(tree.root());
  if (!status.ok()) {
    reporter_.RootUnsearched(path, Reason(status));
    return false;
  }
  roots_.push_back({tree.root(), tree.identity()});
  // The log tells the watch's start and end; between them only what is found and cleaned, so
  // that it grows with findings, not with every save.
  controller_.LogEntry("Watching " + ShownName(tree.root()));
  controller_.EndLogWith("Watch ended.");
  reporter_.Watching(tree.root(), watcher_->folders() - before, watcher_->method());
  return true;
}

void Watch::Take(const std::vector<WatchEvent>& events, const std::set<std::string>& cleaned) {
  const Clock::time_point now = Clock::now();
  for (const WatchEvent& event : events) {
    if (event.kind == WatchEvent::Kind::kNotWatched) {
      ++tally_.unsearched;
      reporter_.NotWatched(event.folder, event.reason);
      continue;
    }
    if (event.kind == WatchEvent::Kind::kMissed) {
      ++tally_.unsearched;
      reporter_.Missed(event.reason);
      continue;
    }
    const std::string path = event.folder + event.name;
    const auto after = cleaned.upper_bound(path);
    const bool ours = after != cleaned.begin() && path.rfind(*std::prev(after), 0) == 0;
    for (size_t i = 0; i < roots_.size(); ++i) {
      if (!Wanted(roots_[i].path, path)) continue;
      const auto known = pending_.find(path);
      const bool fresh = known == pending_.end();
      pending_[path] = {i, fresh ? now : known->second.first, now,
                        ours && (fresh || known->second.ours)};
      break;
    }
  }
}

void Watch::TakeOwnChanges() {
  std::set<std::string> cleaned;
  for (const RemovalResult& file : controller_.engine().removal().files) {
    if (file.result.cleaned) cleaned.insert(file.path);
  }
  // The system tells a change before the call that made it returns: all of the cleaning's own
  // are there to be read now.
  std::vector<WatchEvent> events;
  const Status read = watcher_->Wait(std::chrono::milliseconds(0), &events);
  Take(events, read.ok() ? cleaned : std::set<std::string>());
}

bool Watch::Wanted(const std::string& root, const std::string& path) const {
  const char separator = services_.fs.Separator();
  if (path.size() <= root.size() || path.compare(0, root.size(), root) != 0) return false;
  const size_t name_at = path.rfind(separator) + 1;
  if (MatchingPatterns(std::string_view(path).substr(name_at)) == 0) return false;
  std::string relative = path.substr(root.size());
  std::replace(relative.begin(), relative.end(), separator, '/');
  // A folder left out leaves out all below it, as the search does not enter it.
  for (size_t end = relative.find('/');; end = relative.find('/', end + 1)) {
    const std::string part = relative.substr(0, end);
    for (const std::string& pattern : options_.excludes) {
      if (ShellPatternMatches(pattern, part)) return false;
    }
    if (end == std::string::npos) return true;
  }
}

std::chrono::milliseconds Watch::NextWait(Clock::time_point now) const {
  auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kLongestWait);
  for (const auto& [path, pending] : pending_) {
    const auto due = std::chrono::ceil<std::chrono::milliseconds>(Due(pending) - now);
    wait = std::min(wait, std::max(due, std::chrono::milliseconds(0)));
  }
  return wait;
}

bool Watch::CheckSettled(Clock::time_point now) {
  std::vector<std::vector<std::string>> settled(roots_.size());
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (now < Due(it->second)) {
      ++it;
      continue;
    }
    settled[it->second.root].push_back(it->first);
    it = pending_.erase(it);
  }
  for (size_t i = 0; i < roots_.size(); ++i) {
    if (settled[i].empty() || CheckFiles(i, settled[i])) continue;
    // The stop came before the folders after this one were checked.
    for (size_t later = i + 1; later < roots_.size(); ++later) {
      for (const std::string& path : settled[later]) NotChecked(path, kStopped);
    }
    return false;
  }
  return true;
}

bool Watch::CheckFiles(size_t root, std::vector<std::string>& paths) {
  std::sort(paths.begin(), paths.end());
  front_.SetRoot(roots_[root].path);
  if (controller_.Check(paths, &roots_[root].identity) == CommandResult::kStopped) {
    // What the check found before the stop is told and left as it is; what it had still to
    // read was not looked at.
    front_.ClearProgress();
    tally_.found = tally_.found || !front_.infected().empty();
    tally_.left = tally_.left || !front_.infected().empty();
    TellUnread();
    TellLeftByStop(nullptr);
    return false;
  }
  const ScanReport& scan = controller_.engine().scan_report();
  front_.ClearProgress();
  if (!scan.root_searched) {
    reporter_.RootUnsearched(roots_[root].path, Reason(scan.root_status));
    ++tally_.unsearched;
    return true;
  }
  const std::vector<std::string>& infected = front_.infected();
  tally_.checked += scan.candidates;
  tally_.unreadable += scan.unreadable;
  tally_.infected += std::set<std::string>(infected.begin(), infected.end()).size();
  tally_.found = tally_.found || !infected.empty();
  if (!options_.watch_removes || infected.empty()) return true;
  return CleanFound();
}

bool Watch::CleanFound() {
  const CommandResult removed = controller_.Remove();
  if (removed == CommandResult::kIgnored) {
    // A stop asked for since the check: what it found stays infected.
    tally_.left = true;
    TellLeftByStop(nullptr);
    return false;
  }
  const RemovalReport& removal = controller_.engine().removal();
  // A stop before some of the files leaves them infected: they are not among those worked.
  tally_.left = tally_.left || removal.stopped ||
                WhatIsLeft(controller_.engine().scan_report(), removal).any();
  TakeOwnChanges();
  if (removed == CommandResult::kStopped) {
    front_.ClearProgress();
    TellLeftByStop(&removal);
    return false;
  }
  front_.ClearProgress();
  if (removed == CommandResult::kCancelled) {
    TellBackupShortage(controller_, "Nothing is removed", err_);
    tally_.no_room = true;
    return true;
  }
  reporter_.Kept(controller_.backup_run());
  return true;
}

void Watch::TellUnread() {
  const std::vector<std::string>& infected = front_.infected();
  // The file in hand at the stop was not read to its end.
  const size_t taken = front_.taken();
  for (size_t i = taken > 0 ? taken - 1 : 0; i < front_.CandidateCount(); ++i) {
    const std::string path = front_.Candidate(i);
    if (std::find(infected.begin(), infected.end(), path) == infected.end()) {
      NotChecked(path, kStopped);
    }
  }
}

void Watch::NotChecked(const std::string& path, const std::string& reason) {
  ++tally_.unchecked;
  reporter_.NotChecked(path, reason);
}

void Watch::TellLeftByStop(const RemovalReport* removal) {
  if (!options_.watch_removes) return;
  const std::vector<std::string>& infected = front_.infected();
  for (const std::string& path : std::set<std::string>(infected.begin(), infected.end())) {
    const auto worked = [&path](const RemovalResult& file) { return file.path == path; };
    if (removal && std::any_of(removal->files.begin(), removal->files.end(), worked)) continue;
    reporter_.Tell({FileEvent::Kind::kNotCleaned, path, kStopped});
  }
}

void Watch::TellPending(bool take_told, const std::string& reason) {
  std::vector<WatchEvent> told;
  // The system told of these before the stop: they are changes the watch met, to be named.
  if (take_told && watcher_->Wait(std::chrono::milliseconds(0), &told).ok()) Take(told);
  std::set<std::string> unchecked;
  for (const auto& [path, pending] : pending_) {
    if (!pending.ours) unchecked.insert(path);
  }
  for (const std::string& path : unchecked) NotChecked(path, reason);
}

int Watch::ExitStatus() const {
  const bool unseen = tally_.unreadable + tally_.unsearched > 0;
  // A stop before every change was checked is no failure: the files are named, and a service
  // manager counts the status as a clean stop. What was found or not looked at says more.
  const int otherwise = tally_.unchecked > 0 ? kInterrupted : 0;
  if (!options_.watch_removes) return tally_.found ? 1 : unseen ? 2 : otherwise;
  if (tally_.no_room || unseen) return 2;
  return tally_.left ? 1 : otherwise;
}

void Watch::Summary(Clock::time_point start, int status, bool stopped) {
  RunCounts counts;
  counts.command = "watch";
  counts.checked = tally_.checked;
  counts.infected = tally_.infected;
  counts.unreadable = tally_.unreadable;
  counts.unsearched = tally_.unsearched;
  counts.skipped = reporter_.skipped();
  counts.cleaned = reporter_.cleaned();
  counts.not_cleaned = reporter_.not_cleaned();
  counts.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  counts.stopped = stopped;
  counts.exit_status = status;
  reporter_.Summary(counts);
}

int Watch::Go() {
  if (!OpenEventLog(controller_, options_, services_.places, err_)) return 2;
  const Clock::time_point start = Clock::now();
  for (const std::string& path : options_.paths) {
    if (!StartOne(path)) return 2;
  }
  bool broke = false;
  while (!services_.console.StopRequested()) {
    std::vector<WatchEvent> events;
    const Status waited = watcher_->Wait(NextWait(Clock::now()), &events);
    Take(events);
    if (!waited.ok()) {
      err_ << "quelix: the watch broke down: " << ShownName(Reason(waited)) << '\n';
      controller_.EndLogWith("Watch ended: it broke down: " + ShownName(Reason(waited)));
      broke = true;
      break;
    }
    if (!CheckSettled(Clock::now())) break;
  }
  front_.ClearProgress();
  TellPending(!broke, broke ? "the watch broke down" : kStopped);
  if (tally_.unchecked > 0) {
    err_ << "quelix: " << tally_.unchecked << (tally_.unchecked == 1 ? " file" : " files")
         << " changed and not checked yet; quelix scan checks them\n";
  }
  if (!controller_.backup_run().empty()) {
    err_ << "the originals are kept in " << ShownName(controller_.backup_run())
         << "; quelix restore puts them back\n";
  }
  const int status = broke ? 2 : ExitStatus();
  Summary(start, status, !broke);
  return status;
}

}  // namespace

int RunWatch(const CliOptions& options, std::ostream& out, std::ostream& err,
             const CliServices& services) {
  Watch watch(options, out, err, services);
  return watch.Go();
}

}  // namespace quelix
