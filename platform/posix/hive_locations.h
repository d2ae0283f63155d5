// Finds the registry hives of the Windows installation on a drive mounted on Linux.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/hive_fd.h"
#include "platform/registry.h"

namespace quelix {

struct HiveLocation {
  RegistryRoot root = RegistryRoot::kLocalMachine;
  std::string path;  // for people
  OwnedFd folder;    // the folder the hive was found in, open since then
  std::string name;  // the hive's name in that folder

  // The path, for people, of `other` beside the hive.
  std::string Beside(const std::string& other) const;
};

// Returns the hives under `search_root`, machine-wide first, then the user hives, in the order
// of these places (names within one directory sorted): Windows/System32/config/SOFTWARE,
// WINNT/System32/config/SOFTWARE; the NTUSER.DAT of every profile under Users, Documents and
// Settings and WINNT/Profiles; and the hives of a Windows 9x installation (SYSTEM.DAT, USER.DAT)
// where their files say they are such hives. Every path component is matched without regard to
// ASCII case and opened below the folder it was found in: symbolic links are not followed, other
// volumes mounted inside the drive are not entered, and a file reached by two paths is listed
// once. Returns nothing when no installation is there.
std::vector<HiveLocation> FindHives(const std::string& search_root);

}  // namespace quelix
