// Finds the registry hives of the Windows installation on a drive mounted on Linux, below the
// folder the command holds open, through the platform's file services.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/registry.h"

namespace quelix {

struct HiveLocation {
  RegistryRoot root = RegistryRoot::kLocalMachine;
  std::string path;                   // for people
  std::unique_ptr<Directory> folder;  // the folder the hive was found in, open since then
  std::string name;                   // the hive's name in that folder
  std::unique_ptr<File> file;         // the hive, open since it was found
};

// Returns the hives below `root`, machine-wide first, then the user hives, in the order of these
// places (names within one directory sorted): Windows/System32/config/SOFTWARE,
// WINNT/System32/config/SOFTWARE; the NTUSER.DAT of every profile under Users, Documents and
// Settings and WINNT/Profiles; and the hives of a Windows 9x installation (SYSTEM.DAT, USER.DAT)
// where their files say they are such hives. Every path component is matched without regard to
// ASCII case and opened below the folder it was found in, never through a link nor onto another
// volume; a file reached by two paths is listed once. Returns nothing when no installation is
// there.
std::vector<HiveLocation> FindHives(Directory& root);

}  // namespace quelix
