// The POSIX backend's open files and directories, shared by its parts.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/file_system.h"

namespace quelix {

class PosixFile final : public File {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override;

  Status Read(char* buffer, size_t capacity, size_t* got) override;
  Status Write(const char* data, size_t size) override;
  Status Rewind() override;
  Status Sync() override;
  Status Close() override;
  Status GetInfo(FileInfo* info) override;
  Status CopyMetadataTo(File& copy, std::vector<std::string>* lost) override;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

// A file's description from its status (and, for a regular file open on `fd`, its Windows
// attributes where an NTFS driver shows them).
FileInfo DescribeStat(const struct stat& st, int fd);

// How a file below a directory is to be opened.
struct OpenRequest {
  int flags = 0;    // open(2) flags besides the ones that keep links out
  mode_t mode = 0;  // for O_CREAT
};

// Opens `relative` below the directory open on `dirfd`: never through a symbolic link, never
// through "..", never onto another device than `device`. Returns the descriptor, or -1 with errno
// set (ELOOP for a link on the way, EXDEV for another volume or a way out of the directory).
int OpenBeneath(int dirfd, dev_t device, const std::string& relative, const OpenRequest& request);

// Checks that what is open on `fd` is a regular file (ENXIO-style kNotAFile otherwise) and makes
// its reads blocking again; closes `fd` on failure.
Status RequireRegular(int fd, const std::string& path);

std::unique_ptr<Directory> MakePosixDirectory(int fd, dev_t device, std::string path);

}  // namespace quelix
