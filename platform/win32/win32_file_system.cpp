// The file services on Windows. Inside a searched tree everything goes through held handles (see
// win32_directory.cpp); paths are opened only for the folder the user chose and the program's own
// files, through the kernel32 "A" entry points (and their "W" twins beyond 260 characters, see
// win32_paths.h). The program runs with the UTF-8 process code page, so these take every file name
// as the bytes the rest of the program holds.
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include "platform/file_system.h"
#include "platform/names.h"
#include "platform/win32/win32_directory.h"
#include "platform/win32/win32_errors.h"
#include "platform/win32/win32_file.h"
#include "platform/win32/win32_paths.h"

namespace quelix {
namespace {

using win32::CreateFilePath;
using win32::GetAttributesPath;
using win32::Handle;
using win32::SetAttributesPath;

constexpr size_t kMaxNameLength = 255;
// Enough for the storage to work on several pages at once; as many as the scan held ahead
// before it had helpers.
constexpr size_t kFilesHeldAhead = 32;

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

Status PathError(DWORD error, const std::string& path) {
  Status status = win32::FromError(error, path);
  // Windows calls a name beyond the limit invalid and Wine calls it missing; both mean too long.
  if ((status.code() == ErrorCode::kNotFound || error == ERROR_INVALID_NAME) &&
      HasOverlongName(path)) {
    return {ErrorCode::kNameTooLong, status.message()};
  }
  return status;
}

Status LastPathError(const std::string& path) {
  return PathError(GetLastError(), path);
}

bool IsDirectoryWord(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

struct PathRequest {
  DWORD access;
  DWORD share;
  DWORD disposition;
};

PathRequest RequestFor(OpenMode mode) {
  switch (mode) {
    case OpenMode::kRead:
      return {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING};
    case OpenMode::kReadHeld:
      return {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING};
    case OpenMode::kWriteTruncate:
      // Emptied only once it is known to be no link.
      return {GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, OPEN_ALWAYS};
    case OpenMode::kWriteNew:
      return {GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, CREATE_NEW};
    case OpenMode::kAppend:
      // Without FILE_WRITE_DATA every write goes to the end, also when another program appends
      // to the same file meanwhile.
      return {FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
              FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS};
  }
  return {0, 0, 0};
}

// Opens the program's own file `path`, the last name itself where it is a reparse point.
Status OpenPath(const std::string& path, OpenMode mode, Handle* handle) {
  const PathRequest p = RequestFor(mode);
  *handle = Handle(CreateFilePath(
      path, p.access, p.share, p.disposition,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT));
  if (!handle->valid()) {
    const DWORD error = GetLastError();
    // Opening a directory as a file fails with "access denied"; say what really stands there.
    if (error == ERROR_ACCESS_DENIED && IsDirectoryWord(GetAttributesPath(path))) {
      return {ErrorCode::kNotAFile, path + ": is a directory"};
    }
    return PathError(error, path);
  }
  // A device (CON, NUL, COM1, a pipe) opens like a file but may block or never end.
  if (GetFileType(handle->get()) != FILE_TYPE_DISK) {
    return {ErrorCode::kNotAFile, path + ": not a regular file"};
  }
  // A link there would send what is written, and the names it holds, to another file.
  win32::Identity identity;
  if (!win32::Identify(handle->get(), &identity)) return win32::LastError(path);
  if (win32::IsNameSurrogate(identity.attributes, identity.reparse_tag)) {
    return {ErrorCode::kLink, path + ": it is a link"};
  }
  if (mode == OpenMode::kWriteTruncate) return win32::Truncate(handle->get(), path);
  return Status::Ok();
}

// Where a file cannot be opened even for its attributes (the paging file, a file locked without
// sharing), the directory entry still tells what it is; volume and index stay 0.
Status GetInfoByName(const std::string& path, FileInfo* info) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!win32::GetAttributesExPath(path, &data)) return LastPathError(path);
  win32::FillKind(data.dwFileAttributes, 0, info);
  info->size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  info->modified_ns = win32::UnixNanoseconds(data.ftLastWriteTime);
  return Status::Ok();
}

class Win32FileSystem final : public FileSystem {
 public:
  char Separator() const override { return '\\'; }
  // A page held open keeps its owner from saving it the usual way (a new copy renamed over it,
  // refused while it is open) and from removing its folder, and each one read ahead holds a
  // prefetch buffer of its own: a short lead, warm or cold.
  size_t FilesHeldAheadAllowed() const override { return kFilesHeldAhead; }

  Status Absolute(const std::string& path, std::string* absolute) override {
    // "c:" alone would be the current folder of drive c:; the program means the drive's root.
    std::string given = path.empty() ? "." : path;
    if (given.size() == 2 && given[1] == ':') given += '\\';
    const std::wstring wide = win32::Widen(given);
    const DWORD need = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (need == 0) return win32::LastError(path);
    std::wstring full(need, L'\0');
    const DWORD got = GetFullPathNameW(wide.c_str(), need, full.data(), nullptr);
    if (got == 0 || got >= need) return win32::LastError(path);
    *absolute = win32::Narrow(full.c_str(), got);
    return Status::Ok();
  }

  // The program's folders are made for the user and the administrators alone (CreateDirectories),
  // in the user's own profile, which others cannot write: nothing more is checked here.
  Status CheckOwnFolder(const std::string& path) override {
    if (GetAttributesPath(path) == INVALID_FILE_ATTRIBUTES) return win32::LastError(path);
    return Status::Ok();
  }

  Status CheckOwn(const FileInfo&, const std::string&, bool) override { return Status::Ok(); }

  Status OpenDirectory(const std::string& path, std::unique_ptr<Directory>* dir) override {
    // "c:" alone names the current directory of drive c:, never what the user means by it.
    std::string root = path;
    if (root.empty() || root.back() != '\\') root += '\\';
    const win32::OpenRequest request = win32::DirectoryRequest();
    // Links in the chosen path itself are followed: the user chose where they lead.
    Handle handle(CreateFilePath(root, request.access | SYNCHRONIZE, request.share, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS));
    if (!handle.valid()) return LastPathError(path);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle.get(), &info)) return win32::LastError(path);
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return {ErrorCode::kNotFound, path + ": not a folder"};
    }
    *dir =
        std::make_unique<win32::Win32Directory>(std::move(handle), info.dwVolumeSerialNumber, root);
    return Status::Ok();
  }

  Status Open(const std::string& path, OpenMode mode, std::unique_ptr<File>* file) override {
    Handle handle;
    const Status status = OpenPath(path, mode, &handle);
    if (!status.ok()) return status;
    *file = std::make_unique<win32::Win32File>(std::move(handle), path);
    return Status::Ok();
  }

  Status GetInfo(const std::string& path, FileInfo* info) override {
    *info = FileInfo{};
    // Opened for its attributes only, and the final reparse point itself rather than its target.
    Handle handle(CreateFilePath(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS));
    if (!handle.valid() || !win32::DescribeHandle(handle.get(), path, info).ok()) {
      return GetInfoByName(path, info);
    }
    if (info->attributes.word & FILE_ATTRIBUTE_REPARSE_POINT) return Status::Ok();
    // Wine opens the target of a Unix symbolic link even when asked for the link itself, while
    // the directory entry does tell a link; on Windows both agree.
    const DWORD by_name = GetAttributesPath(path);
    if (by_name != INVALID_FILE_ATTRIBUTES && (by_name & FILE_ATTRIBUTE_REPARSE_POINT)) {
      win32::FillKind(by_name, 0, info);
    }
    return Status::Ok();
  }

  Status SetAttributes(const std::string& path, const FileAttributes& attributes) override {
    DWORD word = attributes.word & win32::kSettableAttributes;
    if (word == 0) word = FILE_ATTRIBUTE_NORMAL;
    if (!SetAttributesPath(path, word)) return LastPathError(path);
    return Status::Ok();
  }

  Status Remove(const std::string& path) override;
  Status CreateDirectories(const std::string& path) override;

  Status RemoveFolder(const std::string& path) override {
    if (!RemoveDirectoryW(win32::LongForm(path).c_str())) return LastPathError(path);
    return Status::Ok();
  }

  Status FreeSpace(const std::string& path, uint64_t* free, uint64_t* total) override {
    ULARGE_INTEGER available{};
    ULARGE_INTEGER all{};
    if (!GetDiskFreeSpaceExW(win32::LongForm(path).c_str(), &available, &all, nullptr)) {
      return LastPathError(path);
    }
    *free = available.QuadPart;
    *total = all.QuadPart;
    return Status::Ok();
  }
};

// The security of a folder private to the user who runs the program: the user and the
// administrators have every right, nobody else any, and nothing is inherited from above; files
// and folders made inside inherit the same.
class PrivateFolderSecurity {
 public:
  PrivateFolderSecurity() {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return;
    const Handle token(opened);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    char* sid = nullptr;
    if (GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
      const std::string sddl = std::string("D:P(A;OICI;FA;;;") + sid + ")(A;OICI;FA;;;BA)";
      ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                           &descriptor_, nullptr);
      LocalFree(sid);
    }
  }
  ~PrivateFolderSecurity() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
  }
  // Null where the system would not say who the user is: the folder then inherits as usual.
  SECURITY_ATTRIBUTES* attributes() {
    if (descriptor_ == nullptr) return nullptr;
    attributes_ = {sizeof attributes_, descriptor_, FALSE};
    return &attributes_;
  }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

Status Win32FileSystem::CreateDirectories(const std::string& path) {
  // Past the drive ("c:\") or the share ("\\server\share\"), which cannot be made.
  size_t start = path.size() > 2 && path[1] == ':' ? 3 : 0;
  if (path.rfind("\\\\", 0) == 0) {
    start = path.find('\\', path.find('\\', 2) + 1);
    if (start == std::string::npos) return Status::Ok();
    ++start;
  }
  PrivateFolderSecurity security;
  for (size_t end = path.find_first_of("\\/", start);; end = path.find_first_of("\\/", end + 1)) {
    const std::string part = path.substr(0, end);
    if (part.size() > start &&
        !CreateDirectoryW(win32::LongForm(part).c_str(), security.attributes()) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      return LastPathError(part);
    }
    if (end == std::string::npos) return Status::Ok();
  }
}

Status Win32FileSystem::Remove(const std::string& path) {
  if (win32::DeletePath(path)) return Status::Ok();
  const DWORD error = GetLastError();
  // DeleteFile refuses a read-only file where unlink would not.
  const DWORD old = GetAttributesPath(path);
  if (error != ERROR_ACCESS_DENIED || old == INVALID_FILE_ATTRIBUTES ||
      !(old & FILE_ATTRIBUTE_READONLY) || (old & FILE_ATTRIBUTE_DIRECTORY)) {
    return PathError(error, path);
  }
  const DWORD writable = old & win32::kSettableAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
  if (!SetAttributesPath(path, writable ? writable : FILE_ATTRIBUTE_NORMAL)) {
    return PathError(error, path);
  }
  if (win32::DeletePath(path)) return Status::Ok();
  const Status failed = LastPathError(path);
  SetAttributesPath(path, old & win32::kSettableAttributes);
  return failed;
}

}  // namespace

std::unique_ptr<FileSystem> CreateNativeFileSystem() {
  return std::make_unique<Win32FileSystem>();
}

std::string FoldedName(const std::string& name) {
  std::wstring wide = win32::Widen(name);
  if (wide.empty()) return name;
  CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return win32::Narrow(wide.c_str(), wide.size());
}

}  // namespace quelix
