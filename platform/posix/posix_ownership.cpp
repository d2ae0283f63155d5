#include "platform/posix/posix_ownership.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/posix/posix_errors.h"

namespace quelix {
namespace {

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

Status Refused(const std::string& what) {
  return {ErrorCode::kOther, what};
}

// Checks the folder `st` at `path`; `next` is the folder below it on the way, or null at the end.
// A folder others may write is passed only where it is sticky and the next folder is the user's
// or root's: then no one else can rename or delete that one.
Status CheckStep(const struct stat& st, const std::string& path, const struct stat* next) {
  const uid_t user = ::geteuid();
  if (st.st_uid != user && st.st_uid != 0) {
    return Refused("the folder " + path + " belongs to another user");
  }
  const bool others_write = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  const bool next_held = next && (next->st_uid == user || next->st_uid == 0);
  if (others_write && !((st.st_mode & S_ISVTX) && next_held)) {
    return Refused("the folder " + path + " may be changed by other users");
  }
  return Status::Ok();
}

}  // namespace

Status AbsolutePath(const std::string& path, std::string* absolute) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path full =
      path.empty() || path[0] != '/' ? fs::current_path(error) / path : fs::path(path);
  if (error) return FromErrno(error.value(), path);
  std::string normal = full.lexically_normal().string();
  // "/a/.." is "/" and "//" stays "//" after lexical normalization: both name the top.
  while (normal.size() > 1 && normal.starts_with("//")) normal.erase(0, 1);
  *absolute = normal;
  return Status::Ok();
}

Status CheckOwnFolderChain(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                         &std::free);
  if (!real) return FromErrno(errno, path);
  const std::string resolved = real.get();
  Fd here;
  here.fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  struct stat st;
  if (here.fd < 0 || ::fstat(here.fd, &st) != 0) return FromErrno(errno, "/");
  std::string walked = "/";
  for (size_t start = 1; start < resolved.size();) {
    size_t end = resolved.find('/', start);
    if (end == std::string::npos) end = resolved.size();
    const std::string name = resolved.substr(start, end - start);
    start = end + 1;
    Fd next;
    next.fd = ::openat(here.fd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat next_st;
    if (next.fd < 0 || ::fstat(next.fd, &next_st) != 0) {
      // A link put there since the path was resolved: someone changes the way meanwhile.
      return FromErrno(errno, walked + name);
    }
    const Status step = CheckStep(st, walked, &next_st);
    if (!step.ok()) return step;
    std::swap(here.fd, next.fd);
    st = next_st;
    walked += name + "/";
  }
  return CheckStep(st, path, nullptr);
}

Status CheckOwnInfo(const FileInfo& info, const std::string& path, bool secret) {
  const int64_t user = ::geteuid();
  if (info.attributes.owner != user) return Refused(path + " belongs to another user");
  if ((info.attributes.word & (secret ? 077u : 022u)) != 0) {
    return Refused(path +
                   (secret ? " may be read by other users" : " may be changed by other users"));
  }
  return Status::Ok();
}

}  // namespace quelix
