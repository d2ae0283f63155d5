// errno values as the program's error codes, for the POSIX backends.
#pragma once

#include <string>

#include "platform/status.h"

namespace quelix {

// The error code for `err`, with `what` (a path, usually) and the system's text as the message.
Status FromErrno(int err, const std::string& what);

}  // namespace quelix
