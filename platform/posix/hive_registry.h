// The registry on Linux: the offline hives of the Windows installation on a mounted drive, read
// and changed through hivex in a helper process.
#pragma once

#include <memory>

#include "platform/posix/hive_file.h"
#include "platform/registry.h"

namespace quelix {

// The hives found below `root` (see FindHives), each held open from then on, as a Registry. A
// hive is loaded in the hive helper when its store is opened, from the file held, and dropped with
// the store; one the helper died on is reported damaged from then on.
std::unique_ptr<Registry> CreateHiveRegistry(Directory& root);

}  // namespace quelix
