#include "platform/posix/hive_fd.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/posix/posix_errors.h"

namespace quelix {

FileIdentity FileIdentity::Of(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size,
          static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

bool FileIdentity::SameVersion(const struct stat& st) const {
  const FileIdentity now = Of(st);
  return now.device == device && now.inode == inode && now.size == size &&
         now.modified_ns == modified_ns;
}

Status ProcFdPath(int fd, std::string* path) {
  *path = "/proc/self/fd/" + std::to_string(fd);
  struct stat named;
  struct stat held;
  if (::fstat(fd, &held) != 0) return FromErrno(errno, *path);
  // Anything but the held file under that name (no /proc, or something mounted in its place)
  // would have the hive library read or write a file nobody chose.
  if (::stat(path->c_str(), &named) != 0 || named.st_dev != held.st_dev ||
      named.st_ino != held.st_ino) {
    return {ErrorCode::kOther,
            "hives are only read and written through /proc/self/fd, and /proc is not mounted"};
  }
  return Status::Ok();
}

}  // namespace quelix
