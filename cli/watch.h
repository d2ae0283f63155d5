// `quelix watch`: the folders named kept under watch, each file checked the moment it was written
// or moved in, with the rules of scan (of remove with --remove), until the user asks it to stop.
#pragma once

#include <ostream>

#include "cli/options.h"
#include "cli/quelix.h"

namespace quelix {

// Runs the watch `options` asks for. Returns the exit status: what the watch met, as scan (or
// remove) would tell it, once a stop request ended it, or kInterrupted where the stop came before
// every change was checked and nothing else is to be told; 2 at once where a PATH cannot be
// watched.
int RunWatch(const CliOptions& options, std::ostream& out, std::ostream& err,
             const CliServices& services);

}  // namespace quelix
