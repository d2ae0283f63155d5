// Puts back what a Remove command kept in the backup store: each original only where the file
// now is exactly the cleaned file that replaced it, in one atomic step, with the metadata the
// file has now; each registry value only where the key has no value of that name again. The
// run's last change is undone first, so a file changed twice in one run goes back step by step.
#pragma once

#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/file_system.h"

namespace quelix {

enum class RestoreOutcome {
  kRestored,
  kAsItWas,  // the file is the original already (or the value is back as it was)
  kChanged,  // changed since the removal, so left alone
  kFailed,
};

struct RestoredItem {
  std::string name;  // a path, or "STORE\KEY\VALUE"
  RestoreOutcome outcome = RestoreOutcome::kFailed;
  std::string reason;  // why not, or what of the metadata could not be kept
};

struct RestoreReport {
  std::vector<RestoredItem> files;
  std::vector<RestoredItem> values;
  // True when everything is its original again.
  bool complete() const;
};

// Restores the run kept in the folder `run`. Fails, changing nothing, when the run's records
// cannot be read.
Status RestoreRun(FileSystem& fs, const std::string& run, const RegistryOpener& open_registry,
                  RestoreReport* report);

}  // namespace quelix
