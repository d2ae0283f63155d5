#include "platform/posix/hive_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/posix_metadata.h"

namespace quelix {
namespace {

constexpr char kBackupSuffix[] = ".bak";
constexpr char kTempSuffix[] = ".tmp";
// How many numbered names beside the hive are tried before giving up on a free one.
constexpr int kNameAttempts = 100;

// Copies the whole file open on `from` (whatever its offset) to `to`.
Status CopyAll(int from, int to, const std::string& what) {
  char buffer[1 << 16];
  for (off_t offset = 0;;) {
    const ssize_t got = ::pread(from, buffer, sizeof buffer, offset);
    if (got == 0) return Status::Ok();
    if (got < 0) {
      if (errno == EINTR) continue;
      return FromErrno(errno, what);
    }
    offset += got;
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

}  // namespace

HiveFile::~HiveFile() {
  client_.Unload(slot_);
}

Status HiveFile::Load(const HiveLocation& location, HiveClient& client, uint32_t slot,
                      std::unique_ptr<HiveFile>* hive) {
  // Not blocking: the name may have become a FIFO since it was found.
  OwnedFd fd(::openat(location.folder.get(), location.name.c_str(),
                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return FromErrno(errno, location.path);
  if (!S_ISREG(st.st_mode)) return {ErrorCode::kNotAFile, location.path + ": not a file"};
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  const Status status = client.Load(slot, fd.get());
  if (!status.ok()) return {status.code(), location.path + ": " + status.message()};
  hive->reset(new HiveFile(location, client, slot, std::move(fd), FileIdentity::Of(st)));
  return Status::Ok();
}

bool HiveFile::Current() const {
  struct stat st;
  return ::fstatat(location_.folder.get(), location_.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         identity_.SameVersion(st);
}

Status HiveFile::AboutHive(const Status& status) const {
  return status.ok() ? status : Status(status.code(), path() + ": " + status.message());
}

Status HiveFile::Save(const HiveCommitHooks& hooks, bool* backed_up, OriginalKeeper* keeper) {
  Status status = CheckWritable();
  if (status.ok() && keeper == nullptr && !*backed_up) {
    status = MakeBackup();
    *backed_up = status.ok();
  }
  if (!status.ok()) return status;
  NewFile temp;
  status = CreateBeside(kTempSuffix, &temp);
  if (!status.ok()) return status;
  status = WriteTemporary(hooks, temp);
  // Every version replaced is kept: a hive saved twice in one run is put back step by step.
  if (status.ok() && keeper != nullptr) status = KeepWith(*keeper, temp);
  if (status.ok()) return Replace(hooks, &temp);
  RemoveIfOurs(temp);
  return status;
}

Status HiveFile::KeepWith(OriginalKeeper& keeper, const NewFile& temp) const {
  // The keeper reads both through descriptors of their own, never by name.
  PosixFile original(::fcntl(hive_.get(), F_DUPFD_CLOEXEC, 0), path());
  PosixFile replacement(::fcntl(temp.fd.get(), F_DUPFD_CLOEXEC, 0), location_.Beside(temp.name));
  if (original.fd() < 0 || replacement.fd() < 0) return FromErrno(errno, path());
  const Status kept = keeper.Keep(original, path(), replacement);
  if (kept.ok()) return kept;
  return {kept.code(), path() + ": the hive could not be backed up, so it was not changed (" +
                           kept.message() + ")"};
}

Status HiveFile::CheckWritable() const {
  // Renaming over a file needs no right to the file itself, so ask for one first: a hive that is
  // read-only, immutable or on a read-only volume stays as it is. The held file is asked, not
  // whatever its name stands for now.
  std::string held;
  const Status status = ProcFdPath(hive_.get(), &held);
  if (!status.ok()) return AboutHive(status);
  const OwnedFd probe(::open(held.c_str(), O_WRONLY | O_CLOEXEC));
  if (!probe.valid()) return FromErrno(errno, path());
  return Status::Ok();
}

// Creates a new file named after the hive with `suffix` (and a number where that is taken) in the
// hive's folder. Never opens a file that already exists, nor follows a link.
Status HiveFile::CreateBeside(const char* suffix, NewFile* file) const {
  for (int i = 0; i < kNameAttempts; ++i) {
    file->name = location_.name + suffix + (i == 0 ? std::string() : std::to_string(i));
    file->fd.Reset(::openat(location_.folder.get(), file->name.c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file->fd.valid()) return Status::Ok();
    if (errno != EEXIST) break;
  }
  return FromErrno(errno, location_.Beside(file->name));
}

// Removes a file this program created, unless its name has been given to something else.
void HiveFile::RemoveIfOurs(const NewFile& file) const {
  if (NamesFile(location_.folder.get(), file.name, file.fd.get())) {
    ::unlinkat(location_.folder.get(), file.name.c_str(), 0);
  }
}

// Copies the hive as it was loaded to a new backup file beside it.
Status HiveFile::MakeBackup() const {
  NewFile backup;
  Status status = CreateBeside(kBackupSuffix, &backup);
  if (!status.ok()) return status;
  const std::string backup_path = location_.Beside(backup.name);
  status = CopyAll(hive_.get(), backup.fd.get(), backup_path);
  if (status.ok() && ::fsync(backup.fd.get()) != 0) status = FromErrno(errno, backup_path);
  if (!status.ok()) RemoveIfOurs(backup);
  return status;
}

Status HiveFile::WriteTemporary(const HiveCommitHooks& hooks, const NewFile& temp) const {
  const std::string temp_path = location_.Beside(temp.name);
  const int fd = temp.fd.get();
  Status status = AboutHive(client_.Commit(slot_, fd));
  if (!status.ok()) return status;
  if (hooks.after_commit) hooks.after_commit(temp_path, path());
  if (::fsync(fd) != 0) return FromErrno(errno, temp_path);
  status = AboutHive(client_.Verify(slot_, fd));
  if (!status.ok()) return status;
  // Owner, access lists and the like are kept where permitted; one that cannot be kept is no
  // reason to keep the virus's values.
  std::vector<std::string> lost;
  status = CopyMetadata(hive_.get(), fd, &lost);
  if (!status.ok()) return {status.code(), temp_path + ": " + status.message()};
  if (::fsync(fd) != 0) return FromErrno(errno, temp_path);
  return Status::Ok();
}

Status HiveFile::Replace(const HiveCommitHooks& hooks, NewFile* temp) {
  const std::string temp_path = location_.Beside(temp->name);
  if (hooks.before_replace) hooks.before_replace(temp_path, path());
  const int folder = location_.folder.get();
  struct stat held;
  Status status;
  // Only the hive loaded is replaced, and only by the file written: either name may have been
  // given to something else since.
  if (::fstat(hive_.get(), &held) != 0 || !identity_.SameVersion(held) ||
      !NamesFile(folder, location_.name, hive_.get())) {
    status = {ErrorCode::kChanged, path() + ": the hive changed while it was being repaired"};
  } else if (!NamesFile(folder, temp->name, temp->fd.get())) {
    status = {ErrorCode::kChanged, temp_path + ": replaced before it could be put in place"};
  } else if (::renameat(folder, temp->name.c_str(), folder, location_.name.c_str()) != 0) {
    status = FromErrno(errno, path());
  }
  if (!status.ok()) {
    RemoveIfOurs(*temp);
    return status;
  }
  if (!NamesFile(folder, location_.name, temp->fd.get())) {
    return {ErrorCode::kChanged, path() + ": replaced by something else as it was written"};
  }
  ::fsync(folder);
  hive_ = std::move(temp->fd);
  if (::fstat(hive_.get(), &held) == 0) identity_ = FileIdentity::Of(held);
  return Status::Ok();
}

}  // namespace quelix
