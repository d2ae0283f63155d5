// Whether the program's own folders and files are the user's alone, and where a path is.
#pragma once

#include <string>

#include "platform/file_system.h"

namespace quelix {

// `path` made absolute against the current folder and lexically normalized.
Status AbsolutePath(const std::string& path, std::string* absolute);

// Walks `path` as it is written from "/" down through descriptors, each name looked up without
// following a link, and checks every folder on the way (see FileSystem::CheckOwnFolder), those
// that hold a link the path goes through included, and the folders the link leads through.
Status CheckOwnFolderChain(const std::string& path);

// See FileSystem::CheckOwn.
Status CheckOwnInfo(const FileInfo& info, const std::string& path, bool secret);

}  // namespace quelix
