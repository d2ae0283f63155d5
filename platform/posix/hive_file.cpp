#include "platform/posix/hive_file.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/posix/posix_errors.h"

namespace quelix {
namespace {

constexpr char kTempSuffix[] = ".tmp";
// How many numbered names beside the hive are tried before giving up on a free one.
constexpr int kNameAttempts = 100;
// Holes a hive may have beyond half its length: a file system may leave its unused end sparse.
constexpr uint64_t kHoleSlack = uint64_t{1} << 20;
constexpr size_t kChunk = size_t{1} << 16;

Status TooLong() {
  return {ErrorCode::kOther, "the hive is longer than 256 MiB, more than any registry hive holds"};
}

// Refuses, before anything is read, a file no registry hive can be: one longer than any hive, or
// one whose length is mostly holes with no disk space behind them (a few KiB on the disk that
// would read as hundreds of MiB of zeros).
Status CheckLength(const FileInfo& info) {
  if (info.size > kLargestHive) return TooLong();
  if (info.allocated < info.size / 2 && info.size - info.allocated > kHoleSlack) {
    return {ErrorCode::kOther,
            "most of the hive's length is holes with no disk space behind them (a sparse file), "
            "which no registry hive is"};
  }
  return Status::Ok();
}

// The content of a hive travels to the helper in a memory file of its own, so that the helper
// never opens the hive, nor anything by a name.
Status NewMemoryFile(OwnedFd* memory) {
  memory->Reset(::memfd_create("quelix-hive", MFD_CLOEXEC));
  if (!memory->valid()) return FromErrno(errno, "a hive in memory");
  return Status::Ok();
}

Status WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return FromErrno(errno, "a hive in memory");
    data += put;
    size -= static_cast<size_t>(put);
  }
  return Status::Ok();
}

// Copies `file` from its start into a new memory file; refuses more than kLargestHive bytes (the
// file may have grown since it was measured).
Status IntoMemory(File& file, OwnedFd* memory) {
  Status status = file.Rewind();
  if (status.ok()) status = NewMemoryFile(memory);
  std::vector<char> buffer(kChunk);
  uint64_t total = 0;
  while (status.ok()) {
    size_t got = 0;
    status = file.Read(buffer.data(), buffer.size(), &got);
    if (!status.ok() || got == 0) break;
    total += got;
    if (total > kLargestHive) return TooLong();
    status = WriteAll(memory->get(), buffer.data(), got);
  }
  return status;
}

// Writes the whole memory file `memory` into `file`.
Status FromMemory(int memory, File& file) {
  std::vector<char> buffer(kChunk);
  for (off_t offset = 0;;) {
    const ssize_t got = ::pread(memory, buffer.data(), buffer.size(), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return FromErrno(errno, "a hive in memory");
    if (got == 0) return Status::Ok();
    offset += got;
    const Status status = file.Write(buffer.data(), static_cast<size_t>(got));
    if (!status.ok()) return status;
  }
}

bool InGroup(int64_t group) {
  if (group == ::getegid()) return true;
  std::vector<gid_t> groups(static_cast<size_t>(std::max(::getgroups(0, nullptr), 0)));
  const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
  return count > 0 && std::find(groups.begin(), groups.begin() + count, group) != groups.end();
}

// Renaming over a file needs no right to the file itself, so a hive the user running the program
// may not write (by its mode; root may write any) stays as it is. A hive that is immutable or on
// a read-only volume is refused by the replace itself.
Status CheckWritable(const FileInfo& info) {
  const FileAttributes& owner = info.attributes;
  const uint32_t bit = ::geteuid() == 0             ? 0
                       : owner.owner == ::geteuid() ? S_IWUSR
                       : InGroup(owner.group)       ? S_IWGRP
                                                    : S_IWOTH;
  if (bit == 0 || (owner.word & bit) != 0) return Status::Ok();
  return {ErrorCode::kAccessDenied, "the hive is read-only"};
}

bool SameFile(const FileInfo& a, const FileInfo& b) {
  return a.volume == b.volume && a.file_id == b.file_id;
}

}  // namespace

HiveFile::~HiveFile() {
  client_.Unload(slot_, true);
}

Status HiveFile::Load(HiveLocation& location, HiveClient& client, uint32_t slot,
                      const FileInfo* unchanged_since, FileInfo* loaded,
                      std::unique_ptr<HiveFile>* hive) {
  const auto about = [&location](const Status& status) {
    return status.ok() ? status : Status(status.code(), location.path + ": " + status.message());
  };
  if (location.file == nullptr) {
    return {ErrorCode::kChanged, location.path + ": the hive changed while it was being repaired"};
  }
  Status status = location.file->GetInfo(loaded);
  if (status.ok()) status = about(CheckLength(*loaded));
  if (!status.ok()) return status;
  const auto load = [&location, &client, slot, about](bool keep_known) {
    OwnedFd content;
    Status read = about(IntoMemory(*location.file, &content));
    if (read.ok()) read = about(client.Load(slot, content.get(), keep_known));
    return read;
  };
  // A repair runs after every cleaned file: a hive unchanged since it was looked at is answered
  // from what was learnt of it, and read again only where that does not suffice.
  if (unchanged_since != nullptr && client.Knows(slot) &&
      SameFileUnchanged(*loaded, *unchanged_since)) {
    client.LoadWhenNeeded(slot, [load] { return load(true); });
  } else {
    status = load(false);
    if (!status.ok()) return status;
  }
  hive->reset(new HiveFile(location, client, slot));
  return Status::Ok();
}

Status HiveFile::AboutHive(const Status& status) const {
  return status.ok() ? status : Status(status.code(), path() + ": " + status.message());
}

Status HiveFile::Save(OriginalKeeper* keeper) {
  if (location_.file == nullptr) {
    return {ErrorCode::kChanged, path() + ": the hive changed while it was being repaired"};
  }
  FileInfo before;
  FileInfo written;
  std::string temp_name;
  std::unique_ptr<File> temp;
  Status status = location_.file->GetInfo(&before);
  if (status.ok()) status = AboutHive(CheckWritable(before));
  if (status.ok()) status = CreateTemporary(&temp_name, &temp);
  if (!status.ok()) return status;
  status = WriteTemporary(*temp);
  // Owner, access lists and the like are kept where permitted; one that cannot be kept is no
  // reason to keep the virus's values.
  std::vector<std::string> lost;
  if (status.ok()) status = location_.file->CopyMetadataTo(*temp, &lost);
  if (status.ok()) status = temp->Sync();
  if (status.ok()) status = temp->GetInfo(&written);
  // Every version replaced is kept: a hive saved twice in one run is put back step by step.
  if (status.ok() && keeper != nullptr) status = KeepWith(*keeper, *temp);
  if (!status.ok()) {
    IgnoreResult(location_.folder->Remove(std::move(temp), temp_name), "the first error is told");
    return status;
  }
  status = location_.folder->Replace(std::move(location_.file), location_.name, std::move(temp),
                                     temp_name);
  const bool replaced = status.ok();
  status = HoldAgain(replaced ? written : before, status);
  // The hive held again as it was is the original: it was not replaced, so its backup is no
  // longer one to put back.
  if (!replaced && keeper != nullptr && location_.file != nullptr) {
    // Where that fails the entry stays, refused by a restore: the hive is not the one kept.
    IgnoreResult(keeper->Withdraw(path()), "the hive's own outcome is told");
  }
  return status;
}

// Creates a new file named after the hive with a suffix (and a number where that is taken) in the
// hive's folder. Never opens a file that already exists, nor follows a link.
Status HiveFile::CreateTemporary(std::string* name, std::unique_ptr<File>* temp) const {
  Status status;
  for (int i = 0; i < kNameAttempts; ++i) {
    *name = location_.name + kTempSuffix + (i == 0 ? std::string() : std::to_string(i));
    status = location_.folder->OpenFile(*name, OpenMode::kWriteNew, temp);
    if (status.code() != ErrorCode::kAlreadyExists) break;
  }
  return status;
}

Status HiveFile::WriteTemporary(File& temp) const {
  OwnedFd written;
  Status status = NewMemoryFile(&written);
  if (status.ok()) status = AboutHive(client_.Commit(slot_, written.get()));
  if (status.ok()) status = FromMemory(written.get(), temp);
  if (status.ok()) status = temp.Sync();
  // What is checked is what the file holds, read back through the program's own descriptor.
  OwnedFd read_back;
  if (status.ok()) status = IntoMemory(temp, &read_back);
  if (status.ok()) status = AboutHive(client_.Verify(slot_, read_back.get()));
  return status;
}

Status HiveFile::KeepWith(OriginalKeeper& keeper, File& temp) const {
  Status kept = location_.file->Rewind();
  if (kept.ok()) kept = temp.Rewind();
  if (kept.ok()) kept = keeper.Keep(*location_.file, path(), temp);
  if (kept.ok()) return kept;
  return {kept.code(), path() + ": the hive could not be backed up, so it was not changed (" +
                           kept.message() + ")"};
}

Status HiveFile::HoldAgain(const FileInfo& expected, Status replaced) {
  std::unique_ptr<File> file;
  FileInfo now;
  const bool held = location_.folder->OpenFile(location_.name, OpenMode::kRead, &file).ok() &&
                    file->GetInfo(&now).ok() && SameFile(now, expected);
  if (held) {
    location_.file = std::move(file);
  } else if (replaced.ok()) {
    replaced = {ErrorCode::kChanged, path() + ": replaced by something else as it was written"};
  }
  return replaced;
}

}  // namespace quelix
