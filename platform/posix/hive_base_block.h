// The checks hivex does not make, on a hive file's base block, before hivex sees the file.
#pragma once

#include "platform/status.h"

namespace quelix {

// Checks the regular file open on `fd`: a registry hive (not a Windows 9x registry), cleanly
// closed by Windows, and as long as its header says. The message says what is wrong, for people.
Status CheckBaseBlock(int fd);

}  // namespace quelix
