// The one owner of an open POSIX descriptor: whatever opens one hands it to an OwnedFd, which
// closes it when it goes, so no path out of a function leaks it or closes it twice.
#pragma once

#include <unistd.h>

#include <cerrno>

namespace quelix {

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

  // Closes now and says how it went: 0, or the errno of a failed close. For a file just
  // written, a failed close can be the first word of a lost write, so the caller must see it.
  // The descriptor is gone either way (Linux frees it even when close fails), so it is never
  // closed a second time. Nothing open: 0.
  [[nodiscard]] int Close() {
    const int fd = Release();
    if (fd < 0) return 0;
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_ = -1;
};

}  // namespace quelix
