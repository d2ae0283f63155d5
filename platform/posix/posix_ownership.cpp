#include "platform/posix/posix_ownership.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "platform/posix/owned_fd.h"
#include "platform/posix/posix_errors.h"

namespace quelix {
namespace {

// Links followed on one path before it counts as a loop, as the kernel counts them.
constexpr int kMaxLinks = 40;

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

// The names of `path` in order, empty ones and "." left out.
std::deque<std::string> Names(const std::string& path) {
  std::deque<std::string> names;
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(start, end - start);
    if (!name.empty() && name != ".") names.push_back(name);
    start = end + 1;
  }
  return names;
}

// Puts the names the link `link_fd` points to in front of `names`; `*from_top` where they start
// at "/".
Status FollowLink(int link_fd, const std::string& path, int* links, std::deque<std::string>* names,
                  bool* from_top) {
  char target[PATH_MAX];
  const ssize_t size = ::readlinkat(link_fd, "", target, sizeof target - 1);
  if (size < 0) return FromErrno(errno, path);
  if (++*links > kMaxLinks) return FromErrno(ELOOP, path);
  const std::deque<std::string> rest = Names(std::string(target, static_cast<size_t>(size)));
  names->insert(names->begin(), rest.begin(), rest.end());
  *from_top = target[0] == '/';
  return Status::Ok();
}

// The folders walked from "/" down to where the walk stands, each held open and checked.
class Walk {
 public:
  Status Top() {
    while (folders_.size() > 1) Up();
    if (!folders_.empty()) return Status::Ok();
    Folder top{OwnedFd(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)), {}, "/"};
    if (!top.fd.valid() || ::fstat(top.fd.get(), &top.st) != 0) return FromErrno(errno, "/");
    folders_.push_back(std::move(top));
    return Status::Ok();
  }
  // Back to the folder above, the one the walk came from: checked already, as those above it.
  void Up() {
    if (folders_.size() < 2) return;
    folders_.pop_back();
  }
  void Down(OwnedFd fd, const struct stat& st, const std::string& name) {
    std::string path = folders_.back().path + name + "/";
    folders_.push_back({std::move(fd), st, std::move(path)});
  }
  int fd() const { return folders_.back().fd.get(); }
  const struct stat& st() const { return folders_.back().st; }
  const std::string& path() const { return folders_.back().path; }

 private:
  struct Folder {
    OwnedFd fd;
    struct stat st;
    std::string path;
  };
  std::vector<Folder> folders_;
};

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
  // The path is walked as it is written, each link where it stands: a link in a folder others
  // may change could lead elsewhere by the time the program opens the path again, so the folder
  // holding it is checked as every other folder on the way.
  std::string start = path;
  if (start.empty() || start[0] != '/') {
    std::error_code error;
    start = std::filesystem::current_path(error).string() + "/" + path;
    if (error) return FromErrno(error.value(), path);
  }
  std::deque<std::string> names = Names(start);
  Walk walk;
  Status status = walk.Top();
  for (int links = 0; status.ok() && !names.empty();) {
    const std::string name = names.front();
    names.pop_front();
    if (name == "..") {
      walk.Up();
      continue;
    }
    OwnedFd next(::openat(walk.fd(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!next.valid()) return FromErrno(errno, walk.path() + name);
    struct stat next_st;
    // The folder holding the name, and the name itself, must be out of others' reach.
    status = ::fstat(next.get(), &next_st) == 0 ? CheckStep(walk.st(), walk.path(), &next_st)
                                                : FromErrno(errno, walk.path() + name);
    if (status.ok() && S_ISLNK(next_st.st_mode)) {
      bool from_top = false;
      status = FollowLink(next.get(), path, &links, &names, &from_top);
      if (status.ok() && from_top) status = walk.Top();
    } else if (status.ok() && !S_ISDIR(next_st.st_mode)) {
      status = FromErrno(ENOTDIR, walk.path() + name);
    } else if (status.ok()) {
      walk.Down(std::move(next), next_st, name);
    }
  }
  return status.ok() ? CheckStep(walk.st(), path, nullptr) : status;
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
