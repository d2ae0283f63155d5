// How this platform compares file names: by their bytes on POSIX, without case on Windows.
#pragma once

#include <string>

namespace quelix {

// `name` in the one form that every name equal to it here shares: `name` itself where names
// differ by case (POSIX); upper case as the system maps it, beyond ASCII too, on Windows.
std::string FoldedName(const std::string& name);

}  // namespace quelix
