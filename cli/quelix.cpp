#include "cli/quelix.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>

#include "app/controller.h"
#include "app/outcome.h"
#include "cli/backup_commands.h"
#include "cli/cli_front_end.h"
#include "cli/options.h"
#include "cli/report.h"
#include "cli/shell_pattern.h"
#include "cli/watch.h"
#include "runtime/shown_name.h"

namespace quelix {
namespace {

// What all the PATHs came to.
struct Tally {
  size_t checked = 0;
  std::set<std::string> infected;
  size_t unreadable = 0;
  size_t unsearched = 0;    // folders below the PATHs
  size_t roots_failed = 0;  // PATHs that could not be searched at all
  bool found = false;       // the virus, in a file or the registry
  bool left = false;        // something of it could not be cleaned or deleted
  bool no_room = false;     // no room to keep the originals, so nothing more was removed
};

// Tells what the removal did to the registry (the files were told as they were cleaned: a value
// not deleted after one file is tried again after the next, so its outcome is known only now);
// true when something of the virus is left.
bool ReportRemoval(const ScanReport& scan, const RemovalReport& removal, Reporter& reporter) {
  for (const RegistryValueRef& value : removal.registry_deleted) reporter.RegistryDeleted(value);
  const Leftovers left = WhatIsLeft(scan, removal);
  for (const RegistryValueFailure& f : left.values) {
    reporter.RegistryNotDeleted(f.value, Reason(f.status));
  }
  return left.any();
}

class Run {
 public:
  Run(const CliOptions& options, std::ostream& out, std::ostream& err, const CliServices& services)
      : options_(options),
        err_(err),
        services_(services),
        reporter_(out, err, options.json, options.quiet),
        front_(err, services.console, !options.quiet && services.console.ErrorIsTerminal()),
        controller_(front_, services.fs, Registry()),
        excludes_(options.excludes) {
    if (!options.no_backup) controller_.KeepOriginalsIn(services.places.BackupFolder(), true);
    front_.Attach(&controller_, [this] { return controller_.engine().bytes_read(); });
    front_.ReportTo(&reporter_, options.command == CliOptions::Command::kScan);
    if (!excludes_.empty()) {
      controller_.Exclude(
          [this](const std::string& relative) { return excludes_.Match(relative); });
    }
    // The front end draws at most ten times a second on its own; every yield lets it see a
    // request to stop at once.
    controller_.SetYieldInterval(std::chrono::milliseconds(0));
  }

  int Go();

 private:
  RegistryOpener Registry() {
    if (options_.no_registry) return [](Directory&) { return nullptr; };
    // A tree made of one file holds no registry.
    return [this](Directory& root) -> std::unique_ptr<quelix::Registry> {
      if (!controller_.engine().tree().only_file().empty()) return nullptr;
      return services_.open_registry(root);
    };
  }
  // Runs the command on one PATH; false when the user stopped the program.
  bool OnePath(const std::string& path);
  void Summary(std::chrono::steady_clock::time_point start, int status, bool stopped);
  int ExitStatus() const;
  // Where the originals are, for the user who may want them back.
  void TellKept();

  const CliOptions& options_;
  std::ostream& err_;
  const CliServices& services_;
  Reporter reporter_;
  CliFrontEnd front_;
  CommandController controller_;
  const ExcludePatterns excludes_;
  Tally tally_;
};

bool Run::OnePath(const std::string& path) {
  // The scan opens the PATH, once: everything after works from the folder it holds.
  front_.SetRoot(path);
  if (controller_.Scan() == CommandResult::kStopped) return false;
  const ScanReport& scan = controller_.engine().scan_report();
  front_.ClearProgress();
  if (!scan.root_searched) {
    reporter_.RootUnsearched(path, Reason(scan.root_status));
    ++tally_.roots_failed;
    return true;
  }
  tally_.checked += scan.candidates;
  tally_.unreadable += scan.unreadable;
  tally_.unsearched += scan.unsearched;
  tally_.infected.insert(front_.infected().begin(), front_.infected().end());
  tally_.found = tally_.found || scan.infected > 0 || !scan.registry_found.empty();
  if (options_.command == CliOptions::Command::kScan) {
    for (const RegistryValueRef& value : scan.registry_found) reporter_.RegistryFound(value);
    return true;
  }
  const CommandResult removed = controller_.Remove();
  if (removed == CommandResult::kStopped) return false;
  front_.ClearProgress();
  if (removed == CommandResult::kCancelled) {
    TellBackupShortage(controller_, "Nothing more is removed", err_);
    tally_.no_room = true;
    return true;
  }
  reporter_.Kept(controller_.backup_run());
  for (const OtherNamesLeft& left : controller_.engine().removal().other_names_left) {
    reporter_.NamesLeft(left, path);
  }
  tally_.left = ReportRemoval(scan, controller_.engine().removal(), reporter_) || tally_.left;
  return true;
}

void Run::Summary(std::chrono::steady_clock::time_point start, int status, bool stopped) {
  RunCounts counts;
  counts.command = options_.command == CliOptions::Command::kScan ? "scan" : "remove";
  counts.checked = tally_.checked;
  counts.infected = tally_.infected.size();
  counts.unreadable = tally_.unreadable;
  counts.unsearched = tally_.unsearched + tally_.roots_failed;
  counts.skipped = reporter_.skipped();
  counts.cleaned = reporter_.cleaned();
  counts.not_cleaned = reporter_.not_cleaned();
  counts.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  counts.stopped = stopped;
  counts.exit_status = status;
  reporter_.Summary(counts);
}

int Run::ExitStatus() const {
  if (options_.command == CliOptions::Command::kScan) {
    if (tally_.found) return 1;
    return tally_.unreadable + tally_.unsearched + tally_.roots_failed > 0 ? 2 : 0;
  }
  // What was not looked at may hold the virus still: nothing can be vouched for, so this wins
  // over what the removal left.
  if (tally_.no_room || tally_.unreadable + tally_.unsearched + tally_.roots_failed > 0) return 2;
  return tally_.left ? 1 : 0;
}

void Run::TellKept() {
  if (controller_.backup_run().empty()) return;
  err_ << "the originals are kept in " << ShownName(controller_.backup_run())
       << "; quelix restore puts them back\n";
}

int Run::Go() {
  if (!OpenEventLog(controller_, options_, services_.places, err_)) return 2;
  const auto start = std::chrono::steady_clock::now();
  for (const std::string& path : options_.paths) {
    if (tally_.no_room) break;
    if (!OnePath(path)) {
      front_.ClearProgress();
      TellKept();
      // What was done before the stop, for the user and for the script that reads the JSON.
      Summary(start, kInterrupted, true);
      err_ << "quelix: stopped; every file is either as it was or cleaned\n";
      return kInterrupted;
    }
  }
  TellKept();
  const int status = ExitStatus();
  // A quiet run says nothing where nothing was found and nothing went wrong.
  if (!options_.quiet || tally_.found || status != 0) Summary(start, status, false);
  return status;
}

}  // namespace

int RunQuelix(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const CliServices& services) {
  CliOptions options;
  std::string error;
  if (!ParseOptions(args, &options, &error)) {
    // The error names the argument, which may be a file name a script passed on.
    err << "quelix: " << ShownName(error) << " (try quelix --help)\n";
    return 2;
  }
  if (options.command == CliOptions::Command::kHelp) {
    out << HelpText();
    return 0;
  }
  if (options.command == CliOptions::Command::kVersion) {
    out << "quelix " << QUELIX_VERSION << '\n';
    return 0;
  }
  if (options.command == CliOptions::Command::kRestore) {
    return RunRestore(options.paths.empty() ? "" : options.paths.front(), out, err, services);
  }
  if (options.command == CliOptions::Command::kBackups) {
    return RunBackups(options.prune_days, out, err, services);
  }
  if (options.command == CliOptions::Command::kWatch) {
    return RunWatch(options, out, err, services);
  }
  Run run(options, out, err, services);
  return run.Go();
}

}  // namespace quelix
