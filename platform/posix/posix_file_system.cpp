// The file services on Linux.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/file_system.h"
#include "platform/names.h"
#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/posix_ownership.h"

namespace quelix {
namespace {

constexpr char kNtfsAttributes[] = "system.ntfs_attrib_be";

// The walk holds one descriptor for every folder on its way down; a deep tree needs more than
// the usual soft limit allows.
void RaiseDescriptorLimit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

int FlagsFor(OpenMode mode) {
  const int common = O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;
  switch (mode) {
    case OpenMode::kRead:
    case OpenMode::kReadHeld:  // the program's own files: nobody else writes them
      return common | O_RDONLY;
    case OpenMode::kWriteTruncate:
      return common | O_WRONLY | O_CREAT | O_TRUNC;
    case OpenMode::kWriteNew:
      return common | O_RDWR | O_CREAT | O_EXCL;  // a new file is read back, as promised
    case OpenMode::kAppend:
      return common | O_WRONLY | O_CREAT | O_APPEND;
  }
  return common;
}

// How many descriptors the process holds now, by its descriptor folder; 0 where that cannot be
// listed.
size_t DescriptorsHeld() {
  DIR* fds = ::opendir("/proc/self/fd");
  if (fds == nullptr) return 0;
  size_t held = 0;
  while (const dirent* entry = ::readdir(fds)) held += entry->d_name[0] != '.';
  ::closedir(fds);
  return held > 0 ? held - 1 : 0;  // the listing's own
}

class PosixFileSystem final : public FileSystem {
 public:
  PosixFileSystem() { RaiseDescriptorLimit(); }

  char Separator() const override { return '/'; }
  size_t FilesHeldAheadAllowed() const override {
    // A quarter of what the process may still open: the window, the log and the registry's files
    // need some too, and what it holds already (descriptors handed down by the program that
    // started it among them) is not there to be had.
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
    const size_t held = DescriptorsHeld();
    return limit.rlim_cur > held ? static_cast<size_t>((limit.rlim_cur - held) / 4) : 0;
  }
  std::optional<uint64_t> StorageReadsOfThisThread() const override {
    struct rusage usage;
    if (::getrusage(RUSAGE_THREAD, &usage) != 0) return std::nullopt;
    return static_cast<uint64_t>(usage.ru_inblock);
  }

  Status Absolute(const std::string& path, std::string* absolute) override {
    return AbsolutePath(path, absolute);
  }

  Status CheckOwnFolder(const std::string& path) override { return CheckOwnFolderChain(path); }

  Status CheckOwn(const FileInfo& info, const std::string& path, bool secret) override {
    return CheckOwnInfo(info, path, secret);
  }

  Status OpenDirectory(const std::string& path, std::unique_ptr<Directory>* dir) override {
    OwnedFd fd(::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) return FromErrno(errno, path);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return FromErrno(errno, path);
    const bool nonblock_harmless = NonblockingIsHarmless(fd.get());
    *dir = MakePosixDirectory(std::move(fd), st.st_dev,
                              path.empty() || path.back() == '/' ? path : path + "/",
                              nonblock_harmless, ::geteuid() == 0);
    return Status::Ok();
  }

  Status Open(const std::string& path, OpenMode mode, std::unique_ptr<File>* file) override {
    // A pipe or device where the log should be would block the open or never end; a link there
    // would send the entries, and the names they hold, to another file.
    // The program's own files (its log, its backups) hold names from the trees it searched and
    // what it took out of them: for the user who runs it alone.
    OwnedFd fd(::open(path.c_str(), FlagsFor(mode), 0600));
    if (!fd.valid()) {
      if (errno == ELOOP) return {ErrorCode::kLink, path + ": it is a link"};
      return FromErrno(errno, path);
    }
    int64_t size = 0;
    bool sparse = false;
    const Status status = RequireRegular(fd.get(), path, false, &size, &sparse);
    if (!status.ok()) return status;
    // A kept original with holes is read past them when it is put back.
    const bool holes = sparse && mode == OpenMode::kRead;
    *file = std::make_unique<PosixFile>(std::move(fd), path, holes ? size : -1, holes);
    return Status::Ok();
  }

  Status GetInfo(const std::string& path, FileInfo* info) override {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return FromErrno(errno, path);
    *info = DescribeStat(st, -1);
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
    if (::fchmodat(AT_FDCWD, path.c_str(), a.word & 07777, 0) != 0) return FromErrno(errno, path);
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

  Status Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return FromErrno(errno, path);
    return Status::Ok();
  }

  Status RemoveFolder(const std::string& path) override {
    if (::rmdir(path.c_str()) != 0) return FromErrno(errno, path);
    return Status::Ok();
  }

  Status FreeSpace(const std::string& path, uint64_t* free, uint64_t* total) override {
    struct statvfs volume;
    if (::statvfs(path.c_str(), &volume) != 0) return FromErrno(errno, path);
    *free = static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
    *total = static_cast<uint64_t>(volume.f_blocks) * volume.f_frsize;
    return Status::Ok();
  }

  Status CreateDirectories(const std::string& path) override {
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
      const std::string part = path.substr(0, end);
      if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
        return FromErrno(errno, part);
      }
      if (end == std::string::npos) return Status::Ok();
    }
  }
};

}  // namespace

std::unique_ptr<FileSystem> CreateNativeFileSystem() {
  return std::make_unique<PosixFileSystem>();
}

std::string FoldedName(const std::string& name) {
  return name;
}

}  // namespace quelix
