// `quelix`, the command-line program: the same commands, texts and safety as the windows, for
// servers, scripts and rescue disks. Everything but main(), so that tests can run it whole.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/places.h"
#include "platform/watcher.h"

namespace quelix {

// The exit status of a command that Ctrl+C or SIGTERM stopped before its work was done.
constexpr int kInterrupted = 130;

struct CliServices {
  FileSystem& fs;
  Places& places;
  Console& console;
  RegistryOpener open_registry = CreateNativeRegistry;
  std::function<std::unique_ptr<Watcher>()> open_watcher = CreateNativeWatcher;
};

// Runs `quelix` with `args` (without the program's name), writing results to `out` and progress,
// problems and the summary to `err`. Returns the exit status (see HelpText()).
int RunQuelix(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const CliServices& services);

}  // namespace quelix
