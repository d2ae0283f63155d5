// The file services on Windows, through the kernel32 "A" entry points (and their "W" twins for
// paths beyond 260 characters, see win32_paths.h). The program runs with the UTF-8 process code
// page, so these take every file name as the bytes the rest of the program holds.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>

#include "platform/file_system.h"
#include "platform/win32/win32_paths.h"

namespace quelix {
namespace {

using win32::CreateFilePath;
using win32::DeletePath;
using win32::GetAttributesExPath;
using win32::GetAttributesPath;
using win32::MovePath;
using win32::SetAttributesPath;

// The attributes SetFileAttributesA accepts; the others (directory, compressed, encrypted,
// sparse, reparse point) describe the file and are changed by other means or not at all.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

constexpr size_t kMaxNameLength = 255;

// Seconds between 1601-01-01 (FILETIME) and 1970-01-01 (what the POSIX backend reports).
constexpr int64_t kFiletimeToUnixSeconds = 11644473600;

ErrorCode CodeOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_NOT_READY:
      return ErrorCode::kNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD:
      return ErrorCode::kAccessDenied;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return ErrorCode::kAlreadyExists;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ErrorCode::kDiskFull;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return ErrorCode::kSharingViolation;
    case ERROR_FILENAME_EXCED_RANGE:
      return ErrorCode::kNameTooLong;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_IO_DEVICE:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_GEN_FAILURE:
      return ErrorCode::kIoError;
    case ERROR_DIRECTORY:
      return ErrorCode::kNotAFile;
    default:
      return ErrorCode::kOther;
  }
}

// The system's own text for `error`, without the line break and period it ends with.
std::string MessageOf(DWORD error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message;
  if (length > 0 && text) message.assign(text, length);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                              message.back() == '.' || message.back() == ' ')) {
    message.pop_back();
  }
  if (message.empty()) message = "error " + std::to_string(error);
  return message;
}

// True when a name in `path` is longer than the 255 UTF-16 units every Windows file system allows.
bool HasOverlongName(const std::string& path) {
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string::npos) end = path.size();
    if (end - start > kMaxNameLength &&
        win32::Widen(path.substr(start, end - start)).size() > kMaxNameLength) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

Status FromError(DWORD error, const std::string& path) {
  ErrorCode code = CodeOf(error);
  // Windows calls a name beyond the limit invalid and Wine calls it missing; both mean too long.
  if ((code == ErrorCode::kNotFound || error == ERROR_INVALID_NAME) && HasOverlongName(path)) {
    code = ErrorCode::kNameTooLong;
  }
  return {code, path + ": " + MessageOf(error)};
}

Status LastError(const std::string& path) {
  return FromError(GetLastError(), path);
}

bool IsDirectoryWord(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A symbolic link, junction or mount point names another file; other reparse points (data
// deduplication, cloud placeholders) hold the file's own data.
bool IsNameSurrogate(DWORD attributes, DWORD tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         (tag == 0 || IsReparseTagNameSurrogate(tag));
}

class Win32File final : public File {
 public:
  Win32File(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  ~Win32File() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }

  Status Read(char* buffer, size_t capacity, size_t* got) override {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(capacity, 1u << 30));
    DWORD n = 0;
    *got = 0;
    if (!ReadFile(handle_, buffer, want, &n, nullptr)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return Status::Ok();
      return FromError(error, path_);
    }
    *got = n;
    return Status::Ok();
  }

  Status Write(const char* data, size_t size) override {
    while (size > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
      DWORD n = 0;
      if (!WriteFile(handle_, data, chunk, &n, nullptr)) return LastError(path_);
      if (n == 0) return FromError(ERROR_WRITE_FAULT, path_);
      data += n;
      size -= n;
    }
    return Status::Ok();
  }

  Status Rewind() override {
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(handle_, zero, nullptr, FILE_BEGIN)) return LastError(path_);
    return Status::Ok();
  }

  Status Sync() override {
    if (!FlushFileBuffers(handle_)) return LastError(path_);
    return Status::Ok();
  }

  Status Close() override {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (handle != INVALID_HANDLE_VALUE && !CloseHandle(handle)) return LastError(path_);
    return Status::Ok();
  }

 private:
  HANDLE handle_;
  std::string path_;
};

struct OpenParameters {
  DWORD access;
  DWORD share;
  DWORD disposition;
};

OpenParameters ParametersFor(OpenMode mode) {
  switch (mode) {
    case OpenMode::kRead:
      // A candidate another program holds open, even for writing or deleting, is still read.
      return {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING};
    case OpenMode::kWriteTruncate:
      return {GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS};
    case OpenMode::kWriteNew:
      return {GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW};
    case OpenMode::kAppend:
      // Without FILE_WRITE_DATA every write goes to the end, also when another program appends
      // to the same file meanwhile.
      return {FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS};
  }
  return {0, 0, 0};
}

Status OpenHandle(const std::string& path, OpenMode mode, HANDLE* handle) {
  const OpenParameters p = ParametersFor(mode);
  *handle = CreateFilePath(path, p.access, p.share, p.disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN);
  if (*handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // Opening a directory as a file fails with "access denied"; say what really stands there.
    if (error == ERROR_ACCESS_DENIED && IsDirectoryWord(GetAttributesPath(path))) {
      return {ErrorCode::kNotAFile, path + ": is a directory"};
    }
    return FromError(error, path);
  }
  // A device (CON, NUL, COM1, a pipe) opens like a file but may block or never end.
  if (GetFileType(*handle) != FILE_TYPE_DISK) {
    CloseHandle(*handle);
    *handle = INVALID_HANDLE_VALUE;
    return {ErrorCode::kNotAFile, path + ": not a regular file"};
  }
  return Status::Ok();
}

int64_t UnixNanoseconds(const FILETIME& time) {
  const int64_t ticks =
      static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
  return (ticks - kFiletimeToUnixSeconds * 10000000) * 100;
}

void FillInfo(DWORD attributes, DWORD tag, FileInfo* info) {
  info->is_link = IsNameSurrogate(attributes, tag);
  info->is_directory = !info->is_link && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  info->is_regular = !info->is_link && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                     !(attributes & FILE_ATTRIBUTE_DEVICE);
  info->attributes.word = attributes;
}

// The reparse tag of an open file, or 0 where the file system cannot say.
DWORD ReparseTagOf(HANDLE handle, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return 0;
  FILE_ATTRIBUTE_TAG_INFO tag_info{};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag_info, sizeof tag_info)) {
    return 0;
  }
  return tag_info.ReparseTag;
}

// Where the directory entry of `path` is a reparse point, replaces `*attributes` and `*tag` with
// the entry's own. Wine opens the target of a link even when asked for the link itself, while
// its directory listing does tell a link; on Windows both agree.
void EntryReparseData(const std::string& path, DWORD* attributes, DWORD* tag) {
  if (*attributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
  win32::Finder finder;
  win32::FoundEntry entry;
  if (!finder.First(path, 0, &entry)) return;
  if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    *attributes = entry.attributes;
    *tag = entry.reparse_tag;
  }
}

class Win32FileSystem final : public FileSystem {
 public:
  char Separator() const override { return '\\'; }

  Status ListDirectory(const std::string& dir,
                       const std::function<bool(const DirEntry&)>& visit) override {
    std::string pattern = dir;
    if (pattern.empty() || (pattern.back() != '\\' && pattern.back() != '/')) pattern += '\\';
    pattern += '*';
    win32::Finder finder;
    win32::FoundEntry found;
    if (!finder.First(pattern, FIND_FIRST_EX_LARGE_FETCH, &found)) {
      const DWORD error = GetLastError();
      // A drive's empty root directory has no "." or "..", so nothing at all matches "*".
      if (error == ERROR_FILE_NOT_FOUND && IsDirectoryWord(GetAttributesPath(dir))) {
        return Status::Ok();
      }
      return FromError(error, dir);
    }
    DirEntry entry;
    for (;;) {
      if (found.name != "." && found.name != "..") {
        entry.name = found.name;
        entry.attributes = found.attributes;
        // Links, junctions and mount points are never entered, so every walk ends on its volume.
        entry.is_directory = (found.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                             !(found.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        if (!visit(entry)) return Status::Ok();
      }
      if (!finder.Next(&found)) {
        const DWORD error = GetLastError();
        return error == ERROR_NO_MORE_FILES ? Status::Ok() : FromError(error, dir);
      }
    }
  }

  Status Open(const std::string& path, OpenMode mode, std::unique_ptr<File>* file) override {
    HANDLE handle = INVALID_HANDLE_VALUE;
    Status status = OpenHandle(path, mode, &handle);
    if (!status.ok()) return status;
    *file = std::make_unique<Win32File>(handle, path);
    return Status::Ok();
  }

  Status GetInfo(const std::string& path, FileInfo* info) override {
    *info = FileInfo{};
    // Opened for its attributes only, and the final reparse point itself rather than its target.
    const HANDLE handle = CreateFilePath(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) return GetInfoByName(path, info);
    BY_HANDLE_FILE_INFORMATION by_handle;
    if (!GetFileInformationByHandle(handle, &by_handle)) {
      CloseHandle(handle);
      return GetInfoByName(path, info);
    }
    DWORD attributes = by_handle.dwFileAttributes;
    DWORD tag = ReparseTagOf(handle, attributes);
    CloseHandle(handle);
    EntryReparseData(path, &attributes, &tag);
    FillInfo(attributes, tag, info);
    info->size = (uint64_t{by_handle.nFileSizeHigh} << 32) | by_handle.nFileSizeLow;
    info->modified_ns = UnixNanoseconds(by_handle.ftLastWriteTime);
    info->volume = by_handle.dwVolumeSerialNumber;
    info->file_id = (uint64_t{by_handle.nFileIndexHigh} << 32) | by_handle.nFileIndexLow;
    return Status::Ok();
  }

  Status SetAttributes(const std::string& path, const FileAttributes& attributes) override {
    DWORD word = attributes.word & kSettableAttributes;
    if (word == 0) word = FILE_ATTRIBUTE_NORMAL;
    if (!SetAttributesPath(path, word)) return LastError(path);
    return Status::Ok();
  }

  Status Replace(const std::string& source, const std::string& target) override {
    // MoveFileEx refuses to replace a read-only file; the cleaned copy takes its place anyway
    // and gets the original's attributes back afterwards.
    const DWORD old = GetAttributesPath(target);
    const bool read_only = old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) &&
                           !(old & FILE_ATTRIBUTE_DIRECTORY);
    if (read_only && !SetAttributesPath(target, old & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
      return LastError(target);
    }
    if (!MovePath(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      const DWORD error = GetLastError();
      if (read_only) SetAttributesPath(target, old & kSettableAttributes);
      return FromError(error, target);
    }
    return Status::Ok();
  }

  Status Remove(const std::string& path) override {
    if (DeletePath(path)) return Status::Ok();
    const DWORD error = GetLastError();
    // DeleteFile refuses a read-only file where unlink would not; a copy that already got the
    // original's read-only word must still be removable when it cannot take the original's place.
    const DWORD old = GetAttributesPath(path);
    if (error != ERROR_ACCESS_DENIED || old == INVALID_FILE_ATTRIBUTES ||
        !(old & FILE_ATTRIBUTE_READONLY) || (old & FILE_ATTRIBUTE_DIRECTORY)) {
      return FromError(error, path);
    }
    const DWORD writable = old & kSettableAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
    if (!SetAttributesPath(path, writable ? writable : FILE_ATTRIBUTE_NORMAL)) {
      return FromError(error, path);
    }
    if (DeletePath(path)) return Status::Ok();
    const Status failed = LastError(path);
    SetAttributesPath(path, old & kSettableAttributes);
    return failed;
  }

 private:
  // Where a file cannot be opened even for its attributes (the paging file, a file locked
  // without sharing), the directory entry still tells what it is; volume and index stay 0.
  static Status GetInfoByName(const std::string& path, FileInfo* info) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetAttributesExPath(path, &data)) return LastError(path);
    FillInfo(data.dwFileAttributes, 0, info);
    info->size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    info->modified_ns = UnixNanoseconds(data.ftLastWriteTime);
    return Status::Ok();
  }
};

}  // namespace

std::unique_ptr<FileSystem> CreateNativeFileSystem() {
  return std::make_unique<Win32FileSystem>();
}

}  // namespace quelix
