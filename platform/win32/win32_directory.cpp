// Directories held open by handle: every name below one is opened relative to the handle of the
// directory that holds it, one name at a time, never through a reparse point that names another
// file.
#include "platform/win32/win32_directory.h"

#include "platform/win32/win32_errors.h"
#include "platform/win32/win32_paths.h"

namespace quelix::win32 {
namespace {

// One listing call takes a large folder in few calls; network redirectors take at most 64 KiB.
constexpr DWORD kListBuffer = 64 * 1024;
constexpr size_t kMaxNameLength = 255;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::vector<std::string> Parts(const std::string& relative) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = relative.find_first_of("\\/", start);
    parts.push_back(relative.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

OpenRequest FileRequest(OpenMode mode) {
  constexpr ULONG kFile = FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT;
  switch (mode) {
    case OpenMode::kRead:
      // A candidate another program holds open, even for writing or deleting, is still read.
      return {FILE_GENERIC_READ, kShareAll, FILE_OPEN, kFile | FILE_SEQUENTIAL_ONLY};
    case OpenMode::kReadHeld:
      // Without FILE_SHARE_WRITE no other program can open it for writing until it is replaced,
      // and one that has it open for writing already makes this open fail (in use).
      return {FILE_GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, FILE_OPEN,
              kFile | FILE_SEQUENTIAL_ONLY};
    case OpenMode::kWriteNew:
      // Read back, renamed and deleted through its own handle, and given the original's security
      // descriptor; without FILE_SHARE_DELETE nobody else can rename or delete it meanwhile.
      return {FILE_GENERIC_READ | FILE_GENERIC_WRITE | DELETE | WRITE_DAC | WRITE_OWNER,
              FILE_SHARE_READ, FILE_CREATE, kFile};
    case OpenMode::kWriteTruncate:
      // Emptied only once it is known to be no link.
      return {FILE_GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, FILE_OPEN_IF, kFile};
    case OpenMode::kAppend:
      return {FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
              FILE_OPEN_IF, kFile};
  }
  return {};
}

// Fills `*entry` from a listed entry; false for "." and "..".
bool Describe(const FILE_ID_BOTH_DIR_INFO& found, DirEntry* entry) {
  const size_t length = found.FileNameLength / sizeof(wchar_t);
  if ((length == 1 && found.FileName[0] == L'.') ||
      (length == 2 && found.FileName[0] == L'.' && found.FileName[1] == L'.')) {
    return false;
  }
  entry->name = Narrow(found.FileName, length);
  entry->attributes = found.FileAttributes;
  entry->file_id = static_cast<uint64_t>(found.FileId.QuadPart);
  // Links, junctions and mount points are never entered, so every walk ends on its volume.
  entry->is_directory = (found.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                        !(found.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  // A reparse point may be a link, or hold data only a normal open gives: the listing cannot
  // tell which, and the open that checks is the one for a file of unknown kind.
  entry->is_regular_file =
      !(found.FileAttributes &
        (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
  return true;
}

// A reparse point that holds the file's own data (deduplicated, compressed, a cloud placeholder)
// gives it only when opened normally. Opened again so, it must be the same file: had someone put
// a link there meanwhile, this open would have followed it.
Status OpenData(HANDLE parent, const std::wstring& name, const std::string& path,
                OpenRequest request, const Identity& reparse_point, Handle* out) {
  request.options &= ~ULONG{FILE_OPEN_REPARSE_POINT};
  Handle data;
  const LONG opened = OpenRelative(parent, name, request, &data);
  if (opened < 0) return FromNtStatus(opened, path);
  Identity identity;
  if (!Identify(data.get(), &identity)) return LastError(path);
  if (!identity.SameFile(reparse_point)) {
    return {ErrorCode::kChanged, path + ": replaced by another file meanwhile"};
  }
  *out = std::move(data);
  return Status::Ok();
}

Status OpenFileBelow(HANDLE parent, const std::string& name, const std::string& path, OpenMode mode,
                     Handle* out, DWORD* attributes) {
  const std::wstring wide = Widen(name);
  const OpenRequest request = FileRequest(mode);
  const LONG opened = OpenRelative(parent, wide, request, out);
  if (opened < 0) return FromNtStatus(opened, path);
  if (GetFileType(out->get()) != FILE_TYPE_DISK) {
    return {ErrorCode::kNotAFile, path + ": not a regular file"};
  }
  Identity identity;
  if (!Identify(out->get(), &identity)) return LastError(path);
  if (IsNameSurrogate(identity.attributes, identity.reparse_tag)) {
    return {ErrorCode::kLink, path + ": it is a link"};
  }
  *attributes = identity.attributes;
  const bool reading = mode == OpenMode::kRead || mode == OpenMode::kReadHeld;
  if ((identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT) && reading) {
    const Status status = OpenData(parent, wide, path, request, identity, out);
    if (!status.ok()) return status;
  }
  if (mode == OpenMode::kWriteTruncate) return Truncate(out->get(), path);
  return Status::Ok();
}

}  // namespace

OpenRequest DirectoryRequest() {
  return {FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
          FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
          FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT};
}

Status CheckName(const std::string& name, const std::string& path) {
  if (name == "..") return {ErrorCode::kOtherVolume, path + ": leads out of the folder"};
  if (name.find(':') != std::string::npos) return {ErrorCode::kNotFound, path + ": not a name"};
  if (name.size() > kMaxNameLength && Widen(name).size() > kMaxNameLength) {
    return {ErrorCode::kNameTooLong, path + ": the name is longer than 255 characters"};
  }
  return Status::Ok();
}

Status Win32Directory::List(const std::function<bool(const DirEntry&)>& visit) {
  std::vector<uint64_t> buffer(kListBuffer / sizeof(uint64_t));
  // The listing that gives each entry's file id, as GetInfo tells it.
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  DirEntry entry;
  for (;;) {
    if (!GetFileInformationByHandleEx(handle_.get(), kind, buffer.data(), kListBuffer)) {
      const DWORD error = GetLastError();
      // A drive's empty root has no "." or "..", so its very first batch finds nothing.
      if (error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND) return Status::Ok();
      return FromError(error, path_);
    }
    kind = FileIdBothDirectoryInfo;
    const char* at = reinterpret_cast<const char*>(buffer.data());
    for (;;) {
      const auto* found = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      if (Describe(*found, &entry) && !visit(entry)) return Status::Ok();
      if (found->NextEntryOffset == 0) break;
      at += found->NextEntryOffset;
    }
  }
}

Status Win32Directory::OpenDirectory(const std::string& relative, std::unique_ptr<Directory>* dir) {
  const std::vector<std::string> parts = Parts(relative);
  Handle held;
  std::string path;
  Status status = Descend(parts, parts.size(), &held, &path);
  if (status.ok() && !held.valid()) {
    // The directory itself once more, with a handle of its own so that its listing starts afresh.
    const LONG opened = OpenRelative(handle_.get(), L"", DirectoryRequest(), &held);
    if (opened < 0) status = FromNtStatus(opened, path_);
  }
  if (!status.ok()) return status;
  *dir = std::make_unique<Win32Directory>(std::move(held), volume_, path);
  return Status::Ok();
}

Status Win32Directory::OpenFile(const std::string& relative, OpenMode mode,
                                std::unique_ptr<File>* file) {
  const std::vector<std::string> parts = Parts(relative);
  Handle held;
  std::string folder;
  Status status = Descend(parts, parts.size() - 1, &held, &folder);
  if (!status.ok()) return status;
  const std::string path = folder + parts.back();
  status = CheckName(parts.back(), path);
  Handle opened;
  DWORD attributes = 0;
  if (status.ok()) {
    status = OpenFileBelow(held.valid() ? held.get() : handle_.get(), parts.back(), path, mode,
                           &opened, &attributes);
  }
  if (!status.ok()) return status;
  const bool reading = mode == OpenMode::kRead || mode == OpenMode::kReadHeld;
  *file = std::make_unique<Win32File>(std::move(opened), path,
                                      reading && (attributes & FILE_ATTRIBUTE_SPARSE_FILE));
  return Status::Ok();
}

// Opens the directory the first `count` of `parts` name below this one, each below the one
// before while that one is held. `*held` stays empty where that is this directory itself.
Status Win32Directory::Descend(const std::vector<std::string>& parts, size_t count, Handle* held,
                               std::string* path) const {
  *path = path_;
  for (size_t i = 0; i < count; ++i) {
    const std::string& name = parts[i];
    if (name.empty() || name == ".") continue;
    Handle next;
    const Status status =
        OpenSubdirectory(held->valid() ? held->get() : handle_.get(), name, *path + name, &next);
    if (!status.ok()) return status;
    *held = std::move(next);  // the one before is let go only now
    *path += name + '\\';
  }
  return Status::Ok();
}

Status Win32Directory::OpenSubdirectory(HANDLE parent, const std::string& name,
                                        const std::string& path, Handle* out) const {
  const Status status = CheckName(name, path);
  if (!status.ok()) return status;
  const LONG opened = OpenRelative(parent, Widen(name), DirectoryRequest(), out);
  if (opened < 0) return FromNtStatus(opened, path);
  Identity identity;
  if (!Identify(out->get(), &identity)) return LastError(path);
  bool link = IsNameSurrogate(identity.attributes, identity.reparse_tag);
  if (!(identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    // Wine opens the target of a Unix symbolic link even when asked for the link itself, so the
    // handle cannot tell; the name, looked up in the folder the program holds, still does.
    const DWORD by_name = GetAttributesPath(path);
    link = by_name != INVALID_FILE_ATTRIBUTES && (by_name & FILE_ATTRIBUTE_REPARSE_POINT);
  }
  if (link) return {ErrorCode::kLink, path + ": a link stands on its way"};
  if (identity.volume != volume_) {
    return {ErrorCode::kOtherVolume, path + ": leads onto another volume"};
  }
  return Status::Ok();
}

Status Win32Directory::FreeSpace(uint64_t* free, uint64_t* total) {
  // Asked by path: only the figures depend on it, and the folder is held, so it cannot be moved.
  ULARGE_INTEGER available{};
  ULARGE_INTEGER all{};
  if (!GetDiskFreeSpaceExW(LongForm(path_).c_str(), &available, &all, nullptr)) {
    return LastError(path_);
  }
  *free = available.QuadPart;
  *total = all.QuadPart;
  return Status::Ok();
}

}  // namespace quelix::win32
