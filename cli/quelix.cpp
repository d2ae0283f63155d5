#include "cli/quelix.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>

#include "app/controller.h"
#include "cli/backup_commands.h"
#include "cli/cli_front_end.h"
#include "cli/options.h"
#include "runtime/shown_name.h"

namespace quelix {
namespace {

constexpr int kInterrupted = 130;

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

void PrintScan(const CliFrontEnd& front, const ScanReport& scan, std::ostream& out) {
  for (const std::string& path : front.infected()) out << ShownName(path) << '\n';
  for (const RegistryValueRef& value : scan.registry_found) {
    out << "registry " << ShownName(value.FullName()) << '\n';
  }
}

// The reason a value the scan found was neither deleted nor reported failed: the store or key
// it lies in could not be opened. Empty where the value was simply gone by then.
std::string UnopenedReason(const RemovalReport& removal, const RegistryValueRef& value) {
  for (const RegistryOpenFailure& f : removal.registry_unopened) {
    if (f.store == value.store && (f.key.empty() || f.key == value.key)) return Reason(f.status);
  }
  return {};
}

// Prints what the removal did; true when something of the virus is left.
bool PrintRemoval(const ScanReport& scan, const RemovalReport& removal, std::ostream& out) {
  bool left = removal.other_names > 0;
  for (const RemovalResult& r : removal.files) {
    if (r.result.cleaned) {
      out << "cleaned " << ShownName(r.path) << '\n';
    } else {
      out << "not cleaned " << ShownName(r.path) << ": " << ShownName(r.result.reason) << '\n';
      left = true;
    }
  }
  for (const RegistryValueRef& value : removal.registry_deleted) {
    out << "deleted " << ShownName(value.FullName()) << '\n';
  }
  for (const RegistryValueFailure& f : removal.registry_failed) {
    out << "not deleted " << ShownName(f.value.FullName()) << ": " << ShownName(Reason(f.status))
        << '\n';
    left = true;
  }
  for (const RegistryValueRef& value : scan.registry_found) {
    const auto& deleted = removal.registry_deleted;
    const auto& failed = removal.registry_failed;
    if (std::find(deleted.begin(), deleted.end(), value) != deleted.end()) continue;
    if (std::any_of(failed.begin(), failed.end(),
                    [&](const RegistryValueFailure& f) { return f.value == value; })) {
      continue;
    }
    const std::string reason = UnopenedReason(removal, value);
    if (reason.empty()) continue;
    out << "not deleted " << ShownName(value.FullName()) << ": " << ShownName(reason) << '\n';
    left = true;
  }
  return left;
}

class Run {
 public:
  Run(const CliOptions& options, std::ostream& out, std::ostream& err, const CliServices& services)
      : options_(options),
        out_(out),
        err_(err),
        services_(services),
        front_(err, services.console, !options.quiet && services.console.ErrorIsTerminal()),
        controller_(front_, services.fs, Registry()) {
    if (!options.no_backup) controller_.KeepOriginalsIn(services.places.BackupFolder(), true);
    front_.Attach(&controller_, [this] { return controller_.engine().bytes_read(); });
    // The front end draws at most ten times a second on its own; every yield lets it see a
    // request to stop at once.
    controller_.SetYieldInterval(std::chrono::milliseconds(0));
  }

  int Go();

 private:
  RegistryOpener Registry() const {
    if (options_.no_registry) return [](Directory&) { return nullptr; };
    return services_.open_registry;
  }
  bool OpenLog();
  // Runs the command on one PATH; false when the user stopped the program.
  bool OnePath(const std::string& path);
  void Summary(std::chrono::steady_clock::time_point start);
  int ExitStatus() const;

  const CliOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  const CliServices& services_;
  CliFrontEnd front_;
  CommandController controller_;
  Tally tally_;
};

bool Run::OpenLog() {
  if (options_.no_log) return true;
  if (!options_.log_file.empty()) {
    const Status opened = controller_.OpenLog({{options_.log_file, false}});
    if (opened.ok()) return true;
    err_ << "quelix: cannot open the log " << ShownName(options_.log_file) << ": "
         << ShownName(Reason(opened)) << '\n';
    return false;
  }
  if (!controller_.OpenLog(services_.places.LogPlaces()).ok()) {
    err_ << "quelix: no event log could be opened; events are not logged\n";
  }
  return true;
}

bool Run::OnePath(const std::string& path) {
  // The scan opens the PATH, once: everything after works from the folder it holds.
  front_.SetRoot(path);
  if (controller_.Scan() == CommandResult::kStopped) return false;
  const ScanReport& scan = controller_.engine().scan_report();
  if (!scan.root_searched) {
    front_.ClearProgress();
    err_ << "quelix: cannot search " << ShownName(path) << ": "
         << ShownName(Reason(scan.root_status)) << '\n';
    ++tally_.roots_failed;
    return true;
  }
  tally_.checked += scan.candidates;
  tally_.unreadable += scan.unreadable;
  tally_.unsearched += scan.unsearched;
  tally_.infected.insert(front_.infected().begin(), front_.infected().end());
  tally_.found = tally_.found || scan.infected > 0 || !scan.registry_found.empty();
  front_.ClearProgress();
  if (options_.command == CliOptions::Command::kScan) {
    PrintScan(front_, scan, out_);
    return true;
  }
  const CommandResult removed = controller_.Remove();
  if (removed == CommandResult::kStopped) return false;
  front_.ClearProgress();
  if (removed == CommandResult::kCancelled) {
    err_ << "quelix: " << controller_.backup_shortage()
         << " Nothing more is removed; --no-backup removes without keeping them.\n";
    tally_.no_room = true;
    return true;
  }
  tally_.left = PrintRemoval(scan, controller_.engine().removal(), out_) || tally_.left;
  return true;
}

void Run::Summary(std::chrono::steady_clock::time_point start) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char took[32];
  std::snprintf(took, sizeof took, "%.1f", seconds);
  err_ << "checked " << tally_.checked << " files in " << took << " s: " << tally_.infected.size()
       << " infected, " << tally_.unreadable << " could not be read";
  // Said only where it happened, so that the summary of a complete walk reads as it always did.
  const size_t unsearched = tally_.unsearched + tally_.roots_failed;
  if (unsearched > 0) {
    err_ << ", " << unsearched << (unsearched == 1 ? " folder" : " folders")
         << " could not be searched";
  }
  err_ << '\n';
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

int Run::Go() {
  if (!OpenLog()) return 2;
  const auto start = std::chrono::steady_clock::now();
  for (const std::string& path : options_.paths) {
    if (tally_.no_room) break;
    if (!OnePath(path)) {
      front_.ClearProgress();
      out_.flush();
      err_ << "quelix: stopped; every file is either as it was or cleaned\n";
      return kInterrupted;
    }
    out_.flush();
  }
  if (!controller_.backup_run().empty()) {
    const std::string run = ShownName(controller_.backup_run());
    out_ << "kept " << run << '\n';
    err_ << "the originals are kept in " << run << "; quelix restore puts them back\n";
  }
  Summary(start);
  return ExitStatus();
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
  Run run(options, out, err, services);
  return run.Go();
}

}  // namespace quelix
