// The texts a command ends with: the status line after a scan, the message box after a removal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "engine/engine.h"

namespace quelix {

// How the event log fared, for the texts that point to it.
struct LogState {
  bool wanted = true;  // a log was asked for; where none was, the texts do not speak of one
  bool open = false;
  bool intact = false;  // every write so far reached it
  std::string path;
};

// "Scan complete. The list of infected files is given above.", with a second line of what the
// user should know besides: registry values found, files not read, folders not searched, a log
// that could not be written.
std::string ScanStatus(const ScanReport& scan, const LogState& log);

// What of the virus a removal left: listed files it could not clean, other names (hard links) of
// cleaned files, and registry values still there, each with why: not deleted at its last try, or
// found by the scan in a store or key the removal could not open. The message box and the
// command line's exit status both go by it.
struct Leftovers {
  size_t files = 0;
  uint64_t other_names = 0;
  std::vector<RegistryValueFailure> values;
  bool any() const { return files > 0 || other_names > 0 || !values.empty(); }
};
Leftovers WhatIsLeft(const ScanReport& scan, const RemovalReport& removal);

// The message box after a removal: the success text only where nothing is left (see Leftovers)
// and the scan before it read every candidate and searched every folder.
struct RemovalOutcome {
  std::string text;
  MessageIcon icon;
};
// What became of the originals: the run folder that keeps them, or that the user chose to remove
// the virus without keeping them.
struct BackupState {
  std::string run;
  bool declined = false;
};
RemovalOutcome RemovalMessage(const ScanReport& scan, const RemovalReport& removal,
                              const LogState& log, const BackupState& backup = {});

// The text shown when there is nothing to remove.
RemovalOutcome NothingToRemove();

// The first sentence of `text`, for the status line.
std::string FirstSentence(const std::string& text);

}  // namespace quelix
