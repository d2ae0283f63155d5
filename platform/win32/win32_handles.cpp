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

LONG RenameRelative(HANDLE file, HANDLE dir, const std::wstring& name, bool while_open) {
  // FILE_RENAME_INFORMATION_EX: the same layout, its first field a word of flags.
  constexpr ULONG kReplaceIfExists = 0x1;
  constexpr ULONG kPosixSemantics = 0x2;
  // FileRenameInformationEx (65), past the classes this SDK's header lists; the class is an int.
  constexpr int kRenameExClass = 65;
  FILE_INFORMATION_CLASS rename_class = FileRenameInformation;
  static_assert(sizeof rename_class == sizeof kRenameExClass);
  if (while_open) std::memcpy(&rename_class, &kRenameExClass, sizeof rename_class);
  const size_t bytes = name.size() * sizeof(wchar_t);
  std::vector<char> buffer(offsetof(FILE_RENAME_INFORMATION, FileName) + bytes + sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
  if (while_open) {
    const ULONG flags = kReplaceIfExists | kPosixSemantics;
    std::memcpy(buffer.data(), &flags, sizeof flags);
  } else {
    info->ReplaceIfExists = TRUE;
  }
  info->RootDirectory = dir;
  info->FileNameLength = static_cast<ULONG>(bytes);
  std::memcpy(info->FileName, name.data(), bytes);
  IO_STATUS_BLOCK io{};
  return NtSetInformationFile(file, &io, info, static_cast<ULONG>(buffer.size()), rename_class);
}

bool RenameWhileOpenUnknown(LONG status) {
  constexpr LONG kNotImplemented = static_cast<LONG>(0xC0000002);
  constexpr LONG kInvalidInfoClass = static_cast<LONG>(0xC0000003);
  constexpr LONG kInvalidParameter = static_cast<LONG>(0xC000000D);
  constexpr LONG kNotSupported = static_cast<LONG>(0xC00000BB);
  return status == kNotImplemented || status == kInvalidInfoClass || status == kInvalidParameter ||
         status == kNotSupported;
}

}  // namespace quelix::win32
