// What a front end gives the commands: the Linux and Windows windows, the headless driver and the
// command-line program each implement it. The engine works on it as its Window; the command
// controller adds what only it does with a front end: the pointer for the whole command, the
// pacing of its event processing and the questions and messages around a command.
#pragma once

#include <string>

#include "engine/window.h"

namespace quelix {

enum class MessageIcon { kInformation, kWarning };

class FrontEnd : public Window {
 public:
  // Mouse pointer: the hourglass while `busy`.
  virtual void SetBusyPointer(bool busy) = 0;
  // Lets the front end draw what changed and process the user's pending input (which may ask
  // the controller for a command or for closing). The controller calls it at most every 15 ms
  // while a command runs, and once at its end.
  virtual void ProcessEvents() = 0;
  // The message box with one OK button; returns when the user dismisses it.
  virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
  // A question in a message box with the buttons Yes and No; true for Yes.
  virtual bool Ask(const std::string& question) = 0;
};

}  // namespace quelix
