// quelix run as its own process, the way a script, a terminal or a service manager meets it: its
// standard output on a pipe read line by line, its standard error in a file, signals and the exit
// status. Run as root, the tests run quelix as an unprivileged user, so that permissions hold.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_tree.h"

namespace quelix {

// The user quelix runs as when the tests run as root; what the tests lay out is given to it.
constexpr uid_t kProcessUser = 65534;
// How long a test waits for a line or a word before it calls it missing; generous, as the
// machine may be busy, since it only counts where something goes wrong.
constexpr std::chrono::seconds kProcessPatience(60);

// Gives `top` and all below it to kProcessUser (nothing where the tests do not run as root).
void GiveAway(const std::filesystem::path& top);
// Gives the open file `fd` to kProcessUser (nothing where the tests do not run as root).
void GiveAway(int fd);

class QuelixProcess {
 public:
  // Starts quelix with `args`, its state folder (log, backups) in `state`, which also holds the
  // file its standard error goes to. Run as root, the child becomes kProcessUser through
  // `become_user` where given (false: it could not), else with no privilege kept.
  QuelixProcess(const TempTree& state, std::vector<std::string> args,
                bool (*become_user)() = nullptr);
  ~QuelixProcess();
  QuelixProcess(const QuelixProcess&) = delete;
  QuelixProcess& operator=(const QuelixProcess&) = delete;

  // The next line of standard output, as soon as it is written; false at its end or where none
  // came within kProcessPatience.
  bool ReadLine(std::string* line);
  // The rest of standard output, to its end.
  std::vector<std::string> RestOfOutput();
  // Waits until standard error holds `text`; false where the process ended first or the wait
  // took longer than kProcessPatience.
  bool SaysOnError(const std::string& text) const;
  std::string Errors() const;

  bool Running() const;
  void Signal(int signal) const;
  // Waits for the end; the exit status, or 1000 plus the signal that ended it.
  int Wait();
  pid_t pid() const { return pid_; }

 private:
  std::string err_path_;
  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = -1;
  std::string buffer_;
};

}  // namespace quelix
