// A console for tests: a terminal or not, of a chosen width, stopped on cue.
#pragma once

#include <functional>

#include "platform/console.h"

namespace quelix {

class FakeConsole : public Console {
 public:
  bool terminal = false;
  int columns = 80;
  // Asked at every look: true means the user asked to stop.
  std::function<bool()> stop;

  bool ErrorIsTerminal() override { return terminal; }
  int Columns() override { return columns; }
  bool StopRequested() override { return stop && stop(); }
};

}  // namespace quelix
