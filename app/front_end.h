// What a front end gives the commands: the Linux and Windows windows, the headless driver and the
// command-line program each implement it. The command controller turns it into the engine's view
// of the window and keeps the rules of running commands in one place.
#pragma once

#include <cstddef>
#include <string>

#include "engine/window.h"

namespace quelix {

enum class MessageIcon { kInformation, kWarning };

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Candidate list (List1).
  virtual void ClearCandidates() = 0;
  virtual void AppendCandidate(const std::string& path) = 0;
  virtual size_t CandidateCount() const = 0;
  virtual std::string Candidate(size_t index) const = 0;
  virtual void HideCandidates() = 0;

  // Infected list (lInfected).
  virtual void ClearInfected() = 0;
  virtual void AppendInfected(const std::string& path) = 0;
  virtual size_t InfectedCount() const = 0;
  virtual std::string Infected(size_t index) const = 0;
  virtual void ShowInfected() = 0;

  // Status line (Label1); `text` may hold one "\r\n" line break.
  virtual void SetStatus(const std::string& text) = 0;
  // Log switch (cLog): true while checked.
  virtual bool LogSwitch() const = 0;
  // The folder the search starts from for the drive the chooser (Drive1) shows.
  virtual std::string SearchRoot() const = 0;
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
  // What became of one file or folder, as it happens (see FileEvent); a window, which shows
  // the lists and keeps the log, may pass it by.
  virtual void Tell(const FileEvent&) {}
};

}  // namespace quelix
