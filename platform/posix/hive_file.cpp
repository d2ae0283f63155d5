#include "platform/posix/hive_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/posix/posix_errors.h"

namespace quelix {
namespace {

constexpr size_t kBaseBlockSize = 0x1000;
constexpr size_t kSequence1 = 0x4;
constexpr size_t kSequence2 = 0x8;
constexpr size_t kBinsSize = 0x28;
constexpr char kBackupSuffix[] = ".bak";
constexpr char kTempSuffix[] = ".tmp";
// How many numbered names beside the hive are tried before giving up on a free one.
constexpr int kNameAttempts = 100;
// ntfs-3g and ntfs3 expose a file's Windows attribute word under this name; a user hive is
// normally hidden and system, and the renamed copy should be too.
constexpr char kNtfsAttributes[] = "system.ntfs_attrib_be";

Status Damaged(const std::string& path, const std::string& why) {
  return {ErrorCode::kOther, path + ": " + why};
}

uint32_t LittleEndian32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The checks hivex does not make, on the file's base block, before hivex sees the file.
Status CheckBaseBlock(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FromErrno(errno, path);
  struct stat st;
  unsigned char block[kBaseBlockSize];
  ssize_t got = -1;
  if (::fstat(fd, &st) == 0) got = ::pread(fd, block, sizeof block, 0);
  const int err = errno;
  ::close(fd);
  if (got < 0) return FromErrno(err, path);
  if (!S_ISREG(st.st_mode)) return {ErrorCode::kNotAFile, path + ": not a file"};
  if (got >= 4 && std::memcmp(block, "CREG", 4) == 0) {
    return Damaged(path, "a Windows 9x registry, which cannot be repaired here");
  }
  if (got < static_cast<ssize_t>(kBaseBlockSize) || std::memcmp(block, "regf", 4) != 0) {
    return Damaged(path, "not a registry hive");
  }
  // Differing sequence numbers mean Windows stopped before writing its logs into the hive: the
  // hive alone is out of date, and rewriting it would lose what the logs hold.
  if (LittleEndian32(block + kSequence1) != LittleEndian32(block + kSequence2)) {
    return Damaged(path,
                   "the hive has changes Windows has not saved; shut Windows down fully first");
  }
  const uint64_t needed = kBaseBlockSize + uint64_t{LittleEndian32(block + kBinsSize)};
  if (static_cast<uint64_t>(st.st_size) < needed) {
    return Damaged(path, "the hive is damaged (shorter than its header says)");
  }
  return Status::Ok();
}

// Creates a new file named `base` + `suffix` (or with a number after it where that is taken) and
// returns its descriptor, or -1 with errno set. Never opens a file that already exists.
int CreateBeside(const std::string& base, const char* suffix, std::string* name) {
  for (int i = 0; i < kNameAttempts; ++i) {
    *name = base + suffix + (i == 0 ? std::string() : std::to_string(i));
    const int fd = ::open(name->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

Status CopyAll(int from, int to, const std::string& what) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(from, buffer, sizeof buffer);
    if (got == 0) return Status::Ok();
    if (got < 0) {
      if (errno == EINTR) continue;
      return FromErrno(errno, what);
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(to, buffer + done, static_cast<size_t>(got - done));
      if (put < 0) {
        if (errno == EINTR) continue;
        return FromErrno(errno, what);
      }
      done += put;
    }
  }
}

// Copies the hive as it is on disk to a new backup file beside it.
Status MakeBackup(const std::string& path) {
  const int from = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) return FromErrno(errno, path);
  std::string backup;
  const int to = CreateBeside(path, kBackupSuffix, &backup);
  if (to < 0) {
    const Status status = FromErrno(errno, backup);
    ::close(from);
    return status;
  }
  Status status = CopyAll(from, to, backup);
  if (status.ok() && ::fsync(to) != 0) status = FromErrno(errno, backup);
  ::close(from);
  if (::close(to) != 0 && status.ok()) status = FromErrno(errno, backup);
  if (!status.ok()) ::unlink(backup.c_str());
  return status;
}

// Gives the temporary file what the hive has besides its content, as far as permitted.
void CopyMetadata(int fd, const struct stat& hive, const std::string& hive_path) {
  // The owner is kept where permitted; the mode follows, as a change of owner clears set-id bits.
  if (::fchown(fd, hive.st_uid, hive.st_gid) != 0) {
  }
  ::fchmod(fd, hive.st_mode & 07777);
  char word[4];
  if (::getxattr(hive_path.c_str(), kNtfsAttributes, word, sizeof word) == sizeof word) {
    ::fsetxattr(fd, kNtfsAttributes, word, sizeof word, 0);
  }
}

// Commits the loaded hive to a new temporary file beside it and flushes that file.
Status WriteTemporary(hive_h* handle, const std::string& path, const struct stat& hive,
                      std::string* temp) {
  const int claim = CreateBeside(path, kTempSuffix, temp);
  if (claim < 0) return FromErrno(errno, *temp);
  ::close(claim);
  errno = 0;
  if (hivex_commit(handle, temp->c_str(), 0) != 0) {
    const Status status = FromErrno(errno != 0 ? errno : EIO, *temp);
    ::unlink(temp->c_str());
    return status;
  }
  const int fd = ::open(temp->c_str(), O_RDWR | O_CLOEXEC);
  Status status = fd < 0 ? FromErrno(errno, *temp) : Status::Ok();
  if (status.ok()) {
    CopyMetadata(fd, hive, path);
    if (::fsync(fd) != 0) status = FromErrno(errno, *temp);
    if (::close(fd) != 0 && status.ok()) status = FromErrno(errno, *temp);
  }
  if (!status.ok()) ::unlink(temp->c_str());
  return status;
}

void SyncDirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

HiveFile::~HiveFile() {
  if (handle_ != nullptr) hivex_close(handle_);
}

Status HiveFile::Load(const std::string& path, std::unique_ptr<HiveFile>* hive) {
  Status status = CheckBaseBlock(path);
  if (!status.ok()) return status;
  errno = 0;
  hive_h* handle = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
  if (handle == nullptr) {
    const int err = errno;
    if (err == ENOENT || err == EACCES || err == EPERM || err == EIO) return FromErrno(err, path);
    return Damaged(path, "the hive is damaged" +
                             (err != 0 ? " (" + std::string(std::strerror(err)) + ")" : ""));
  }
  hive->reset(new HiveFile(path, handle));
  if (!(*hive)->Identify()) {
    status = FromErrno(errno, path);
    hive->reset();
  }
  return status;
}

bool HiveFile::Identify() {
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) return false;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  size_ = st.st_size;
  modified_ns_ = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return true;
}

bool HiveFile::Current() const {
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) return false;
  const long long modified_ns =
      static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return st.st_dev == device_ && st.st_ino == inode_ && st.st_size == size_ &&
         modified_ns == modified_ns_;
}

Status HiveFile::Save(const HiveCommitHooks& hooks, bool* backed_up) {
  // Renaming over a file needs no right to the file itself, so ask for one first: a hive that is
  // read-only, immutable or on a read-only volume stays as it is.
  const int probe = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
  if (probe < 0) return FromErrno(errno, path_);
  struct stat hive;
  const bool described = ::fstat(probe, &hive) == 0;
  const int err = errno;
  ::close(probe);
  if (!described) return FromErrno(err, path_);

  if (!*backed_up) {
    const Status status = MakeBackup(path_);
    if (!status.ok()) return status;
    *backed_up = true;
  }
  std::string temp;
  Status status = WriteTemporary(handle_, path_, hive, &temp);
  if (!status.ok()) return status;
  if (hooks.before_replace) hooks.before_replace(temp, path_);
  if (::rename(temp.c_str(), path_.c_str()) != 0) {
    status = FromErrno(errno, path_);
    ::unlink(temp.c_str());
    return status;
  }
  SyncDirectoryOf(path_);
  Identify();
  return Status::Ok();
}

}  // namespace quelix
