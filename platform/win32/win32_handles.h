// Handles the Windows file services hold, and the two ntdll calls that work relative to one: a
// name opened below a held directory (or a stream of a held file), and a held file renamed into a
// held directory. Neither takes a path, so no name on the way can be swapped meanwhile.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace quelix::win32 {

// Owns a kernel handle and closes it when destroyed.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { Close(); }
  Handle(Handle&& other) noexcept : handle_(other.Release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.Release();
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE Release() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  // Closes the handle; false (with the error in GetLastError) where the system reports an error.
  bool Close() {
    const HANDLE handle = Release();
    return handle == INVALID_HANDLE_VALUE || handle == nullptr || CloseHandle(handle);
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// What NtCreateFile is asked for (the NT names: FILE_OPEN, FILE_CREATE, FILE_DIRECTORY_FILE, ...).
// Every open is synchronous, so the handle reads and writes like one from CreateFile.
struct OpenRequest {
  ACCESS_MASK access = 0;
  ULONG share = 0;
  ULONG disposition = 0;
  ULONG options = 0;
};

// Opens `name`, one name without separators ("" for `root` itself, ":name:$DATA" for a stream of
// the file open on `root`), relative to `root`. Returns the NT status (0 on success).
LONG OpenRelative(HANDLE root, const std::wstring& name, const OpenRequest& request, Handle* out);

// Renames the file open on `file` (with DELETE access) to `name` in the directory open on `dir`,
// replacing the file of that name. Returns the NT status. With `while_open` the file of that name
// is replaced even while it is open (every handle to it sharing deletion), as POSIX renames do;
// a system that cannot (before Windows 10 1709, FAT) answers as RenameWhileOpenUnknown says.
LONG RenameRelative(HANDLE file, HANDLE dir, const std::wstring& name, bool while_open = false);

// Whether `status`, from RenameRelative with `while_open`, says the system has no such rename.
bool RenameWhileOpenUnknown(LONG status);

}  // namespace quelix::win32
