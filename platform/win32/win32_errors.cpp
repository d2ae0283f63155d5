#include "platform/win32/win32_errors.h"

#include <winternl.h>

namespace quelix::win32 {
namespace {

// NT status codes the conversion to Windows error numbers blurs.
constexpr LONG kStatusFileIsADirectory = static_cast<LONG>(0xC00000BA);
constexpr LONG kStatusNotADirectory = static_cast<LONG>(0xC0000103);

}  // namespace

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
    case ERROR_REGISTRY_IO_FAILED:
      return ErrorCode::kIoError;
    case ERROR_DIRECTORY:
      return ErrorCode::kNotAFile;
    case ERROR_TOO_MANY_OPEN_FILES:
      return ErrorCode::kTooManyOpen;
    default:
      return ErrorCode::kOther;
  }
}

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

Status FromError(DWORD error, const std::string& what) {
  return {CodeOf(error), what + ": " + MessageOf(error)};
}

Status LastError(const std::string& what) {
  return FromError(GetLastError(), what);
}

Status FromNtStatus(LONG status, const std::string& what) {
  // Both become "access denied" or "the directory name is invalid"; say what stands there.
  if (status == kStatusFileIsADirectory) return {ErrorCode::kNotAFile, what + ": is a directory"};
  if (status == kStatusNotADirectory) return {ErrorCode::kNotFound, what + ": is not a directory"};
  return FromError(RtlNtStatusToDosError(status), what);
}

}  // namespace quelix::win32
