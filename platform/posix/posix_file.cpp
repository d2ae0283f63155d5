#include "platform/posix/posix_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_metadata.h"

namespace quelix {
namespace {

// A broken lease is told with SIGIO, whose default action ends the process. The program asks
// for the lease's state itself, so the signal only has to do no harm: a handler that does
// nothing (unlike an ignored signal, not passed on to the programs the program starts), with
// reads restarted. A handler someone else installed stays.
void HandleLeaseSignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (::sigaction(SIGIO, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
    struct sigaction quiet {};
    quiet.sa_handler = [](int) {};
    quiet.sa_flags = SA_RESTART;
    sigemptyset(&quiet.sa_mask);
    ::sigaction(SIGIO, &quiet, nullptr);
  });
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Set once the kernel has refused a read that does not wait (before Linux 4.14, or a file system
// without it): every read is then a plain one.
std::atomic<bool> g_no_nowait_reads{false};

}  // namespace

// Whether the page cache has lately held what the program read. A read-ahead hint costs a system
// call, which on a warm cache buys nothing: while the first reads of the files find their data in
// memory, hints are only noted; the first read that would wait for the disk gives every noted
// hint at once, and from then on each as it comes, until reads find their data again.
class ReadPace {
 public:
  static ReadPace& Get() {
    static ReadPace pace;
    return pace;
  }

  // Hints `file` now where the cache has been missing lately; else notes it.
  void WillNeed(PosixFile& file) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!cold_) return deferred_.push_back(&file);
    }
    // Asked outside the lock (the caller holds the file): the hint's system call may wait for
    // room in the storage's queue, and every thread that opens or reads files takes this lock.
    file.AskForData();
  }

  void Forget(PosixFile& file) {
    std::lock_guard<std::mutex> lock(mutex_);
    deferred_.erase(std::remove(deferred_.begin(), deferred_.end(), &file), deferred_.end());
  }

  // A first read would have waited for the disk.
  void Waited() {
    std::lock_guard<std::mutex> lock(mutex_);
    cached_in_a_row_ = 0;
    cold_ = true;
    for (PosixFile* file : deferred_) file->AskForData();
    deferred_.clear();
  }

  // A first read found its data in memory.
  void Found() {
    // Warm, as a cached tree is from its first reads on, there is nothing to count: no lock.
    if (!cold_.load(std::memory_order_relaxed)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    // Hinted files find their data too once the disk keeps up: only a run of them says the
    // cache holds the tree.
    if (cold_ && ++cached_in_a_row_ >= kCachedToBeWarm) cold_ = false;
  }

 private:
  static constexpr int kCachedToBeWarm = 16;

  std::mutex mutex_;
  // Until a read tells otherwise the disk is taken to be cold: hints for the first files cost
  // little and keep a cold disk busy from the start.
  std::atomic<bool> cold_{true};  // changed under the lock
  int cached_in_a_row_ = 0;
  std::vector<PosixFile*> deferred_;
};

PosixFile::~PosixFile() {
  IgnoreResult(Close(), "a file that mattered was closed, and checked, by its owner");
}

ssize_t PosixFile::FirstRead(char* buffer, size_t capacity) {
  if (!g_no_nowait_reads.load(std::memory_order_relaxed)) {
    iovec part{buffer, capacity};
    const ssize_t n = ::preadv2(fd_.get(), &part, 1, -1, RWF_NOWAIT);
    if (n >= 0) {
      ReadPace::Get().Found();
      return n;
    }
    if (errno == EOPNOTSUPP || errno == EINVAL || errno == ENOSYS) {
      g_no_nowait_reads.store(true, std::memory_order_relaxed);
    } else if (errno == EAGAIN) {
      // The plain read below starts the kernel's own read-ahead for this file.
      ReadPace::Get().Waited();
    } else {
      return n;
    }
  }
  return ::read(fd_.get(), buffer, capacity);
}

Status PosixFile::Hold() {
  // Root may lease any file, another user the files it owns. Without a lease (another user's
  // file, a file system without leases) the state checks below still see a write that moves the
  // file's size or times, but not one through a mapping whose pages were written already.
  HandleLeaseSignals();
  ::fcntl(fd_.get(), F_SETSIG, 0);
  if (::fcntl(fd_.get(), F_SETLEASE, F_RDLCK) == 0) {
    leased_ = true;
  } else if (errno == EAGAIN) {
    return {ErrorCode::kSharingViolation, path_ + ": open for writing by another program"};
  }
  // Taken after the lease: whatever changes the file from here on is seen.
  if (::fstat(fd_.get(), &opened_) != 0) return FromErrno(errno, path_);
  held_ = true;
  size_ = opened_.st_size;
  return Status::Ok();
}

Status PosixFile::Changed() const {
  return {ErrorCode::kChanged, path_ + ": changed while it was being read"};
}

Status PosixFile::CheckLease() const {
  // A lease being broken already reads as unlocked: the writer waits until it is let go. A writer
  // whose open has not reached the lease yet (held up by an on-access scanner, say) breaks
  // nothing so far, but the kernel grants a read lease only where nobody has the file open for
  // writing: asking for it again sees that open too.
  if (!leased_) return Status::Ok();
  if (::fcntl(fd_.get(), F_GETLEASE) != F_RDLCK || ::fcntl(fd_.get(), F_SETLEASE, F_RDLCK) != 0) {
    return Changed();
  }
  return Status::Ok();
}

Status PosixFile::StillAsOpened() const {
  struct stat now;
  if (::fstat(fd_.get(), &now) != 0) return FromErrno(errno, path_);
  if (now.st_size != opened_.st_size || !SameTime(now.st_mtim, opened_.st_mtim) ||
      !SameTime(now.st_ctim, opened_.st_ctim)) {
    return Changed();
  }
  return CheckLease();
}

Status PosixFile::StillUnwritten() const {
  struct stat now;
  if (::fstat(fd_.get(), &now) != 0) return FromErrno(errno, path_);
  if (now.st_size != opened_.st_size || !SameTime(now.st_mtim, opened_.st_mtim)) return Changed();
  return CheckLease();
}

Status PosixFile::Read(char* buffer, size_t capacity, size_t* got) {
  if (held_) {
    // A writer waits for the lease to be let go: stop at once, so that it waits no longer.
    const Status lease = CheckLease();
    if (!lease.ok()) return lease;
  } else if (size_ >= 0 && offset_ >= size_) {
    *got = 0;
    return Status::Ok();
  }
  if (sparse_ && offset_ < data_end_) {
    capacity =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(capacity), data_end_ - offset_));
  }
  for (;;) {
    const ssize_t n = sparse_        ? ::pread(fd_.get(), buffer, capacity, offset_)
                      : offset_ == 0 ? FirstRead(buffer, capacity)
                                     : ::read(fd_.get(), buffer, capacity);
    if (n >= 0) {
      *got = static_cast<size_t>(n);
      offset_ += n;
      // A held file must end where it ended when it was opened; any other file that shrank
      // since has reached its end.
      if (held_ && (n == 0 ? offset_ != size_ : offset_ > size_)) return Changed();
      if (n == 0) size_ = offset_;
      return Status::Ok();
    }
    if (errno != EINTR) return FromErrno(errno, path_);
  }
}

Status PosixFile::SkipHole(uint64_t* skipped) {
  *skipped = 0;
  // Inside the data the last look found, or in a file without holes, there is nothing to ask.
  if (!sparse_ || offset_ < data_end_) return Status::Ok();
  // A copy this program wrote holes into is read back up to its size now.
  struct stat st;
  if (size_ < 0 && ::fstat(fd_.get(), &st) != 0) return FromErrno(errno, path_);
  const int64_t size = size_ >= 0 ? size_ : st.st_size;
  if (offset_ >= size) return Status::Ok();
  off_t data = ::lseek(fd_.get(), offset_, SEEK_DATA);
  if (data < 0 && errno != ENXIO) {
    // A file system that cannot tell: the file is read as it is, zeros and all.
    sparse_ = false;
    return ::lseek(fd_.get(), offset_, SEEK_SET) < 0 ? FromErrno(errno, path_) : Status::Ok();
  }
  // No data after here (ENXIO): the rest, up to the size known at the open, is one hole. Data
  // written beyond that size since is not read, as by Read.
  data = data < 0 ? size : std::min<off_t>(data, size);
  off_t hole = data < size ? ::lseek(fd_.get(), data, SEEK_HOLE) : size;
  if (hole < 0) hole = size;
  data_end_ = hole;
  *skipped = static_cast<uint64_t>(data - offset_);
  offset_ = data;
  return Status::Ok();
}

Status PosixFile::WriteHole(uint64_t length) {
  if (length == 0) return Status::Ok();
  const off_t end = ::lseek(fd_.get(), static_cast<off_t>(length), SEEK_CUR);
  struct stat st;
  if (end < 0 || ::fstat(fd_.get(), &st) != 0) return FromErrno(errno, path_);
  // A hole at the end of the file is made by its size alone.
  if (st.st_size < end && ::ftruncate(fd_.get(), end) != 0) return FromErrno(errno, path_);
  sparse_ = true;
  return Status::Ok();
}

Status PosixFile::Write(const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_.get(), data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FromErrno(errno, path_);
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return Status::Ok();
}

Status PosixFile::Rewind() {
  if (::lseek(fd_.get(), 0, SEEK_SET) < 0) return FromErrno(errno, path_);
  offset_ = 0;
  data_end_ = 0;
  return Status::Ok();
}

Status PosixFile::Sync() {
  if (::fsync(fd_.get()) != 0) return FromErrno(errno, path_);
  return Status::Ok();
}

bool PosixFile::GuardAgainstWriters() {
  if (guarded_) return true;
  HandleLeaseSignals();
  ::fcntl(fd_.get(), F_SETSIG, 0);
  guarded_ = ::fcntl(fd_.get(), F_SETLEASE, F_WRLCK) == 0;
  return guarded_;
}

bool PosixFile::WriterWaiting() const {
  // A write lease being broken reads as what it is to become: a read lease where a reader waits,
  // none where a writer does.
  return guarded_ && ::fcntl(fd_.get(), F_GETLEASE) == F_UNLCK;
}

bool PosixFile::OthersMayWrite() {
  // Without the guard, a write lease is granted only where nobody else has the file open.
  if (!guarded_) return !GuardAgainstWriters();
  return WriterWaiting();
}

void PosixFile::LetWritersIn() {
  if (guarded_) ::fcntl(fd_.get(), F_SETLEASE, F_UNLCK);
  guarded_ = false;
}

void PosixFile::LeavePace() {
  if (will_need_) ReadPace::Get().Forget(*this);
  will_need_ = false;
}

Status PosixFile::Close() {
  LeavePace();
  if ((leased_ || guarded_) && fd_.valid()) ::fcntl(fd_.get(), F_SETLEASE, F_UNLCK);
  leased_ = false;
  guarded_ = false;
  // Linux releases the descriptor even when close reports an error; never retry it.
  const int err = fd_.Close();
  if (err != 0 && err != EINTR) return FromErrno(err, path_);
  return Status::Ok();
}

int PosixFile::ReleaseToClose() {
  if (leased_ || guarded_) return -1;
  LeavePace();
  return fd_.Release();
}

void PosixFile::WillNeed() {
  if (size_ <= 0 || !fd_.valid() || will_need_) return;
  will_need_ = true;
  ReadPace::Get().WillNeed(*this);
}

void PosixFile::AskForData() {
  // The start of the file is what is read first; the kernel's own read-ahead follows the rest.
  constexpr off_t kAhead = 4 << 20;
  if (size_ > 0) ::posix_fadvise(fd_.get(), 0, std::min<off_t>(size_, kAhead), POSIX_FADV_WILLNEED);
}

Status PosixFile::GetInfo(FileInfo* info) {
  struct stat st;
  if (::fstat(fd_.get(), &st) != 0) return FromErrno(errno, path_);
  *info = DescribeStat(st, fd_.get());
  return Status::Ok();
}

Status PosixFile::CopyMetadataTo(File& copy, std::vector<std::string>* lost) {
  auto* target = dynamic_cast<PosixFile*>(&copy);
  if (target == nullptr) return {ErrorCode::kOther, path_ + ": not a file of this backend"};
  // The copy is guarded while the program still owns it: no right to lease is needed then, and
  // nobody else can have it open yet. The guard outlasts the change of owner.
  target->GuardAgainstWriters();
  const Status status = CopyMetadata(fd_.get(), target->fd_.get(), lost);
  if (!status.ok()) return {status.code(), target->path_ + ": " + status.message()};
  return status;
}

}  // namespace quelix
