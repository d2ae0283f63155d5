// What the Linux watchers share: the folders a watch was asked for, held open, and the look at a
// folder below one of them, made one name at a time from the held folder without following links.
// A watcher tells names only; these keep what it tells inside the tree it holds.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/posix/owned_fd.h"
#include "platform/watcher.h"

namespace quelix {

// A folder held open, with the volume it is on.
struct HeldTop {
  std::string path;  // ending in '/'
  OwnedFd fd;
  dev_t volume;
};

// Opens `folder`, below `top`, one name at a time without following links, with `flags` added
// to O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC; invalid where a part of it is gone or no longer a
// folder.
OwnedFd OpenFolderBelow(const HeldTop& top, const std::string& folder, int flags);

// Whether `name` in `folder`, below `top`, is a file made before the name: a name linked to a
// file made elsewhere, which brings the file in without writing or moving it. Such a file has
// another name too, or had one (its status changed after its data: the link and the unlink of
// its first name change only the status).
bool LinkedFile(const HeldTop& top, const std::string& folder, const std::string& name);

// Lists the folder `dir`, named `folder`: its subfolders go to `*pending`, its files (with
// `report`) to `*events` as kFound.
void ListFolder(const std::string& folder, OwnedFd dir, bool report,
                std::vector<std::string>* pending, std::vector<WatchEvent>* events);

}  // namespace quelix
