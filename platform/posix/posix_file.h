// The POSIX backend's open files and directories, shared by its parts.
#pragma once

#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/file_system.h"
#include "platform/posix/owned_fd.h"

namespace quelix {

class PosixFile final : public File {
 public:
  // `size`, where known (a file opened for reading), ends the reading there: the read that would
  // only say "no more" is never made. `sparse`: the file takes less room than its size, so it may
  // have holes worth looking for.
  PosixFile(OwnedFd fd, std::string path, int64_t size = -1, bool sparse = false)
      : fd_(std::move(fd)), path_(std::move(path)), size_(size), sparse_(sparse) {}
  ~PosixFile() override;
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  Status Read(char* buffer, size_t capacity, size_t* got) override;
  Status SkipHole(uint64_t* skipped) override;
  Status Write(const char* data, size_t size) override;
  Status WriteHole(uint64_t length) override;
  Status Rewind() override;
  Status Sync() override;
  Status Close() override;
  Status GetInfo(FileInfo* info) override;
  void WillNeed() override;
  Status CopyMetadataTo(File& copy, std::vector<std::string>* lost) override;

  int fd() const { return fd_.get(); }
  // For a close in a batch with others: does what Close does besides closing and hands over the
  // descriptor (-1 where none is open). A file that holds a lease is closed by Close instead:
  // -1, and nothing done.
  int ReleaseToClose();
  const std::string& path() const { return path_; }

  // Opened to be replaced (OpenMode::kReadHeld): as root or the file's owner, takes a read
  // lease, so that any other program's open for writing is seen (kSharingViolation where one has
  // it open for writing already), and records the file's state from then on. Every read after
  // must end exactly at that size, and StillAsOpened() tells whether anything changed since.
  Status Hold();
  bool held() const { return held_; }
  // kChanged where the file's size, modification or change time differ from when it was held,
  // or its lease was broken (another program opened it for writing).
  Status StillAsOpened() const;
  // The same, but for the change time, which a rename of the file moves too: kChanged where the
  // file was written since it was held, or another program opened it for writing.
  Status StillUnwritten() const;

  // For a copy this program made and alone has open, while it takes the original's name: a write
  // lease makes any other program's open of it wait until LetWritersIn(), so that whoever opens
  // the name meanwhile is seen before the program decides which file keeps the name. False where
  // no lease can be had; the caller then looks at the copy's size and time only.
  bool GuardAgainstWriters();
  // Whether another program's open for writing waits on the guard (a reader's does not count).
  bool WriterWaiting() const;
  // Before a copy is deleted: whether another program may have it open for writing. Where the
  // copy is not guarded, true unless the guard can be taken now (nobody has it open).
  bool OthersMayWrite();
  void LetWritersIn();

 private:
  Status Changed() const;
  Status CheckLease() const;
  // The first read of the file: tried without waiting for the disk, which tells whether the page
  // cache holds the files being read (see WillNeed); the plain read where it must wait.
  ssize_t FirstRead(char* buffer, size_t capacity);
  void AskForData();
  // The cold-read pacing forgets the file, which is about to be closed.
  void LeavePace();

  friend class ReadPace;

  OwnedFd fd_;
  std::string path_;
  int64_t size_;
  int64_t offset_ = 0;
  // A file with holes is read extent by extent, at offset_ (pread), up to data_end_, where the
  // data found by the last SkipHole ends.
  bool sparse_;
  int64_t data_end_ = 0;
  bool held_ = false;
  bool leased_ = false;
  bool guarded_ = false;    // a write lease (GuardAgainstWriters)
  bool will_need_ = false;  // WillNeed was called: ReadPace may hold the file until it is closed
  struct stat opened_ {};
};

// A file's description from its status (and, for a regular file open on `fd`, its Windows
// attributes where an NTFS driver shows them).
FileInfo DescribeStat(const struct stat& st, int fd);

// True when `name` in the folder open on `dirfd` is, right now and without following a link, the
// file open on `fd`.
bool NamesFile(int dirfd, const std::string& name, int fd);

// How a file below a directory is to be opened.
struct OpenRequest {
  int flags = 0;    // open(2) flags besides the ones that keep links out
  mode_t mode = 0;  // for O_CREAT
};

// Opens `relative` below the directory open on `dirfd`: never through a symbolic link, never
// through "..", never onto another device than `device`. Returns the descriptor, or -1 with errno
// set (ELOOP for a link on the way, EXDEV for another volume or a way out of the directory).
int OpenBeneath(int dirfd, dev_t device, const std::string& relative, const OpenRequest& request);
// What OpenBeneath asks openat2 for, for `request`.
open_how BeneathHow(const OpenRequest& request);
// The errno OpenBeneath tells for its openat2 of `relative` failing with `err`: ELOOP where the
// name is a link, whatever the kernel said.
int LinkOnTheWay(int dirfd, const std::string& relative, int err);
// Whether OpenBeneath opens `relative`, a path of several names, in one system call (openat2,
// Linux 5.6 on, as far as the kernel has told so far; a path of PATH_MAX or more goes name by
// name, one call for every folder on the way).
bool OpensBeneathAtOnce(const std::string& relative);

// Checks that what is open on `fd` is a regular file (kNotAFile otherwise) and gives its size,
// and whether it takes less room on the volume than its size (it may have holes); makes its reads
// blocking again unless `keep_nonblocking` (a local file system, where the flag means nothing for
// a regular file).
Status RequireRegular(int fd, const std::string& path, bool keep_nonblocking, int64_t* size,
                      bool* sparse = nullptr);

// True for the file systems on which O_NONBLOCK changes nothing for a regular file: the local
// disk and memory ones. Network and FUSE file systems may honour it.
bool NonblockingIsHarmless(int fd);

// A directory open on `fd`; `nonblock_harmless` as NonblockingIsHarmless said for its volume;
// `as_root` whether the process ran as root when the top of its tree was opened. Asked once a
// tree, not at every open: a process that drops its rights does so between commands, which open
// their trees afresh, and an open that may not keep the access time is retried without.
std::unique_ptr<Directory> MakePosixDirectory(OwnedFd fd, dev_t device, std::string path,
                                              bool nonblock_harmless, bool as_root);

}  // namespace quelix
