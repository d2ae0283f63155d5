// Opening below a held folder without following links or leaving the volume, and what the
// program asks of every file it opens: that it is a regular file, and how it stands.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/posix_metadata.h"

namespace quelix {
namespace {

// Set once the kernel has said it has no openat2 (before Linux 5.6). Atomic: the search's
// read-ahead thread opens folders too.
std::atomic<bool> g_no_openat2{false};

int OpenAt2(int dirfd, const std::string& relative, const OpenRequest& request) {
  const open_how how = BeneathHow(request);
  for (int attempt = 0;; ++attempt) {
    const long fd = ::syscall(SYS_openat2, dirfd, relative.c_str(), &how, sizeof how);
    // A rename anywhere on the system may make the kernel ask for the lookup to be repeated.
    if (fd < 0 && errno == EAGAIN && attempt < 8) continue;
    return static_cast<int>(fd);
  }
}

// The same, one name at a time, for kernels without openat2 and for paths longer than it takes.
int OpenStepByStep(int dirfd, dev_t device, const std::string& relative,
                   const OpenRequest& request) {
  // The folder reached so far, once the walk has left the caller's `dirfd`.
  OwnedFd reached;
  int current = dirfd;
  size_t start = 0;
  for (;;) {
    const size_t slash = relative.find('/', start);
    const std::string name = relative.substr(start, slash - start);
    const bool last = slash == std::string::npos;
    OwnedFd next;
    if (name == "..") {
      errno = EXDEV;
    } else if (last) {
      next.Reset(::openat(current, name.empty() ? "." : name.c_str(),
                          request.flags | O_NOFOLLOW | O_CLOEXEC, request.mode));
    } else if (name.empty() || name == ".") {
      next.Reset(::fcntl(current, F_DUPFD_CLOEXEC, 0));
    } else {
      next.Reset(::openat(current, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    struct stat st;
    if (next.valid() && ::fstat(next.get(), &st) == 0 && st.st_dev != device) {
      next.Reset();
      errno = EXDEV;
    }
    const int err = errno;
    reached.Reset();
    errno = err;
    if (!next.valid() || last) return next.Release();
    reached = std::move(next);
    current = reached.get();
    start = slash + 1;
  }
}

}  // namespace

open_how BeneathHow(const OpenRequest& request) {
  open_how how{};
  how.flags = static_cast<uint64_t>(request.flags | O_NOFOLLOW | O_CLOEXEC);
  how.mode = (request.flags & O_CREAT) ? request.mode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_NO_XDEV;
  return how;
}

int LinkOnTheWay(int dirfd, const std::string& relative, int err) {
  // A folder's name that is a link fails otherwise than with ELOOP (O_NOFOLLOW): say what it is.
  struct stat st;
  if (err != ELOOP && relative.find('/') == std::string::npos &&
      ::fstatat(dirfd, relative.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    return ELOOP;
  }
  return err;
}

int OpenBeneath(int dirfd, dev_t device, const std::string& relative, const OpenRequest& request) {
  // One name, too, goes to openat2 where it can: the kernel then refuses another volume itself
  // (a file or folder mounted over the name), which saves the status query after every folder
  // opened.
  const bool one_call = !g_no_openat2 && !relative.empty();
  if (relative.find('/') == std::string::npos && relative != ".." && !one_call) {
    const char* name = relative.empty() ? "." : relative.c_str();
    const int fd = ::openat(dirfd, name, request.flags | O_NOFOLLOW | O_CLOEXEC, request.mode);
    struct stat st;
    // O_DIRECTORY on a link says "not a directory"; say what it is.
    if (fd < 0 && errno == ENOTDIR && ::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode)) {
      errno = ELOOP;
    }
    if (fd < 0 || (request.flags & O_DIRECTORY) == 0) return fd;
    OwnedFd directory(fd);
    if (::fstat(fd, &st) == 0 && st.st_dev == device) return directory.Release();
    directory.Reset();
    errno = EXDEV;
    return -1;
  }
  if (!g_no_openat2 && relative.size() < PATH_MAX) {
    const int fd = OpenAt2(dirfd, relative, request);
    if (fd < 0 && errno != ENOSYS) errno = LinkOnTheWay(dirfd, relative, errno);
    if (fd >= 0 || errno != ENOSYS) return fd;
    g_no_openat2 = true;
  }
  return OpenStepByStep(dirfd, device, relative, request);
}

bool OpensBeneathAtOnce(const std::string& relative) {
  return !g_no_openat2 && relative.size() < PATH_MAX;
}

bool NamesFile(int dirfd, const std::string& name, int fd) {
  struct stat by_name;
  struct stat held;
  return ::fstatat(dirfd, name.c_str(), &by_name, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstat(fd, &held) == 0 && by_name.st_dev == held.st_dev && by_name.st_ino == held.st_ino;
}

Status RequireRegular(int fd, const std::string& path, bool keep_nonblocking, int64_t* size,
                      bool* sparse) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return FromErrno(errno, path);
  if (!S_ISREG(st.st_mode)) return {ErrorCode::kNotAFile, path + ": not a regular file"};
  *size = st.st_size;
  if (sparse)
    *sparse = static_cast<uint64_t>(st.st_blocks) * 512 < static_cast<uint64_t>(st.st_size);
  // Blocking reads again: a network or FUSE file system may honour the flag on regular files.
  if (!keep_nonblocking) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return Status::Ok();
}

bool NonblockingIsHarmless(int fd) {
  struct statfs fs;
  if (::fstatfs(fd, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0xF2F52010:  // f2fs
    case 0x4D44:      // vfat
    case 0x2011BAB0:  // exfat
    case 0x7366746E:  // ntfs3
      return true;
    default:
      return false;
  }
}

FileInfo DescribeStat(const struct stat& st, int fd) {
  FileInfo info;
  info.is_regular = S_ISREG(st.st_mode);
  info.is_directory = S_ISDIR(st.st_mode);
  info.is_link = S_ISLNK(st.st_mode);
  info.size = static_cast<uint64_t>(st.st_size);
  info.modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  info.changed_ns = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  info.volume = st.st_dev;
  info.file_id = st.st_ino;
  info.links = st.st_nlink;
  info.allocated = static_cast<uint64_t>(st.st_blocks) * 512;
  info.attributes.word = st.st_mode & 07777;
  info.attributes.owner = st.st_uid;
  info.attributes.group = st.st_gid;
  uint32_t word = 0;
  if (fd >= 0 && info.is_regular && ReadNtfsAttributes(fd, &word)) {
    info.attributes.windows_word = word;
  }
  return info;
}

}  // namespace quelix
