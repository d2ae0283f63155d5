// `quelix restore` and `quelix backups`: the way back from a removal, and the store's upkeep.
#pragma once

#include <ostream>
#include <string>

#include "cli/quelix.h"

namespace quelix {

// Puts back the originals of run `which` ("" the latest). Returns the exit status.
int RunRestore(const std::string& which, std::ostream& out, std::ostream& err,
               const CliServices& services);

// Lists the runs kept, or with `prune_days` >= 0 deletes those older than that many days.
int RunBackups(int prune_days, std::ostream& out, std::ostream& err, const CliServices& services);

}  // namespace quelix
