#include "engine/backup_store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/backup_format.h"
#include "runtime/sha256.h"

namespace quelix {
namespace {

constexpr size_t kBlock = 256 * 1024;
// Runs begun within one second take the next number.
constexpr int kRunAttempts = 1000;

std::string Mode(const FileAttributes& a, bool windows) {
  char text[16];
  std::snprintf(text, sizeof text, windows ? "0x%08x" : "%04o", a.word);
  return text;
}

// Holes are copied as holes, but their zeros are hashed all the same, at the speed of reading:
// past this much of a file that takes no room on the disk, it is not copied or hashed at all.
constexpr uint64_t kMostHoles = uint64_t{1} << 30;

Status CheckHoles(File& file) {
  FileInfo info;
  const Status status = file.GetInfo(&info);
  if (status.ok() && info.size > info.allocated && info.size - info.allocated > kMostHoles) {
    return {ErrorCode::kOther,
            "it is a sparse file, mostly empty space that takes no room on the disk"};
  }
  return status;
}

// Where `from` goes on with a hole, passes over it, leaves one in `to` and hashes its zeros;
// `*passed`: its length.
Status PassHole(File& from, File* to, Sha256& hash, char* block, uint64_t* passed) {
  Status status = from.SkipHole(passed);
  if (status.ok() && to && *passed > 0) status = to->WriteHole(*passed);
  if (!status.ok() || *passed == 0) return status;
  std::memset(block, 0, kBlock);
  for (uint64_t left = *passed; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kBlock));
    hash.Update(block, n);
    left -= n;
  }
  return status;
}

Status StreamContent(File& from, File* to, std::string* sha256, uint64_t* size) {
  Status status = CheckHoles(from);
  if (status.ok()) status = from.Rewind();
  if (!status.ok()) return status;
  Sha256 hash;
  auto block = std::make_unique<char[]>(kBlock);
  uint64_t total = 0;
  for (size_t got = 1; got > 0;) {
    uint64_t hole = 0;
    status = PassHole(from, to, hash, block.get(), &hole);
    if (status.ok()) status = from.Read(block.get(), kBlock, &got);
    if (status.ok() && to && got > 0) status = to->Write(block.get(), got);
    if (!status.ok()) return status;
    hash.Update(block.get(), got);
    total += hole + got;
  }
  *sha256 = hash.Hex();
  if (size) *size = total;
  return Status::Ok();
}

}  // namespace

std::string Owner(const FileAttributes& a) {
  if (a.owner < 0) return "-";
  return std::to_string(a.owner) + ":" + std::to_string(a.group);
}

Status CopyContent(File& from, File& to, std::string* sha256, uint64_t* size) {
  return StreamContent(from, &to, sha256, size);
}

Status HashFile(File& file, std::string* sha256, uint64_t* size) {
  return StreamContent(file, nullptr, sha256, size);
}

Status ReadOwnFile(FileSystem& fs, const std::string& path, std::string* text) {
  std::unique_ptr<File> file;
  FileInfo info;
  Status status = fs.Open(path, OpenMode::kRead, &file);
  if (status.ok()) status = file->GetInfo(&info);
  if (status.ok()) status = fs.CheckOwn(info, path, false);
  text->clear();
  char block[16 * 1024];
  for (size_t got = 1; status.ok() && got > 0;) {
    status = file->Read(block, sizeof block, &got);
    if (status.ok()) text->append(block, got);
  }
  return status;
}

BackupStore::BackupStore(FileSystem& fs, std::string folder)
    : fs_(fs), folder_(std::move(folder)) {}

Status BackupStore::SetRoot(const TreeIdentity& root) {
  if (root.path == root_.path && root.volume == root_.volume && root.file_id == root_.file_id) {
    return Status::Ok();
  }
  root_ = root;
  recorded_root_ = false;
  return run_.empty() ? Status::Ok() : RecordRoot();
}

Status BackupStore::RecordRoot() {
  if (recorded_root_) return Status::Ok();
  const Status status = Append(kRunName, RootLine({root_.path, true, root_.volume, root_.file_id}));
  recorded_root_ = status.ok();
  return status;
}

std::string BackupStore::In(const std::string& name) const {
  return run_ + fs_.Separator() + name;
}

Status BackupStore::Begin() {
  if (!run_.empty()) return Status::Ok();
  if (folder_.empty()) return {ErrorCode::kOther, "no place for the backups is known"};
  Status status = fs_.CreateDirectories(folder_);
  // A folder on the way that someone else may change could hand the run's records to them.
  if (status.ok()) status = fs_.CheckOwnFolder(folder_);
  if (!status.ok()) return status;
  const auto now = std::chrono::system_clock::now();
  const std::string stamp = RunStamp(now);
  for (int n = 1; n <= kRunAttempts; ++n) {
    const std::string run = folder_ + fs_.Separator() + stamp + "-" + std::to_string(n);
    std::unique_ptr<File> marker;
    status = fs_.CreateDirectories(run);
    // The run's record is made new: a folder that holds one already is another run's.
    if (status.ok())
      status = fs_.Open(run + fs_.Separator() + kRunName, OpenMode::kWriteNew, &marker);
    if (status.code() == ErrorCode::kAlreadyExists) continue;
    if (!status.ok()) return status;
    const std::string record = RunLine("started", IsoTime(now)) + "\n";
    status = marker->Write(record.data(), record.size());
    if (status.ok()) status = marker->Sync();
    if (status.ok()) status = marker->Close();
    if (status.ok()) status = SyncNames(run);
    if (status.ok()) status = SyncNames(folder_);
    if (!status.ok()) return status;
    named_.insert(kRunName);
    run_ = run;
    return RecordRoot();
  }
  return {ErrorCode::kAlreadyExists, folder_ + ": no free name for this run"};
}

Status BackupStore::Copy(File& from, const std::string& to, uint64_t* size, std::string* sha256) {
  std::unique_ptr<File> copy;
  Status status = fs_.Open(to, OpenMode::kWriteNew, &copy);
  if (!status.ok()) return status;
  status = CopyContent(from, *copy, sha256, size);
  if (status.ok()) status = copy->Sync();
  const Status closed = copy->Close();
  if (status.ok()) status = closed;
  if (!status.ok()) IgnoreResult(fs_.Remove(to), "the first error is told");
  return status;
}

Status BackupStore::SyncNames(const std::string& folder) {
  // Opened for the moment only: a folder held open could not be deleted on Windows.
  std::unique_ptr<Directory> held;
  Status status = fs_.OpenDirectory(folder, &held);
  return status.ok() ? held->Sync() : status;
}

Status BackupStore::Append(const std::string& name, const std::string& line) {
  std::unique_ptr<File> file;
  Status status = fs_.Open(In(name), OpenMode::kAppend, &file);
  if (!status.ok()) return status;
  const std::string text = line + "\n";
  status = file->Write(text.data(), text.size());
  if (status.ok()) status = file->Sync();
  const Status closed = file->Close();
  if (status.ok()) status = closed;
  // The first line makes the file: its name must last as long as the line.
  if (status.ok() && !named_.count(name)) {
    status = SyncNames(run_);
    if (status.ok()) named_.insert(name);
  }
  return status;
}

Status BackupStore::Keep(File& original, const std::string& path, File& replacement) {
  last_path_.clear();
  last_copy_.clear();
  Status status = Begin();
  if (status.ok()) status = RecordRoot();
  if (!status.ok()) return status;
  char copy[16];
  std::snprintf(copy, sizeof copy, "%06zu.orig", ++copies_);
  ManifestEntry entry;
  entry.path = path;
  entry.copy = copy;
  // The copy is complete and on the device before its line is written, and the line before the
  // file is replaced: a line always has its copy, and a copy without a line is never needed.
  status = Copy(original, In(copy), &entry.size, &entry.sha256);
  if (status.ok()) status = SyncNames(run_);  // the copy's name, before a line names it
  FileInfo info;
  FileInfo cleaned;
  if (status.ok()) status = original.GetInfo(&info);
  if (status.ok()) status = HashFile(replacement, &entry.cleaned_sha256);
  // The cleaned copy has its metadata already and keeps its identity when it takes the name.
  if (status.ok()) status = replacement.GetInfo(&cleaned);
  if (!status.ok()) {
    IgnoreResult(fs_.Remove(In(copy)), "the first error is told");
    return status;
  }
  entry.owner = Owner(info.attributes);
  entry.mode = Mode(info.attributes, fs_.Separator() == '\\');
  entry.identified = true;
  entry.cleaned_volume = cleaned.volume;
  entry.cleaned_file_id = cleaned.file_id;
  entry.cleaned_owner = Owner(cleaned.attributes);
  entry.time = IsoTime(std::chrono::system_clock::now());
  // Where the append failed its line may still have been written: the copy stays, unused at worst.
  status = Append(kManifestName, ManifestLine(entry));
  if (!status.ok()) return status;
  ++kept_;
  last_path_ = path;
  last_copy_ = copy;
  return status;
}

Status BackupStore::Withdraw(const std::string& path) {
  if (last_copy_.empty() || path != last_path_) {
    return {ErrorCode::kOther, path + ": no original of it was just kept"};
  }
  const std::string copy = last_copy_;
  last_path_.clear();
  last_copy_.clear();
  // The line is on the device before the copy goes: a line never names a copy that is gone
  // without its withdrawal.
  Status status = Append(kManifestName, WithdrawnLine(copy));
  if (!status.ok()) return status;
  --kept_;
  status = fs_.Remove(In(copy));
  return status.code() == ErrorCode::kNotFound ? Status::Ok() : status;
}

Status BackupStore::KeepValue(const std::string& store, const std::string& key,
                              const std::string& name, const RegistryValueData& value) {
  RegistryEntry entry{store, key, name, value.type, value.data, ""};
  // A value the repair meets again as it was (its deletion failed) is written down once.
  const std::string kept = RegistryLine(entry);
  if (kept_values_.count(kept)) return Status::Ok();
  Status status = Begin();
  if (status.ok()) status = RecordRoot();
  if (!status.ok()) return status;
  entry.time = IsoTime(std::chrono::system_clock::now());
  status = Append(kRegistryName, RegistryLine(entry));
  if (!status.ok()) return status;
  kept_values_.insert(kept);
  ++kept_;
  return status;
}

std::string NearestExisting(FileSystem& fs, const std::string& path) {
  std::string place = path;
  FileInfo info;
  while (!fs.GetInfo(place, &info).ok()) {
    const size_t cut = place.find_last_of(fs.Separator());
    if (cut == std::string::npos || cut == 0) return cut == 0 ? place.substr(0, 1) : ".";
    place.resize(cut);
  }
  return place;
}

Status BackupStore::Room(uint64_t* volume, uint64_t* free, uint64_t* total) {
  const std::string place = run_.empty() ? NearestExisting(fs_, folder_) : run_;
  FileInfo info;
  Status status = fs_.GetInfo(place, &info);
  if (status.ok()) status = fs_.FreeSpace(place, free, total);
  *volume = info.volume;
  return status;
}

}  // namespace quelix
