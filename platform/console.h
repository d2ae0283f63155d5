// The terminal a command-line program runs in: whether standard error is one (progress is drawn
// only there), how wide it is, and whether the user asked to stop (Ctrl+C, or a request to end).
#pragma once

#include <memory>

namespace quelix {

class Console {
 public:
  virtual ~Console() = default;
  // True when standard error goes to a terminal, not to a file or a pipe.
  virtual bool ErrorIsTerminal() = 0;
  // The width of that terminal in characters; 80 where it cannot be told.
  virtual int Columns() = 0;
  // True once the user asked the program to stop (SIGINT or SIGTERM, Ctrl+C or Ctrl+Break).
  virtual bool StopRequested() = 0;
};

// The console of the running program, set up for it: on Windows text goes out as UTF-8, the
// program's own encoding; on both platforms a request to stop is caught and left for the program
// to act on between two files, instead of ending it in the middle of one.
std::unique_ptr<Console> CreateNativeConsole();

}  // namespace quelix
