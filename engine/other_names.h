// The other names (hard links) of a cleaned file that the scan never read: not candidates, or
// outside the folder searched. They still hold the virus, so the user is told where they are.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace quelix {

// A file cleaned under one name while other names of it, which the scan never read, still hold
// the virus: the original, as the scan found it, keeps those names.
struct OtherNamesLeft {
  std::string cleaned;             // the name cleaned
  uint64_t volume = 0;             // the original
  uint64_t file_id = 0;            //
  uint64_t count = 0;              // its names still holding the virus
  std::vector<std::string> below;  // those found below the folder searched

  uint64_t elsewhere() const { return count > below.size() ? count - below.size() : 0; }
};

// What the walk may not look at: a folder or a name to leave out, by the folder that holds it
// (its path, ending in the separator) and the name.
using LeftOut = std::function<bool(const std::string& folder, const std::string& name)>;

// Walks the tree below `root` once and adds to each entry of `left` the names of its original.
// Only the entries whose listing gives the file number of an original are described, through
// what is opened, and taken where the volume and file number agree: no file of the tree is
// opened otherwise. Folders that cannot be listed are passed over, and neither links nor other
// volumes are entered. Stops early once every name is found, and where `keep_going` says so
// (then returns false).
bool FindOtherNames(Directory& root, const LeftOut& left_out,
                    const std::function<bool()>& keep_going, std::vector<OtherNamesLeft>* left);

}  // namespace quelix
