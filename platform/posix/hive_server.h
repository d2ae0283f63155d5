// The hive helper: the child process in which every hivex call runs. hivex ends the whole process
// on some damaged hives (an assertion in its write path); there, it ends only the helper.
#pragma once

namespace quelix {

// Serves the requests of hive_protocol.h on `socket` until the program closes its end of it, and
// then ends the process with _exit. Runs in a child forked without exec: it uses only hivex,
// memory, the socket and the descriptors it is sent.
[[noreturn]] void RunHiveServer(int socket);

}  // namespace quelix
