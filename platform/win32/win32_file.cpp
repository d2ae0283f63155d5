#include "platform/win32/win32_file.h"

#include <winioctl.h>

#include <algorithm>

#include "platform/win32/win32_errors.h"

namespace quelix::win32 {
namespace {

// Seconds between 1601-01-01 (FILETIME) and 1970-01-01 (what the POSIX backend reports).
constexpr int64_t kFiletimeToUnixSeconds = 11644473600;

// The most one ReadFile or WriteFile call is given.
constexpr size_t kMaxTransfer = size_t{1} << 30;

DWORD ReparseTagOf(HANDLE handle, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return 0;
  FILE_ATTRIBUTE_TAG_INFO tag_info{};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag_info, sizeof tag_info)) {
    return 0;
  }
  return tag_info.ReparseTag;
}

bool Position(HANDLE handle, uint64_t* at) {
  LARGE_INTEGER zero{};
  LARGE_INTEGER now{};
  if (!SetFilePointerEx(handle, zero, &now, FILE_CURRENT)) return false;
  *at = static_cast<uint64_t>(now.QuadPart);
  return true;
}

}  // namespace

bool IsNameSurrogate(DWORD attributes, DWORD tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         (tag == 0 || IsReparseTagNameSurrogate(tag));
}

bool Identify(HANDLE handle, Identity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  identity->attributes = info.dwFileAttributes;
  identity->reparse_tag = ReparseTagOf(handle, info.dwFileAttributes);
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return true;
}

int64_t UnixNanoseconds(const FILETIME& time) {
  const int64_t ticks =
      static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
  return (ticks - kFiletimeToUnixSeconds * 10000000) * 100;
}

void FillKind(DWORD attributes, DWORD tag, FileInfo* info) {
  info->is_link = IsNameSurrogate(attributes, tag);
  info->is_directory = !info->is_link && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  info->is_regular = !info->is_link && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                     !(attributes & FILE_ATTRIBUTE_DEVICE);
  info->attributes.word = attributes;
}

Status DescribeHandle(HANDLE handle, const std::string& path, FileInfo* info) {
  BY_HANDLE_FILE_INFORMATION by_handle;
  if (!GetFileInformationByHandle(handle, &by_handle)) return LastError(path);
  *info = FileInfo{};
  FillKind(by_handle.dwFileAttributes, ReparseTagOf(handle, by_handle.dwFileAttributes), info);
  info->size = (uint64_t{by_handle.nFileSizeHigh} << 32) | by_handle.nFileSizeLow;
  info->modified_ns = UnixNanoseconds(by_handle.ftLastWriteTime);
  // Only the basic information has the change time; a file system without one reports 0.
  FILE_BASIC_INFO basic{};
  if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
    info->changed_ns = (basic.ChangeTime.QuadPart - kFiletimeToUnixSeconds * 10000000) * 100;
  }
  info->volume = by_handle.dwVolumeSerialNumber;
  info->file_id = (uint64_t{by_handle.nFileIndexHigh} << 32) | by_handle.nFileIndexLow;
  info->links = by_handle.nNumberOfLinks;
  FILE_STANDARD_INFO standard;
  if (GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
    info->allocated = static_cast<uint64_t>(standard.AllocationSize.QuadPart);
  }
  return Status::Ok();
}

Status SetAttributeWord(HANDLE handle, DWORD word, const std::string& path) {
  // Times of 0 are left as they are.
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = word & kSettableAttributes;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic)) {
    return LastError(path);
  }
  return Status::Ok();
}

Status DeleteThroughHandle(HANDLE handle, const std::string& path) {
  // Windows deletes no read-only file; a copy that already got the original's word must still go
  // when it cannot take the original's place.
  FILE_BASIC_INFO basic{};
  const bool read_only =
      GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY);
  if (read_only) {
    const Status cleared =
        SetAttributeWord(handle, basic.FileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY}, path);
    if (!cleared.ok()) return cleared;
  }
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  if (SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)) {
    return Status::Ok();
  }
  const Status failed = LastError(path);
  if (read_only) {
    IgnoreResult(SetAttributeWord(handle, basic.FileAttributes, path), "the first error is told");
  }
  return failed;
}

Status Truncate(HANDLE handle, const std::string& path) {
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(handle, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(handle)) {
    return LastError(path);
  }
  return Status::Ok();
}

void Win32File::WillNeed() {
  if (prefetch_) return;
  auto prefetch = std::make_unique<Prefetch>();
  if (prefetch->Start(handle_.get())) prefetch_ = std::move(prefetch);
}

Status Win32File::Read(char* buffer, size_t capacity, size_t* got) {
  prefetch_.reset();  // its data is in the cache, or on its way there
  uint64_t at = 0;
  if (sparse_ && Position(handle_.get(), &at) && at < data_end_) {
    capacity = static_cast<size_t>(std::min<uint64_t>(capacity, data_end_ - at));
  }
  const DWORD want = static_cast<DWORD>(std::min(capacity, kMaxTransfer));
  DWORD n = 0;
  *got = 0;
  if (!ReadFile(handle_.get(), buffer, want, &n, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return Status::Ok();
    return FromError(error, path_);
  }
  *got = n;
  return Status::Ok();
}

Status Win32File::SkipHole(uint64_t* skipped) {
  *skipped = 0;
  uint64_t at = 0;
  LARGE_INTEGER size{};
  if (!sparse_) return Status::Ok();
  if (!Position(handle_.get(), &at) || !GetFileSizeEx(handle_.get(), &size)) {
    return LastError(path_);
  }
  const uint64_t end = static_cast<uint64_t>(size.QuadPart);
  if (at < data_end_ || at >= end) return Status::Ok();
  FILE_ALLOCATED_RANGE_BUFFER asked{};
  asked.FileOffset.QuadPart = static_cast<LONGLONG>(at);
  asked.Length.QuadPart = static_cast<LONGLONG>(end - at);
  FILE_ALLOCATED_RANGE_BUFFER found{};
  DWORD bytes = 0;
  // The first range with data is all that is needed; more of them is no error.
  if (!DeviceIoControl(handle_.get(), FSCTL_QUERY_ALLOCATED_RANGES, &asked, sizeof asked, &found,
                       sizeof found, &bytes, nullptr) &&
      GetLastError() != ERROR_MORE_DATA) {
    sparse_ = false;  // a volume that cannot tell: the file is read as it is
    return Status::Ok();
  }
  const uint64_t data =
      bytes < sizeof found ? end : std::clamp<uint64_t>(found.FileOffset.QuadPart, at, end);
  data_end_ = bytes < sizeof found ? end : std::min<uint64_t>(data + found.Length.QuadPart, end);
  if (data == at) return Status::Ok();
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(data);
  if (!SetFilePointerEx(handle_.get(), to, nullptr, FILE_BEGIN)) return LastError(path_);
  *skipped = data - at;
  return Status::Ok();
}

Status Win32File::WriteHole(uint64_t length) {
  if (length == 0) return Status::Ok();
  if (!made_sparse_) {
    DWORD bytes = 0;
    // Where the volume has no sparse files, the end moved below is filled with zeros by it.
    sparse_ = DeviceIoControl(handle_.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &bytes,
                              nullptr) != FALSE;
    made_sparse_ = true;
  }
  LARGE_INTEGER by{};
  by.QuadPart = static_cast<LONGLONG>(length);
  LARGE_INTEGER at{};
  LARGE_INTEGER size{};
  if (!SetFilePointerEx(handle_.get(), by, &at, FILE_CURRENT) ||
      !GetFileSizeEx(handle_.get(), &size)) {
    return LastError(path_);
  }
  if (size.QuadPart < at.QuadPart && !SetEndOfFile(handle_.get())) return LastError(path_);
  return Status::Ok();
}

Status Win32File::Write(const char* data, size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min(size, kMaxTransfer));
    DWORD n = 0;
    if (!WriteFile(handle_.get(), data, chunk, &n, nullptr)) return LastError(path_);
    if (n == 0) return FromError(ERROR_WRITE_FAULT, path_);
    data += n;
    size -= n;
  }
  return Status::Ok();
}

Status Win32File::Rewind() {
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(handle_.get(), zero, nullptr, FILE_BEGIN)) return LastError(path_);
  data_end_ = 0;
  return Status::Ok();
}

Status Win32File::Sync() {
  if (!FlushFileBuffers(handle_.get())) return LastError(path_);
  return Status::Ok();
}

Status Win32File::Close() {
  prefetch_.reset();
  if (!handle_.Close()) return LastError(path_);
  return Status::Ok();
}

Status Win32File::GetInfo(FileInfo* info) {
  return DescribeHandle(handle_.get(), path_, info);
}

Status Win32File::CopyMetadataTo(File& copy, std::vector<std::string>* lost) {
  auto* target = dynamic_cast<Win32File*>(&copy);
  if (target == nullptr) return {ErrorCode::kOther, path_ + ": not a file of this backend"};
  return CopyMetadata(handle_.get(), target->handle(), target->path(), lost);
}

}  // namespace quelix::win32
