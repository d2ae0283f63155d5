// Descriptors the hive code holds: the folders hives were found in, the hives themselves and the
// files written beside them. Names in those folders belong to whoever owns the folder and may be
// swapped at any moment, so every file is reached through a descriptor, never by name twice.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/status.h"

namespace quelix {

// One open descriptor, closed with its owner.
class OwnedFd {
 public:
  OwnedFd() = default;
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() { Reset(); }
  OwnedFd(OwnedFd&& other) noexcept : fd_(other.Release()) {}
  OwnedFd& operator=(OwnedFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// What tells one version of a file from another: which file it is, its size and its last change.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  long long modified_ns = 0;

  static FileIdentity Of(const struct stat& st);
  bool SameFile(const struct stat& st) const { return st.st_dev == device && st.st_ino == inode; }
  bool SameVersion(const struct stat& st) const;
};

// The name under /proc/self/fd that stands for exactly the file open on `fd`, whatever becomes of
// the file's own names. Fails, saying why, where /proc is not mounted: no name can take its place.
Status ProcFdPath(int fd, std::string* path);

}  // namespace quelix
