#include "cli/options.h"

namespace quelix {
namespace {

bool IsDays(const std::string& text) {
  return !text.empty() && text.size() <= 5 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// The command named `word`; kNone where it names none.
CliOptions::Command CommandNamed(const std::string& word) {
  using Command = CliOptions::Command;
  if (word == "scan") return Command::kScan;
  if (word == "remove") return Command::kRemove;
  if (word == "watch") return Command::kWatch;
  if (word == "restore") return Command::kRestore;
  if (word == "backups") return Command::kBackups;
  return Command::kNone;
}

// Takes one option; false with `*error` set where it is not one.
bool TakeOption(const std::vector<std::string>& args, size_t* i, CliOptions* options,
                std::string* error) {
  const std::string& arg = args[*i];
  if (arg == "--help" || arg == "-h" || arg == "/?") {
    options->command = CliOptions::Command::kHelp;
  } else if (arg == "--version") {
    options->command = CliOptions::Command::kVersion;
  } else if (arg == "--quiet" || arg == "-q") {
    options->quiet = true;
  } else if (arg == "--json") {
    options->json = true;
  } else if (arg == "--exclude" && *i + 1 < args.size()) {
    options->excludes.push_back(args[++*i]);
  } else if (arg.rfind("--exclude=", 0) == 0 && arg.size() > 10) {
    options->excludes.push_back(arg.substr(10));
  } else if (arg == "--no-log") {
    options->no_log = true;
  } else if (arg == "--no-registry") {
    options->no_registry = true;
  } else if (arg == "--remove") {
    options->watch_removes = true;
  } else if (arg == "--no-backup") {
    options->no_backup = true;
  } else if (arg == "--prune" && *i + 1 < args.size() && IsDays(args[*i + 1])) {
    options->prune_days = std::stoi(args[++*i]);
  } else if (arg == "--log" && *i + 1 < args.size()) {
    options->log_file = args[++*i];
  } else if (arg.rfind("--log=", 0) == 0 && arg.size() > 6) {
    options->log_file = arg.substr(6);
  } else {
    *error = arg == "--log"       ? "--log needs a FILE"
             : arg == "--prune"   ? "--prune needs a number of DAYS"
             : arg == "--exclude" ? "--exclude needs a PATTERN"
                                  : "unknown option " + arg;
    return false;
  }
  return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, CliOptions* options, std::string* error) {
  *options = CliOptions{};
  bool options_end = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_end && arg == "--") {
      options_end = true;
    } else if (!options_end && ((arg.size() > 1 && arg[0] == '-') || arg == "/?")) {
      // "/?" is how Windows programs are asked for their help; no one names a tree to search so.
      if (!TakeOption(args, &i, options, error)) return false;
    } else if (options->command == CliOptions::Command::kNone) {
      options->command = CommandNamed(arg);
      if (options->command == CliOptions::Command::kNone) {
        *error = "unknown command " + arg;
        return false;
      }
    } else {
      options->paths.push_back(arg);
    }
  }
  using Command = CliOptions::Command;
  if (options->command == Command::kHelp || options->command == Command::kVersion) return true;
  if (options->command == Command::kNone) *error = "no command given";
  const bool takes_paths = options->command == Command::kScan ||
                           options->command == Command::kRemove ||
                           options->command == Command::kWatch;
  if (takes_paths && options->paths.empty()) *error = "no PATH given";
  if (options->command == Command::kRestore && options->paths.size() > 1)
    *error = "more than one RUN given";
  if (options->command == Command::kBackups && !options->paths.empty()) {
    *error = "backups takes no PATH";
  }
  if (options->no_log && !options->log_file.empty()) *error = "--log and --no-log together";
  if (options->watch_removes && options->command != Command::kWatch) {
    *error = "--remove is an option of watch";
  }
  return error->empty();
}

std::string HelpText() {
  return R"(Usage: quelix scan [OPTIONS] PATH...
       quelix remove [OPTIONS] PATH...
       quelix watch [--remove] [OPTIONS] PATH...
       quelix restore [RUN]
       quelix backups [--prune DAYS]

Finds the HTML.Quelix.A script virus in the web pages, scripts and folder templates below each
PATH (a folder, a mount point, on Windows also a drive such as c:; or one file), and in the
registry: on Linux the offline hives of a Windows installation under PATH, on Windows the live
registry. The registry goes with a folder or drive: its lines follow all the files of that PATH.
A file as PATH is checked alone, and no registry with it.

  scan      lists each infected file (once per copy of the virus's line it holds) and each of
            the virus's registry values ("registry STORE\KEY\VALUE") on standard output
  remove    scans, then cleans the files and deletes the registry values: "cleaned PATH",
            "deleted STORE\KEY\VALUE" (a file not cleaned and a value not deleted are
            named on standard error, with the reason);
            every original it replaces or deletes is kept first, in a new RUN folder of the
            backup store ("kept RUN", as soon as it holds the first one)
  watch     keeps watching the folders PATH and checks each file of theirs the moment it is
            written or moved in (inotify on Linux, ReadDirectoryChangesW on Windows), with the
            rules of scan, or with --remove those of remove; writes a line on standard error
            (with --json an object) naming what it watches, then the results as they come.
            The registry is left to scan and remove. Runs until Ctrl+C or SIGTERM, which end
            it after the file in hand, naming each file changed and not yet checked ("not
            checked (the watch was stopped): PATH"); its exit status then tells what it met,
            as for scan (remove with --remove), a folder it could not watch counting as not
            searched, and 130 where it was stopped before every change was checked
  restore   puts back the originals kept by RUN (a name from "quelix backups" or a folder;
            the latest run where none is named), each only where the file is still exactly as
            the removal left it: "restored NAME", "as it was NAME", "not restored NAME: REASON"
  backups   lists the runs kept: name, time (UTC), files and registry values kept, folders
            cleaned; with --prune DAYS deletes the runs older than DAYS days

Each result is written the moment it is known. Every file or folder not handled is named once,
on standard error, with its reason: "could not read", "could not search", "could not clean" (changed
while cleaned, in use, ...), "not deleted" for a registry value, other names (hard links) that
still hold the virus (each named where it lies below the PATH, the rest counted), and "skipped"
for a link, which is never followed and is no error. Progress (on a terminal only) and the
summary go to standard error too.

Options:
  -q, --quiet      print nothing unless something is found or goes wrong (no progress, no
                   summary of a clean run, no word of the links skipped)
      --json       JSON Lines on standard output, one object per event (see quelix(1))
      --exclude PATTERN  leave out what PATTERN matches: a shell pattern (*, ?, [...]) matched
                   against the path below each PATH, names joined by '/' ('*' matches '/'
                   too): "cache" and "cache/*" leave out PATH/cache, "*/cache" a cache folder
                   below that, "*.bak" every name ending in .bak. A folder left out is not
                   entered. May be given more than once. Case matters on Linux, not on
                   Windows, which compares names without case.
      --log FILE   write the event log to FILE instead of the program's own log
      --no-log     keep no event log
      --no-registry  leave the registry alone
      --no-backup  remove without keeping the originals
  -h, --help       show this help
      --version    show the version

The backup store is ~/.local/state/quelix-remover/backups ($XDG_STATE_HOME) on Linux and
%LOCALAPPDATA%\Quelix Remover\backups on Windows, readable by the user who ran quelix alone.

Names are shown with their control characters and bytes that are not UTF-8 escaped: \n, \r,
\t, \x1b, \xff, and \\ for a backslash that would read as such an escape (with --json, as JSON
escapes, a byte that is not UTF-8 as \udcXX).

Exit status:
  0  scan: nothing found. remove: nothing found, or everything found removed.
  1  scan: the virus was found. remove: something of it is left (a file not cleaned, a registry
     value not deleted, another name of a cleaned file).
  2  something could not be looked at (a file not read, a folder not searched, a PATH that
     cannot be searched), or a usage error. For remove this wins over 1: what was not looked at
     may hold the virus. Also for remove when there is no room to keep the originals (the
     backup store keeps 5 % of its disk free).
  130  stopped by Ctrl+C (remove stops after the file being cleaned); for watch, stopped by
     Ctrl+C or SIGTERM before every change was checked, where 1 and 2 do not apply.
  restore: 0 everything is as it was, 1 something was changed since and left alone, or could
  not be put back, 2 no such run.
)";
}

}  // namespace quelix
