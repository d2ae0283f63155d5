// Opening a document with the program the desktop associates with it.
#pragma once

#include <memory>
#include <string>

#include "platform/status.h"

namespace quelix {

class Shell {
 public:
  virtual ~Shell() = default;

  // Hands the document `sURL` (a file path) to the desktop's default viewer and returns at once,
  // without waiting for the viewer. Returns a failure only when the hand-over itself could not be
  // started; a missing document or a viewer that fails later goes unnoticed.
  virtual Status hyperlink(const std::string& sURL) = 0;
};

// The shell of the platform the program was built for: xdg-open on Linux, ShellExecuteA on Windows.
std::unique_ptr<Shell> CreateNativeShell();

}  // namespace quelix
