// Where the Linux program finds its readme and keeps its event log.
//
// Run from its build or unpacked directory, or copied anywhere, the program keeps log.txt beside
// its executable and hands over <its folder>/readme.txt. Installed under a prefix (the executable
// in <prefix>/bin, the hive helper in <prefix>/libexec/quelix-remover/, the readme in
// <prefix>/share/doc/quelix-remover/), it never writes beside its executable: the log goes to
// $XDG_STATE_HOME/quelix-remover/log.txt, as it does wherever the program's own directory is not
// writable.
#pragma once

#include <string>
#include <vector>

#include "platform/places.h"

namespace quelix {

// The base directory for state files: $XDG_STATE_HOME when it is an absolute path, else
// $HOME/.local/state; empty when neither is known. Either argument may be null.
std::string StateHome(const char* xdg_state_home, const char* home);

// True when the program really is installed: `program_dir` is the bin folder of a prefix that
// holds the packages' hive helper, and no readme.txt lies beside the program.
bool IsInstalled(const std::string& program_dir);

// The readme handed to the viewer at start-up: the prefix's share/doc copy for an installed
// program, else <program_dir>/readme.txt whether or not it exists.
std::string ReadmePath(const std::string& program_dir);

// The places to try for the event log, in order: <program_dir>/log.txt unless the program is
// installed, then <state_home>/quelix-remover/log.txt (its folder made when needed) when
// `state_home` is not empty.
std::vector<LogPlace> LogPlaces(const std::string& program_dir, const std::string& state_home);

}  // namespace quelix
