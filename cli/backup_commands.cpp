#include "cli/backup_commands.h"

#include "engine/backup_format.h"
#include "engine/backups.h"
#include "engine/restore.h"
#include "runtime/shown_name.h"

namespace quelix {
namespace {

// Prints one line for `item`; true when it is its original again.
bool PrintRestored(const RestoredItem& item, std::ostream& out) {
  switch (item.outcome) {
    case RestoreOutcome::kRestored:
      out << "restored " << ShownName(item.name)
          << (item.reason.empty() ? "" : " (" + ShownName(item.reason) + ")") << '\n';
      return true;
    case RestoreOutcome::kAsItWas:
      out << "as it was " << ShownName(item.name) << '\n';
      return true;
    case RestoreOutcome::kChanged:
    case RestoreOutcome::kFailed:
      out << "not restored " << ShownName(item.name) << ": " << ShownName(item.reason) << '\n';
      return false;
  }
  return false;
}

}  // namespace

int RunRestore(const std::string& which, std::ostream& out, std::ostream& err,
               const CliServices& services) {
  std::string run;
  Status status = FindRun(services.fs, services.places.BackupFolder(), which, &run);
  RestoreReport report;
  if (status.ok()) status = RestoreRun(services.fs, run, services.open_registry, &report);
  if (!status.ok()) {
    err << "quelix: cannot restore: " << ShownName(Reason(status)) << '\n';
    return 2;
  }
  size_t restored = 0;
  size_t left = 0;
  for (const auto* items : {&report.files, &report.values}) {
    for (const RestoredItem& item : *items) {
      (PrintRestored(item, out) ? restored : left) += 1;
    }
  }
  err << "restored from " << ShownName(run) << ": " << restored << " as they were, " << left
      << " left alone\n";
  return report.complete() ? 0 : 1;
}

int RunBackups(int prune_days, std::ostream& out, std::ostream& err, const CliServices& services) {
  const std::string folder = services.places.BackupFolder();
  const std::string shown = ShownName(folder);
  if (prune_days >= 0) {
    std::vector<std::string> removed;
    const Status status =
        PruneRuns(services.fs, folder, prune_days, std::chrono::system_clock::now(), &removed);
    for (const std::string& name : removed) out << "deleted " << ShownName(name) << '\n';
    if (status.ok()) return 0;
    err << "quelix: cannot prune " << shown << ": " << ShownName(Reason(status)) << '\n';
    return 2;
  }
  std::vector<RunSummary> runs;
  const Status status = ListRuns(services.fs, folder, &runs);
  for (const RunSummary& run : runs) {
    out << ShownName(run.name) << '\t' << IsoTime(run.time) << '\t' << run.files << " files\t"
        << run.values << " registry values";
    for (const std::string& root : run.roots) out << '\t' << ShownName(root);
    out << '\n';
  }
  if (!status.ok()) {
    err << "quelix: cannot list " << shown << ": " << ShownName(Reason(status)) << '\n';
    return 2;
  }
  if (runs.empty()) err << "no backups are kept in " << shown << '\n';
  return 0;
}

}  // namespace quelix
