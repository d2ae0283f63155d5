// The hive helper: the program (quelix-hive) in which every hivex call runs. hivex ends the whole
// process on some damaged hives (an assertion in its write path); there, it ends only the helper.
// The hives it parses were written by whoever owns the drive, so it runs with no rights: it opens
// nothing by a name of the drive, it is sent each hive's content in a memory file.
#pragma once

#include "platform/status.h"

namespace quelix {

// Serves the requests of hive_protocol.h on `socket` until the program closes its end of it, and
// then ends the process with _exit. Where `refusal` is a failure, every hive is refused with it.
[[noreturn]] void RunHiveServer(int socket, const Status& refusal);

}  // namespace quelix
