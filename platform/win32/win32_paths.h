// The kernel32 calls of the Windows file services, each taking the program's narrow path. A path
// that fits the classic 260-character limit goes to the "A" entry point; a longer one goes to the
// "W" entry point with the "\\?\" prefix, which has no such limit and needs no system setting (the
// "A" entry points pass it only where long paths are switched on for the whole system, and never
// under Wine). Names below a held directory need none of this: they are opened relative to its
// handle (see win32_handles.h).
#pragma once

#include <windows.h>

#include <cwchar>
#include <string>

namespace quelix::win32 {

// Below this length every "A" call takes a path; a directory's must leave room for an 8.3 name.
constexpr size_t kShortPathLimit = MAX_PATH - 12;

inline bool NeedsLongForm(const std::string& path) {
  return path.size() >= kShortPathLimit;
}

inline std::wstring Widen(const std::string& text) {
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  }
  return wide;
}

// `length` wide characters of `text` (not NUL-terminated) as the program's narrow string.
inline std::string Narrow(const wchar_t* text, size_t length) {
  const int wide = static_cast<int>(length);
  const int n = WideCharToMultiByte(CP_ACP, 0, text, wide, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, wide, narrow.data(), n, nullptr, nullptr);
  return narrow;
}

inline std::string Narrow(const wchar_t* text) {
  return Narrow(text, wcslen(text));
}

// "c:\dir\file" as "\\?\c:\dir\file", "\\server\share\file" as "\\?\UNC\server\share\file". The
// prefix turns off the system's own clean-up of the path, so separators are made uniform here.
inline std::wstring LongForm(const std::string& path) {
  std::wstring wide = Widen(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  if (wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  if (wide.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + wide.substr(2);
  return L"\\\\?\\" + wide;
}

inline HANDLE CreateFilePath(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                             DWORD flags) {
  if (NeedsLongForm(path)) {
    return CreateFileW(LongForm(path).c_str(), access, share, nullptr, disposition, flags, nullptr);
  }
  return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

inline DWORD GetAttributesPath(const std::string& path) {
  if (NeedsLongForm(path)) return GetFileAttributesW(LongForm(path).c_str());
  return GetFileAttributesA(path.c_str());
}

inline bool SetAttributesPath(const std::string& path, DWORD attributes) {
  if (NeedsLongForm(path)) return SetFileAttributesW(LongForm(path).c_str(), attributes);
  return SetFileAttributesA(path.c_str(), attributes);
}

inline bool GetAttributesExPath(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA* data) {
  if (NeedsLongForm(path)) {
    return GetFileAttributesExW(LongForm(path).c_str(), GetFileExInfoStandard, data);
  }
  return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, data);
}

inline bool DeletePath(const std::string& path) {
  if (NeedsLongForm(path)) return DeleteFileW(LongForm(path).c_str());
  return DeleteFileA(path.c_str());
}

}  // namespace quelix::win32
