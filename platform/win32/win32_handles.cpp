#include "platform/win32/win32_handles.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace quelix::win32 {

LONG OpenRelative(HANDLE root, const std::wstring& name, const OpenRequest& request, Handle* out) {
  UNICODE_STRING unicode;
  unicode.Buffer = const_cast<wchar_t*>(name.c_str());
  unicode.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  unicode.MaximumLength = unicode.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &unicode, OBJ_CASE_INSENSITIVE, root, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  const NTSTATUS status =
      NtCreateFile(&handle, request.access | SYNCHRONIZE, &attributes, &io, nullptr,
                   FILE_ATTRIBUTE_NORMAL, request.share, request.disposition,
                   request.options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (status >= 0) *out = Handle(handle);
  return status;
}

LONG RenameRelative(HANDLE file, HANDLE dir, const std::wstring& name) {
  const size_t bytes = name.size() * sizeof(wchar_t);
  std::vector<char> buffer(offsetof(FILE_RENAME_INFORMATION, FileName) + bytes + sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = dir;
  info->FileNameLength = static_cast<ULONG>(bytes);
  std::memcpy(info->FileName, name.data(), bytes);
  IO_STATUS_BLOCK io{};
  return NtSetInformationFile(file, &io, info, static_cast<ULONG>(buffer.size()),
                              FileRenameInformation);
}

}  // namespace quelix::win32
