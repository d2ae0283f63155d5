// What a cleaned copy takes over from the original besides the content, handle to handle: the
// alternate data streams, the security descriptor and the attribute word.
#include <aclapi.h>

#include <memory>

#include "platform/win32/win32_errors.h"
#include "platform/win32/win32_file.h"
#include "platform/win32/win32_paths.h"

namespace quelix::win32 {
namespace {

constexpr size_t kStreamListStart = 4 * 1024;
constexpr size_t kStreamListLimit = 4 * 1024 * 1024;
constexpr DWORD kStreamPart = 64 * 1024;
// What the listing calls the file's own content, and the suffix of every other data stream.
constexpr wchar_t kDefaultStream[] = L"::$DATA";
constexpr wchar_t kDataSuffix[] = L":$DATA";

DWORD VolumeFlags(HANDLE handle) {
  DWORD flags = 0;
  if (!GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
    return 0;
  }
  return flags;
}

// ":name:$DATA" as "name", for people.
std::string StreamLabel(const std::wstring& stream) {
  std::wstring name = stream.substr(1, stream.size() - 1 - (std::size(kDataSuffix) - 1));
  return Narrow(name.c_str());
}

// Copies the stream `stream` (":name:$DATA") of the file open on `from` to the one open on `to`.
// Both are opened relative to the file handles, never by a path that could name another file.
bool CopyStream(HANDLE from, HANDLE to, const std::wstring& stream) {
  Handle in;
  Handle out;
  const OpenRequest read{FILE_GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY};
  const OpenRequest write{FILE_GENERIC_WRITE, 0, FILE_OVERWRITE_IF, FILE_NON_DIRECTORY_FILE};
  if (OpenRelative(from, stream, read, &in) < 0 || OpenRelative(to, stream, write, &out) < 0) {
    return false;
  }
  std::unique_ptr<char[]> buffer(new char[kStreamPart]);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in.get(), buffer.get(), kStreamPart, &got, nullptr)) return false;
    if (got == 0) return out.Close();
    DWORD written = 0;
    if (!WriteFile(out.get(), buffer.get(), got, &written, nullptr) || written != got) {
      return false;
    }
  }
}

// The named data streams of the file open on `handle`; false where they cannot be listed.
bool ListStreams(HANDLE handle, std::vector<std::wstring>* streams) {
  std::vector<uint64_t> buffer(kStreamListStart / sizeof(uint64_t));
  while (!GetFileInformationByHandleEx(handle, FileStreamInfo, buffer.data(),
                                       static_cast<DWORD>(buffer.size() * sizeof(uint64_t)))) {
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF) return true;  // not even the default stream
    if (error != ERROR_MORE_DATA || buffer.size() * sizeof(uint64_t) >= kStreamListLimit) {
      return false;
    }
    buffer.resize(buffer.size() * 2);
  }
  const char* at = reinterpret_cast<const char*>(buffer.data());
  for (;;) {
    const auto* entry = reinterpret_cast<const FILE_STREAM_INFO*>(at);
    std::wstring name(entry->StreamName, entry->StreamNameLength / sizeof(wchar_t));
    const size_t suffix = std::size(kDataSuffix) - 1;
    if (name != kDefaultStream && name.size() > suffix + 1 &&
        name.compare(name.size() - suffix, suffix, kDataSuffix) == 0) {
      streams->push_back(std::move(name));
    }
    if (entry->NextEntryOffset == 0) return true;
    at += entry->NextEntryOffset;
  }
}

void CopyStreams(HANDLE from, HANDLE to, std::vector<std::string>* lost) {
  // A volume without named streams (FAT, and Wine's view of any Unix directory) has none to keep.
  if (!(VolumeFlags(from) & FILE_NAMED_STREAMS)) return;
  std::vector<std::wstring> streams;
  if (!ListStreams(from, &streams)) {
    lost->push_back("alternate data streams");
    return;
  }
  for (const std::wstring& stream : streams) {
    if (!CopyStream(from, to, stream))
      lost->push_back("alternate data stream " + StreamLabel(stream));
  }
}

void CopySecurity(HANDLE from, HANDLE to, std::vector<std::string>* lost) {
  if (!(VolumeFlags(from) & FILE_PERSISTENT_ACLS)) return;
  PSID owner = nullptr;
  PSID group = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(
          from, SE_FILE_OBJECT,
          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          &owner, &group, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    lost->push_back("security descriptor");
    return;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  // A DACL that inherits nothing from the folder must stay so; the others take the folder's
  // inheritable entries as the original did.
  const SECURITY_INFORMATION dacl_info =
      DACL_SECURITY_INFORMATION |
      ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);
  if (SetSecurityInfo(to, SE_FILE_OBJECT, dacl_info, nullptr, nullptr, dacl, nullptr) !=
      ERROR_SUCCESS) {
    lost->push_back("security descriptor");
  }
  // Another owner than the process's needs the restore privilege; without it the copy is owned
  // by whoever runs the program.
  if (owner && SetSecurityInfo(to, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr,
                               nullptr, nullptr) != ERROR_SUCCESS) {
    lost->push_back("owner");
  }
  if (group && SetSecurityInfo(to, SE_FILE_OBJECT, GROUP_SECURITY_INFORMATION, nullptr, group,
                               nullptr, nullptr) != ERROR_SUCCESS) {
    lost->push_back("group");
  }
  LocalFree(descriptor);
}

}  // namespace

Status CopyMetadata(HANDLE from, HANDLE to, const std::string& path,
                    std::vector<std::string>* lost) {
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(from, FileBasicInfo, &basic, sizeof basic)) {
    return LastError(path);
  }
  // Streams first: they are opened anew, which the copy's new security descriptor or its read-only
  // bit could refuse. The copy's own handle keeps the access it was opened with.
  CopyStreams(from, to, lost);
  CopySecurity(from, to, lost);
  return SetAttributeWord(to, basic.FileAttributes, path);
}

}  // namespace quelix::win32
