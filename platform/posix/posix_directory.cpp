// Directories held open by descriptor: every name below one is looked up relative to it, and a
// file is replaced only while its name still names what the program read.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/uring_batch.h"

namespace quelix {
namespace {

// One listing call takes a large folder (thousands of entries) in a few system calls.
constexpr size_t kListBuffer = 256 * 1024;

Status LinkAware(int err, const std::string& path) {
  if (err == ELOOP) return {ErrorCode::kLink, path + ": a link stands on its way"};
  if (err == EXDEV) return {ErrorCode::kOtherVolume, path + ": leads out of the folder"};
  return FromErrno(err, path);
}

PosixFile* Own(File* file) {
  return dynamic_cast<PosixFile*>(file);
}

// `as_root`: whether the process ran as root when the tree's top folder was opened.
OpenRequest RequestFor(OpenMode mode, bool as_root) {
  OpenRequest request{O_NOCTTY, 0666};
  switch (mode) {
    case OpenMode::kRead:
    case OpenMode::kReadHeld:
      // Reading another user's page is no reason to write its access time: root may say so.
      request.flags |= O_RDONLY | O_NONBLOCK | (as_root ? O_NOATIME : 0);
      break;
    case OpenMode::kWriteNew:
      // Nobody else reads a half-written copy; it gets its final mode before it takes a place.
      request.flags |= O_RDWR | O_CREAT | O_EXCL;
      request.mode = 0600;
      break;
    case OpenMode::kWriteTruncate:
      request.flags |= O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK;
      break;
    case OpenMode::kAppend:
      request.flags |= O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK;
      break;
  }
  return request;
}

// True where `name` in the folder is, by its status, something else than a regular file: a
// device, pipe or socket named like a page is then never opened (opening some devices acts).
// The descriptor's own type is checked after the open all the same.
bool KnownNotAFile(int dirfd, const std::string& name) {
  struct stat st;
  return name.find('/') == std::string::npos &&
         ::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode) &&
         !S_ISLNK(st.st_mode);
}

class PosixDirectory final : public Directory {
 public:
  PosixDirectory(OwnedFd fd, dev_t device, std::string path, bool nonblock_harmless, bool as_root)
      : fd_(std::move(fd)),
        device_(device),
        path_(std::move(path)),
        nonblock_harmless_(nonblock_harmless),
        as_root_(as_root) {}

  const std::string& path() const override { return path_; }

  Status List(const std::function<bool(const DirEntry&)>& visit) override {
    // A directory is mostly listed once, right after it is opened: only a second listing goes
    // back to the start.
    if (listed_ && ::lseek(fd_.get(), 0, SEEK_SET) < 0) return FromErrno(errno, path_);
    listed_ = true;
    std::unique_ptr<char[]> buffer(new char[kListBuffer]);
    DirEntry entry;
    for (;;) {
      const ssize_t got = ::getdents64(fd_.get(), buffer.get(), kListBuffer);
      if (got == 0) return Status::Ok();
      if (got < 0) return FromErrno(errno, path_);
      for (ssize_t at = 0; at < got;) {
        const auto* e = reinterpret_cast<const dirent64*>(buffer.get() + at);
        at += e->d_reclen;
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        Describe(*e, &entry);
        if (!visit(entry)) return Status::Ok();
      }
    }
  }

  Status OpenDirectory(const std::string& relative, std::unique_ptr<Directory>* dir) override {
    const std::string path = path_ + relative;
    OwnedFd fd(OpenBeneath(fd_.get(), device_, relative, {O_RDONLY | O_DIRECTORY, 0}));
    if (!fd.valid()) return LinkAware(errno, path);
    *dir = MakePosixDirectory(std::move(fd), device_, relative.empty() ? path_ : path + "/",
                              nonblock_harmless_, as_root_);
    return Status::Ok();
  }

  Status OpenFile(const std::string& relative, OpenMode mode,
                  std::unique_ptr<File>* file) override {
    const bool reading = mode == OpenMode::kRead || mode == OpenMode::kReadHeld;
    if (reading && KnownNotAFile(fd_.get(), relative)) {
      return {ErrorCode::kNotAFile, path_ + relative + ": not a regular file"};
    }
    return Open(relative, mode, file);
  }

  Status OpenListedFile(const std::string& name, std::unique_ptr<File>* file) override {
    // The listing's type stands in for the status query: a device or pipe swapped in since is
    // opened without blocking or taking a terminal, and refused by the check after the open.
    return Open(name, OpenMode::kRead, file);
  }

  void OpenListedFiles(const std::vector<std::string>& names,
                       std::vector<OpenedFile>* opened) override {
    std::vector<int> fds;
    UringBatch* batch = Batch(names.size());
    if (batch != nullptr && std::all_of(names.begin(), names.end(), OpensBeneathAtOnce)) {
      batch->OpenAll(fd_.get(), names, BeneathHow(RequestFor(OpenMode::kRead, as_root_)), &fds);
    }
    opened->resize(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
      OpenedFile& one = (*opened)[i];
      if (i < fds.size() && fds[i] >= 0) {
        one.status = Finish(OwnedFd(fds[i]), names[i], OpenMode::kRead, &one.file);
      } else if (i < fds.size() && fds[i] != -EAGAIN) {
        // The batch made the plain open's first attempt: the rest goes on as after it, so that
        // a name is tried no more often than the plain open tries it (a site's own watcher of
        // opens sees each), and every failure is told alike.
        one.status =
            AfterFailedOpen(LinkOnTheWay(fd_.get(), names[i], -fds[i]), names[i], OpenMode::kRead,
                            RequestFor(OpenMode::kRead, as_root_), &one.file);
      } else {
        // Not made (no batch, or the ring could not take it), or to be tried again as the plain
        // open tries again (a rename elsewhere made the kernel ask for it).
        one.status = Open(names[i], OpenMode::kRead, &one.file);
      }
    }
  }
  size_t ListedFilesOpenedAtOnce() override {
    const bool refused = batch_asked_ ? !batch_ || !batch_->usable() : UringBatch::Refused();
    return refused ? 1 : UringBatch::kEntries;
  }
  void CloseReadFiles(std::vector<std::unique_ptr<File>>* files) override {
    UringBatch* batch = Batch(files->size());
    if (batch != nullptr) {
      std::vector<int> fds;
      for (std::unique_ptr<File>& file : *files) {
        PosixFile* posix = file ? Own(file.get()) : nullptr;
        const int fd = posix != nullptr ? posix->ReleaseToClose() : -1;
        if (fd >= 0) fds.push_back(fd);
      }
      batch->CloseAll(fds);
    }
    // What the batch did not take (a file that holds a lease, another backend's) one by one.
    Directory::CloseReadFiles(files);
  }

  bool OpensNestedPathAtOnce(const std::string& relative) const override {
    return OpensBeneathAtOnce(relative);
  }
  bool UsableFromAnotherThread() const override { return true; }

  Status Replace(std::unique_ptr<File> original, const std::string& name,
                 std::unique_ptr<File> copy, const std::string& copy_name) override {
    PosixFile* held = Own(original.get());
    PosixFile* made = Own(copy.get());
    const std::string path = path_ + name;
    if (held == nullptr || made == nullptr) return {ErrorCode::kOther, path + ": foreign file"};
    // Someone who may write here can swap either name at any moment: act only while both still
    // name what the program holds, and look again once the move is done.
    if (!NamesFile(fd_.get(), copy_name, made->fd())) {
      return {ErrorCode::kChanged, path_ + copy_name + ": the copy was replaced by another file"};
    }
    if (!NamesFile(fd_.get(), name, held->fd())) {
      IgnoreResult(Remove(std::move(copy), copy_name), "the change found is what is reported");
      return {ErrorCode::kChanged, path + ": replaced by another file"};
    }
    // The last look at what was read: a save made since (a lease broken, a new size or time)
    // keeps the saved file.
    const Status still = held->held() ? held->StillAsOpened() : Status::Ok();
    if (!still.ok()) {
      IgnoreResult(Remove(std::move(copy), copy_name), "the change found is what is reported");
      return still;
    }
    // The copy and the original trade names, so that the original keeps one until it is known
    // that nobody wrote it after that last look: a program that opened it for writing meanwhile
    // waits on the lease, and would otherwise write into a file no name leads to.
    made->GuardAgainstWriters();  // let go when the copy is closed, at the end of this call
    struct stat copy_as_made;
    if (::fstat(made->fd(), &copy_as_made) == 0 &&
        ::renameat2(fd_.get(), copy_name.c_str(), fd_.get(), name.c_str(), RENAME_EXCHANGE) == 0) {
      return SettleExchange(*held, std::move(copy), copy_as_made, name, copy_name);
    }
    // A file system that cannot exchange names (a network one, say) gets the plain rename.
    if ((errno != EINVAL && errno != ENOTSUP && errno != ENOSYS) ||
        ::renameat(fd_.get(), copy_name.c_str(), fd_.get(), name.c_str()) != 0) {
      const Status failed = FromErrno(errno, path);
      IgnoreResult(Remove(std::move(copy), copy_name), "the failed rename is what is reported");
      return failed;
    }
    return InPlace(*made, name);
  }

  Status Remove(std::unique_ptr<File> file, const std::string& name) override {
    PosixFile* made = Own(file.get());
    if (made == nullptr || !NamesFile(fd_.get(), name, made->fd())) {
      return {ErrorCode::kChanged, path_ + name + ": no longer the program's file"};
    }
    if (::unlinkat(fd_.get(), name.c_str(), 0) != 0) return FromErrno(errno, path_ + name);
    return Status::Ok();
  }

  Status Sync() override {
    // Some file systems (network, FUSE) cannot sync a directory; the names themselves stand.
    if (::fsync(fd_.get()) != 0 && errno != EINVAL && errno != ENOTSUP) {
      return FromErrno(errno, path_);
    }
    return Status::Ok();
  }

  Status GetInfo(FileInfo* info) override {
    struct stat st;
    if (::fstat(fd_.get(), &st) != 0) return FromErrno(errno, path_);
    *info = DescribeStat(st, fd_.get());
    return Status::Ok();
  }

  Status FreeSpace(uint64_t* free, uint64_t* total) override {
    struct statvfs volume;
    if (::fstatvfs(fd_.get(), &volume) != 0) return FromErrno(errno, path_);
    *free = static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
    *total = static_cast<uint64_t>(volume.f_blocks) * volume.f_frsize;
    return Status::Ok();
  }

 private:
  // Opens `relative` below this folder; `mode` as OpenFile, without its status query.
  Status Open(const std::string& relative, OpenMode mode, std::unique_ptr<File>* file) {
    const OpenRequest request = RequestFor(mode, as_root_);
    OwnedFd fd(OpenBeneath(fd_.get(), device_, relative, request));
    if (!fd.valid()) return AfterFailedOpen(errno, relative, mode, request, file);
    return Finish(std::move(fd), relative, mode, file);
  }

  // How Open goes on after its attempt with `request` failed with `err`.
  Status AfterFailedOpen(int err, const std::string& relative, OpenMode mode, OpenRequest request,
                         std::unique_ptr<File>* file) {
    if (err == EPERM && (request.flags & O_NOATIME)) {
      // Root without the right to pass over owners (a container's) may not ask for it.
      request.flags &= ~O_NOATIME;
      OwnedFd fd(OpenBeneath(fd_.get(), device_, relative, request));
      if (fd.valid()) return Finish(std::move(fd), relative, mode, file);
      err = errno;
    }
    return LinkAware(err, path_ + relative);
  }

  // The rest of Open, for `fd`, just opened at `relative`.
  Status Finish(OwnedFd fd, const std::string& relative, OpenMode mode,
                std::unique_ptr<File>* file) {
    const std::string path = path_ + relative;
    const bool reading = mode == OpenMode::kRead || mode == OpenMode::kReadHeld;
    int64_t size = -1;
    bool sparse = false;
    const Status status =
        RequireRegular(fd.get(), path, reading && nonblock_harmless_, &size, &sparse);
    if (!status.ok()) return status;
    auto opened =
        std::make_unique<PosixFile>(std::move(fd), path, reading ? size : -1, reading && sparse);
    if (mode == OpenMode::kReadHeld) {
      const Status held = opened->Hold();
      if (!held.ok()) return held;
    }
    *file = std::move(opened);
    return Status::Ok();
  }

  // After the exchange: `copy` stands at `name` and the original, `held`, at `copy_name`. The
  // original is deleted where nobody wrote it since it was opened, nor the copy since the last
  // look (`copy_as_made`: it may belong to the page's owner by then). Where a program opened the
  // name after the exchange, it has the copy, so the copy keeps the name; where one had opened the
  // original, the names are traded back, so that it writes into the file at `name` again. A file
  // someone may still write into is never deleted: the report names where it stays.
  Status SettleExchange(PosixFile& held, std::unique_ptr<File> copy,
                        const struct stat& copy_as_made, const std::string& name,
                        const std::string& copy_name) {
    PosixFile& made = *Own(copy.get());
    const Status original = held.held() ? held.StillUnwritten() : Status::Ok();
    if (WrittenSince(made, copy_as_made))
      return KeepCopyAtName(held, made, original, name, copy_name);
    if (original.ok()) {
      if (NamesFile(fd_.get(), copy_name, held.fd()) &&
          ::unlinkat(fd_.get(), copy_name.c_str(), 0) != 0) {
        return {ErrorCode::kIoError,
                path_ + name + ": cleaned, but its original stays as " + path_ + copy_name};
      }
      return InPlace(made, name);
    }
    if (NamesFile(fd_.get(), name, made.fd()) && NamesFile(fd_.get(), copy_name, held.fd()) &&
        ::renameat2(fd_.get(), copy_name.c_str(), fd_.get(), name.c_str(), RENAME_EXCHANGE) == 0) {
      // A program that opened the name between the look above and the trade back has the copy.
      const bool copy_wanted = WrittenSince(made, copy_as_made) || made.OthersMayWrite();
      if (copy_wanted) made.LetWritersIn();
      const Status removed = copy_wanted ? Status::Ok() : Remove(std::move(copy), copy_name);
      std::string told = original.message();
      if (copy_wanted || !removed.ok()) told += "; the cleaned copy stays as " + path_ + copy_name;
      // A folder that could not be synced is told too, without hiding where the copy stays.
      const Status synced = Sync();
      if (!synced.ok()) told += "; " + synced.message();
      return {original.code(), told};
    }
    return {ErrorCode::kChanged, path_ + name + ": changed while it was being replaced; " +
                                     "the file as it was written is " + path_ + copy_name};
  }

  // Whether another program wrote the copy, or waits to, since `as_made`.
  static bool WrittenSince(const PosixFile& made, const struct stat& as_made) {
    struct stat now;
    return made.WriterWaiting() || ::fstat(made.fd(), &now) != 0 ||
           now.st_size != as_made.st_size || now.st_mtim.tv_nsec != as_made.st_mtim.tv_nsec ||
           now.st_mtim.tv_sec != as_made.st_mtim.tv_sec;
  }

  // The copy, at `name`, was opened through that name after the exchange (or through its own by
  // its owner): it keeps the name, with what is written into it. The original goes where nobody
  // wrote it; else it stays, and is named.
  Status KeepCopyAtName(PosixFile& held, PosixFile& made, const Status& original,
                        const std::string& name, const std::string& copy_name) {
    const std::string changed = path_ + name + ": written through its name while it was replaced";
    if (!original.ok() || !NamesFile(fd_.get(), copy_name, held.fd()) ||
        ::unlinkat(fd_.get(), copy_name.c_str(), 0) != 0) {
      IgnoreResult(InPlace(made, name), "the change is what is reported");
      return {ErrorCode::kChanged, changed + "; the file as it was is " + path_ + copy_name};
    }
    IgnoreResult(InPlace(made, name), "the change is what is reported");
    return {ErrorCode::kChanged, changed};
  }

  // Whether the copy, just moved to `name`, is still there; the new name made durable. The names
  // are settled: programs waiting to open the copy need not wait for the folder's sync.
  Status InPlace(PosixFile& made, const std::string& name) {
    made.LetWritersIn();
    const bool in_place = NamesFile(fd_.get(), name, made.fd());
    const Status synced = Sync();
    if (!in_place)
      return {ErrorCode::kChanged, path_ + name + ": replaced by another file meanwhile"};
    return synced;
  }

  void Describe(const dirent64& e, DirEntry* entry) const {
    entry->name = e.d_name;
    entry->attributes = DTTOIF(e.d_type);
    entry->file_id = e.d_ino;
    // The listing tells the type; a mount point, a folder of another volume, is told apart only
    // when it is opened (kOtherVolume), which saves a status query for every folder listed.
    entry->is_directory = e.d_type == DT_DIR;
    entry->is_regular_file = e.d_type == DT_REG;
    if (e.d_type != DT_UNKNOWN) return;
    struct stat st;
    if (::fstatat(fd_.get(), e.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      entry->attributes = st.st_mode;
      entry->is_directory = S_ISDIR(st.st_mode) && st.st_dev == device_;
      entry->is_regular_file = S_ISREG(st.st_mode);
    }
  }

  OwnedFd fd_;
  dev_t device_;
  std::string path_;
  bool nonblock_harmless_;
  bool as_root_;
  bool listed_ = false;
  // Opens and closes handed to the kernel together, for the thread that uses this directory:
  // made for the first batch, so that a directory used one name at a time holds no ring.
  UringBatch* Batch(size_t operations) {
    if (operations < 2) return nullptr;
    if (!batch_asked_) batch_ = UringBatch::Create();
    batch_asked_ = true;
    return batch_ && batch_->usable() ? batch_.get() : nullptr;
  }
  std::unique_ptr<UringBatch> batch_;
  bool batch_asked_ = false;
};

}  // namespace

std::unique_ptr<Directory> MakePosixDirectory(OwnedFd fd, dev_t device, std::string path,
                                              bool nonblock_harmless, bool as_root) {
  return std::make_unique<PosixDirectory>(std::move(fd), device, std::move(path), nonblock_harmless,
                                          as_root);
}

}  // namespace quelix
