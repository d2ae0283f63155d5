// The file services on Linux and other POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_system.h"
#include "platform/posix/posix_errors.h"

namespace quelix {
namespace {

// ntfs-3g and the kernel's ntfs3 driver expose a file's Windows attribute word under this name,
// as a big-endian 32-bit number.
constexpr char kNtfsAttributes[] = "system.ntfs_attrib_be";

class PosixFile final : public File {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  Status Read(char* buffer, size_t capacity, size_t* got) override {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, capacity);
      if (n >= 0) {
        *got = static_cast<size_t>(n);
        return Status::Ok();
      }
      if (errno != EINTR) return FromErrno(errno, path_);
    }
  }

  Status Write(const char* data, size_t size) override {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        return FromErrno(errno, path_);
      }
      data += n;
      size -= static_cast<size_t>(n);
    }
    return Status::Ok();
  }

  Status Rewind() override {
    if (::lseek(fd_, 0, SEEK_SET) < 0) return FromErrno(errno, path_);
    return Status::Ok();
  }

  Status Sync() override {
    if (::fsync(fd_) != 0) return FromErrno(errno, path_);
    return Status::Ok();
  }

  Status Close() override {
    const int fd = fd_;
    fd_ = -1;
    // Linux releases the descriptor even when close reports an error; never retry it.
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) return FromErrno(errno, path_);
    return Status::Ok();
  }

 private:
  int fd_;
  std::string path_;
};

// Opens an existing file for reading, refusing anything but a regular file: opening a pipe would
// block and a device could be endless.
Status OpenForReading(const std::string& path, int* fd) {
  *fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (*fd < 0) return FromErrno(errno, path);
  struct stat st;
  if (::fstat(*fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(*fd);
    return {ErrorCode::kNotAFile, path + ": not a regular file"};
  }
  // Blocking reads again: a network or FUSE file system may honour the flag on regular files.
  ::fcntl(*fd, F_SETFL, ::fcntl(*fd, F_GETFL) & ~O_NONBLOCK);
  // Most candidates fit in one read; only larger ones gain from a hint for read-ahead.
  if (st.st_size > 256 * 1024) ::posix_fadvise(*fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return Status::Ok();
}

Status SyncDirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return FromErrno(errno, dir);
  const int rc = ::fsync(fd);
  const int err = errno;
  ::close(fd);
  // Some file systems (network, FUSE) cannot sync a directory; the rename itself stands.
  if (rc != 0 && err != EINVAL && err != ENOTSUP) return FromErrno(err, dir);
  return Status::Ok();
}

class PosixFileSystem final : public FileSystem {
 public:
  char Separator() const override { return '/'; }

  Status ListDirectory(const std::string& dir,
                       const std::function<bool(const DirEntry&)>& visit) override {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return FromErrno(errno, dir);
    struct stat self;
    const int dfd = ::dirfd(d);
    if (::fstat(dfd, &self) != 0) {
      const int err = errno;
      ::closedir(d);
      return FromErrno(err, dir);
    }
    Status status;
    DirEntry entry;
    for (;;) {
      errno = 0;
      const dirent* e = ::readdir(d);
      if (!e) {
        if (errno != 0) status = FromErrno(errno, dir);
        break;
      }
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      entry.name = e->d_name;
      entry.attributes = DTTOIF(e->d_type);
      entry.is_directory = false;
      if (e->d_type == DT_DIR || e->d_type == DT_UNKNOWN) {
        // A mount point is a directory on another volume: the walk stays on its own.
        struct stat st;
        if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
          entry.attributes = st.st_mode;
          entry.is_directory = S_ISDIR(st.st_mode) && st.st_dev == self.st_dev;
        }
      }
      if (!visit(entry)) break;
    }
    ::closedir(d);
    return status;
  }

  Status Open(const std::string& path, OpenMode mode, std::unique_ptr<File>* file) override {
    int fd = -1;
    if (mode == OpenMode::kRead) {
      Status status = OpenForReading(path, &fd);
      if (!status.ok()) return status;
    } else {
      int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY;
      mode_t perms = 0666;
      if (mode == OpenMode::kWriteTruncate) flags |= O_TRUNC;
      if (mode == OpenMode::kAppend) flags |= O_APPEND;
      if (mode == OpenMode::kWriteNew) {
        // Nobody else reads a half-written copy; its final mode is set when it takes its place.
        flags |= O_EXCL | O_NOFOLLOW;
        perms = 0600;
      }
      fd = ::open(path.c_str(), flags, perms);
      if (fd < 0) return FromErrno(errno, path);
    }
    *file = std::make_unique<PosixFile>(fd, path);
    return Status::Ok();
  }

  Status GetInfo(const std::string& path, FileInfo* info) override {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return FromErrno(errno, path);
    *info = FileInfo{};
    info->is_regular = S_ISREG(st.st_mode);
    info->is_directory = S_ISDIR(st.st_mode);
    info->is_link = S_ISLNK(st.st_mode);
    info->size = static_cast<uint64_t>(st.st_size);
    info->modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    info->volume = st.st_dev;
    info->file_id = st.st_ino;
    info->attributes.word = st.st_mode & 07777;
    info->attributes.owner = st.st_uid;
    info->attributes.group = st.st_gid;
    unsigned char be[4];
    if (!info->is_link && ::lgetxattr(path.c_str(), kNtfsAttributes, be, sizeof be) == 4) {
      info->attributes.windows_word = (uint32_t{be[0]} << 24) | (uint32_t{be[1]} << 16) |
                                      (uint32_t{be[2]} << 8) | uint32_t{be[3]};
    }
    return Status::Ok();
  }

  Status SetAttributes(const std::string& path, const FileAttributes& a) override {
    // Owner first: changing it clears the set-user-ID bits that chmod then puts back.
    if (a.owner >= 0 &&
        ::lchown(path.c_str(), static_cast<uid_t>(a.owner), static_cast<gid_t>(a.group)) != 0 &&
        errno != EPERM) {
      return FromErrno(errno, path);
    }
    if (::chmod(path.c_str(), a.word & 07777) != 0) return FromErrno(errno, path);
    if (a.windows_word) {
      const uint32_t w = *a.windows_word;
      const unsigned char be[4] = {
          static_cast<unsigned char>(w >> 24), static_cast<unsigned char>(w >> 16),
          static_cast<unsigned char>(w >> 8), static_cast<unsigned char>(w)};
      if (::lsetxattr(path.c_str(), kNtfsAttributes, be, sizeof be, 0) != 0) {
        return FromErrno(errno, path);
      }
    }
    return Status::Ok();
  }

  Status Replace(const std::string& source, const std::string& target) override {
    if (::rename(source.c_str(), target.c_str()) != 0) return FromErrno(errno, target);
    return SyncDirectoryOf(target);
  }

  Status Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return FromErrno(errno, path);
    return Status::Ok();
  }
};

}  // namespace

std::unique_ptr<FileSystem> CreateNativeFileSystem() {
  return std::make_unique<PosixFileSystem>();
}

}  // namespace quelix
