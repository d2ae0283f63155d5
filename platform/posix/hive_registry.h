// The registry on Linux: the offline hives of the Windows installation on a mounted drive, read
// and changed through hivex in a helper process.
#pragma once

#include <memory>
#include <string>

#include "platform/posix/hive_file.h"
#include "platform/registry.h"

namespace quelix {

// The hives found under `search_root` (see FindHives), as a Registry. A hive is loaded in the
// hive helper when its store is first opened and kept while the file on disk stays the same; a hive
// whose commit failed is loaded afresh, and one the helper died on is reported damaged from then
// on. `hooks` lets tests act in the middle of a commit.
std::unique_ptr<Registry> CreateHiveRegistry(const std::string& search_root,
                                             HiveCommitHooks hooks = {});

}  // namespace quelix
