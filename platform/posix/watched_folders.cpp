#include "platform/posix/watched_folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace quelix {

OwnedFd OpenFolderBelow(const HeldTop& top, const std::string& folder, int flags) {
  // Opened afresh, not duplicated: a duplicate shares the held folder's place in its listing.
  OwnedFd dir(::openat(top.fd.get(), ".", flags | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  for (size_t at = top.path.size(); dir.valid() && at < folder.size();) {
    const size_t end = folder.find('/', at);
    const std::string name = folder.substr(at, end - at);
    dir.Reset(::openat(dir.get(), name.c_str(), flags | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    at = end + 1;
  }
  return dir;
}

bool LinkedFile(const HeldTop& top, const std::string& folder, const std::string& name) {
  const OwnedFd dir = OpenFolderBelow(top, folder, O_PATH);
  struct stat info {};
  if (!dir.valid() || ::fstatat(dir.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(info.st_mode)) {
    return false;
  }
  const bool status_later = info.st_ctim.tv_sec != info.st_mtim.tv_sec
                                ? info.st_ctim.tv_sec > info.st_mtim.tv_sec
                                : info.st_ctim.tv_nsec > info.st_mtim.tv_nsec;
  return info.st_nlink > 1 || status_later;
}

void ListFolder(const std::string& folder, OwnedFd dir, bool report,
                std::vector<std::string>* pending, std::vector<WatchEvent>* events) {
  if (!dir.valid()) return;
  DIR* listing = ::fdopendir(dir.get());
  if (listing == nullptr) return;
  dir.Release();
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    unsigned char type = entry->d_type;
    struct stat child {};
    if (type == DT_UNKNOWN &&
        ::fstatat(dirfd(listing), name.c_str(), &child, AT_SYMLINK_NOFOLLOW) == 0) {
      type = S_ISDIR(child.st_mode) ? DT_DIR : S_ISREG(child.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    if (type == DT_DIR) {
      pending->push_back(folder + name + '/');
    } else if (type == DT_REG && report) {
      events->push_back({WatchEvent::Kind::kFound, folder, name, {}});
    }
  }
  ::closedir(listing);
}

}  // namespace quelix
