// The command line of `quelix`.
#pragma once

#include <string>
#include <vector>

namespace quelix {

struct CliOptions {
  enum class Command { kNone, kScan, kRemove, kWatch, kRestore, kBackups, kHelp, kVersion };
  Command command = Command::kNone;
  std::vector<std::string> paths;     // scan, remove: the PATHs; restore: the RUN, where named
  bool quiet = false;                 // nothing unless something is found or goes wrong
  bool json = false;                  // JSON Lines on standard output
  std::vector<std::string> excludes;  // shell patterns of what to leave out
  bool no_log = false;                // no event log at all
  bool no_registry = false;           // leave the registry alone
  std::string log_file;               // the event log's place, where not the program's own
  bool no_backup = false;             // remove keeps no originals
  bool watch_removes = false;         // watch --remove: cleans what it finds
  int prune_days = -1;                // backups --prune DAYS: delete the runs older than that
};

// Parses the arguments after the program's name. Returns false, with a one-line reason in
// `*error`, on a usage error: no or an unknown command, an unknown option, no PATH, more than one
// RUN, --log without a file (or together with --no-log), --prune without a number of days,
// --exclude without a pattern, --remove with another command than watch.
bool ParseOptions(const std::vector<std::string>& args, CliOptions* options, std::string* error);

// What `quelix --help` prints.
std::string HelpText();

}  // namespace quelix
