// The registry on Linux: the offline hives of the Windows installation on a mounted drive, read
// and changed through hivex.
#pragma once

#include <memory>
#include <string>

#include "platform/posix/hive_file.h"
#include "platform/registry.h"

namespace quelix {

// The hives found under `search_root` (see FindHives), as a Registry. A hive is loaded when its
// store is first opened and kept while the file on disk stays the same; a hive whose commit
// failed is loaded afresh. `hooks` lets tests stop the program in the middle of a commit.
std::unique_ptr<Registry> CreateHiveRegistry(const std::string& search_root,
                                             HiveCommitHooks hooks = {});

}  // namespace quelix
