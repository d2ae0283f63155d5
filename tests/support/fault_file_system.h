// A FileSystem that passes every call to a real one and can fail any call on cue: tests use it to
// make the N-th operation fail with a chosen error, or every read of one file, to change the tree
// at the exact moment of a call, and to count calls.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace quelix {

enum class FsOp {
  kOpenDirectory,
  kList,
  kOpen,
  kGetInfo,
  kSetAttributes,
  kCopyMetadata,
  kReplace,
  kRemove,
  kRead,
  kWrite,
  kRewind,
  kSync,
  kClose
};

struct FsCall {
  int number;  // from 1, over all operations of the file system and its open files
  FsOp op;
  std::string path;  // the path the operation is about (the file's, for file operations)
};

class FaultFileSystem : public FileSystem {
 public:
  explicit FaultFileSystem(FileSystem& real) : real_(real) {}

  // Decides for every call whether it fails, and with which error. Unset: nothing fails.
  std::function<std::optional<ErrorCode>(const FsCall&)> inject;
  // Runs before every call is passed on: a test changes the tree there, as another program
  // could at that moment.
  std::function<void(const FsCall&)> before;
  // Where set, runs for every entry a listing gives, before the lister sees it, on the thread
  // that lists and outside the lock: a test holds a listing halfway there while others go on.
  std::function<void(const std::string& folder, const DirEntry& entry)> listed_entry;
  // Every call made, in order.
  std::vector<FsCall> calls;
  // Where set, its folders may be used from other threads as far as the real ones may: the
  // program's helpers then list and open through it too, the calls are recorded under a lock,
  // and `inject` and `before` run on those threads.
  bool shared_with_helpers = false;
  // Drops `inject` and `before`. A fixture calls it when the test body ends: its hooks may read
  // the body's locals, and the fixture's own members (a controller closing its log) still make
  // calls while they are destroyed.
  void EndHooks() {
    inject = nullptr;
    before = nullptr;
    listed_entry = nullptr;
    space_at = nullptr;
  }

  // Fails call number `n` (and no other) with `code`.
  void FailCall(int n, ErrorCode code);
  // How many calls of kind `op` were made.
  int Count(FsOp op) const;

  // Records the call and returns the injected failure, if any. Used by the wrapped files too.
  std::optional<Status> Enter(FsOp op, const std::string& path);

  char Separator() const override { return real_.Separator(); }
  Status Absolute(const std::string& path, std::string* absolute) override {
    return real_.Absolute(path, absolute);
  }
  // Not counted as calls: the numbers the tests fail calls by stay those of the tree's files.
  Status CheckOwnFolder(const std::string& path) override { return real_.CheckOwnFolder(path); }
  Status CheckOwn(const FileInfo& info, const std::string& path, bool secret) override {
    return real_.CheckOwn(info, path, secret);
  }
  Status OpenDirectory(const std::string& path, std::unique_ptr<Directory>* dir) override;
  Status Open(const std::string& path, OpenMode mode, std::unique_ptr<File>* file) override;
  Status GetInfo(const std::string& path, FileInfo* info) override;
  Status SetAttributes(const std::string& path, const FileAttributes& attributes) override;
  Status Remove(const std::string& path) override;
  Status CreateDirectories(const std::string& path) override {
    if (auto failed = Enter(FsOp::kOpenDirectory, path)) return *failed;
    return real_.CreateDirectories(path);
  }
  Status RemoveFolder(const std::string& path) override {
    if (auto failed = Enter(FsOp::kRemove, path)) return *failed;
    return real_.RemoveFolder(path);
  }
  Status FreeSpace(const std::string& path, uint64_t* free, uint64_t* total) override {
    if (auto failed = Enter(FsOp::kGetInfo, path)) return *failed;
    const Status status = real_.FreeSpace(path, free, total);
    if (status.ok() && space) *free = *space;
    if (status.ok() && space_at) space_at(path, free, total);
    return status;
  }
  // Where set, the free space the volumes of the program's own paths (not the tree's folders)
  // are said to have.
  std::optional<uint64_t> space;
  // Where set, runs after every free-space query that succeeded, of a path or of a held folder
  // (`path` is then the folder's, ending in the separator): the test tells its own figures.
  std::function<void(const std::string& path, uint64_t* free, uint64_t* total)> space_at;

 private:
  FileSystem& real_;
  std::mutex calls_mutex_;
};

}  // namespace quelix
