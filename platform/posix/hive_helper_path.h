// Where the program finds its hive helper, the small program hive_server.h describes.
#pragma once

#include <string>

#include "platform/status.h"

namespace quelix {

// The descriptor on which the helper finds its end of the socket.
constexpr int kHiveHelperSocket = 3;

// The helper program: beside the running program, else where the package installs it (below the
// running program's prefix, then below the prefix it was built for), else in the build tree this
// program was built in (builds with tests only). Only a regular file that the user running the
// program or root owns, and that nobody else may change, is taken.
Status FindHiveHelper(std::string* program);

}  // namespace quelix
