// Windows error numbers (and the NT status codes of the few ntdll calls) as the program's error
// codes: one mapping for the file services and the registry alike.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "platform/status.h"

namespace quelix::win32 {

ErrorCode CodeOf(DWORD error);

// The system's own text for `error`, without the line break and period it ends with.
std::string MessageOf(DWORD error);

// The code for `error`, with `what` (a path or key, usually) and the system's text as the message.
Status FromError(DWORD error, const std::string& what);
Status LastError(const std::string& what);

// The same for the status an ntdll call returned.
Status FromNtStatus(LONG status, const std::string& what);

}  // namespace quelix::win32
