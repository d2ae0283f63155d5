// The Windows backend's held directories, shared by its parts.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/win32/win32_file.h"
#include "platform/win32/win32_handles.h"

namespace quelix::win32 {

// How every directory is held: the directory itself, never a reparse point's target, and without
// FILE_SHARE_DELETE, so that while the program holds it nobody can rename, delete or replace it,
// nor any directory above it that the program holds too.
OpenRequest DirectoryRequest();

class Win32Directory final : public Directory {
 public:
  // `handle` is open on the directory at `path` (ending in the separator), on volume `volume`.
  Win32Directory(Handle handle, DWORD volume, std::string path)
      : handle_(std::move(handle)), volume_(volume), path_(std::move(path)) {}

  const std::string& path() const override { return path_; }
  Status List(const std::function<bool(const DirEntry&)>& visit) override;
  Status OpenDirectory(const std::string& relative, std::unique_ptr<Directory>* dir) override;
  Status OpenFile(const std::string& relative, OpenMode mode, std::unique_ptr<File>* file) override;
  // Only a name of this directory itself: no single call refuses every reparse point on a
  // longer way down (Wine ignores OBJ_DONT_REPARSE and follows a link on the way), so a longer
  // path is walked name by name, and that is done cheaper through its folder, held.
  bool OpensNestedPathAtOnce(const std::string& relative) const override {
    return relative.find_first_of("\\/") == std::string::npos;
  }
  // Each object holds a handle of its own and nothing else that changes.
  bool UsableFromAnotherThread() const override { return true; }
  Status Replace(std::unique_ptr<File> original, const std::string& name,
                 std::unique_ptr<File> copy, const std::string& copy_name) override;
  Status Remove(std::unique_ptr<File> file, const std::string& name) override;
  // Nothing to wait for: a file's flush commits the volume's log, which holds its name too.
  Status Sync() override { return Status::Ok(); }
  Status GetInfo(FileInfo* info) override { return DescribeHandle(handle_.get(), path_, info); }
  Status FreeSpace(uint64_t* free, uint64_t* total) override;

 private:
  Status Descend(const std::vector<std::string>& parts, size_t count, Handle* held,
                 std::string* path) const;
  Status OpenSubdirectory(HANDLE parent, const std::string& name, const std::string& path,
                          Handle* out) const;
  // Opens `name` in this directory for its attributes, the reparse point itself, and checks that
  // it is still the file `expected` describes (else kChanged).
  Status LookAt(const std::string& name, const Identity& expected, Handle* target,
                Identity* found) const;
  void GiveBackReadOnly(const std::string& name, const Identity& expected, DWORD word) const;

  Handle handle_;
  DWORD volume_;
  std::string path_;
};

// A name that could lead elsewhere than to an entry of the folder is refused: ".." upwards, a
// colon to a stream of the folder; and one that no Windows file system takes is too long.
Status CheckName(const std::string& name, const std::string& path);

}  // namespace quelix::win32
