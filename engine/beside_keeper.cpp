#include "engine/beside_keeper.h"

#include <memory>
#include <vector>

namespace quelix {
namespace {

constexpr char kBackupSuffix[] = ".bak";
// How many numbered names are tried before giving up on a free one.
constexpr int kNameAttempts = 100;

Status CopyAll(File& from, File& to) {
  std::vector<char> buffer(size_t{1} << 16);
  Status status = from.Rewind();
  while (status.ok()) {
    size_t got = 0;
    status = from.Read(buffer.data(), buffer.size(), &got);
    if (!status.ok() || got == 0) break;
    status = to.Write(buffer.data(), got);
  }
  return status;
}

}  // namespace

Status BesideKeeper::Keep(File& original, const std::string& path, File& /*replacement*/) {
  if (kept_.count(path) != 0) return Status::Ok();
  std::unique_ptr<Directory> folder;
  std::string name;
  Status status = tree_.OpenParent(path, &folder, &name);
  if (!status.ok()) return status;
  std::string backup_name;
  std::unique_ptr<File> backup;
  for (int i = 0; i < kNameAttempts; ++i) {
    backup_name = name + kBackupSuffix + (i == 0 ? std::string() : std::to_string(i));
    status = folder->OpenFile(backup_name, OpenMode::kWriteNew, &backup);
    if (status.code() != ErrorCode::kAlreadyExists) break;
  }
  if (!status.ok()) return status;
  status = CopyAll(original, *backup);
  if (status.ok()) status = backup->Sync();
  if (status.ok()) status = backup->Close();
  if (!status.ok()) {
    IgnoreResult(folder->Remove(std::move(backup), backup_name), "the first error is told");
    return status;
  }
  kept_.insert(path);
  return original.Rewind();
}

}  // namespace quelix
