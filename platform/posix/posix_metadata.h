// Copying what a file has besides its content from one open file to another, on Linux: shared by
// the cleaning of files and the rewriting of offline hives.
#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

namespace quelix {

// Gives the file open on `to` (which this program created) the metadata of the file open on
// `from`: owner and group (the group alone where the owner cannot be kept), the mode with its
// set-id bits, every extended attribute the process may read and set (POSIX ACLs, file
// capabilities, user.*, trusted.* and security.* names, the streams and attributes an NTFS driver
// shows as extended attributes), and the file flags that can be set (not immutable or append-only).
// Extended attributes the copy got on creation that the original lacks (a directory's default
// ACL) are taken away. Fails only when the mode, or an NTFS volume's Windows attribute word, cannot
// be set; each other item that could not be kept is named in `*lost`.
Status CopyMetadata(int from, int to, std::vector<std::string>* lost);

// The Windows attribute word that ntfs-3g and the kernel's ntfs3 driver show for a file, where
// they do.
bool ReadNtfsAttributes(int fd, uint32_t* word);

}  // namespace quelix
