// The kernel32 calls of the Windows file services, each taking the program's narrow path. A path
// that fits the classic 260-character limit goes to the "A" entry point; a longer one goes to the
// "W" entry point with the "\\?\" prefix, which has no such limit and needs no system setting (the
// "A" entry points pass it only where long paths are switched on for the whole system, and never
// under Wine). Included by win32_file_system.cpp only.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>

namespace quelix::win32 {

// Below this length every "A" call takes a path, with room for the "\*" of a listing and the
// "temp" of a copy.
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

inline std::string Narrow(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), n, nullptr, nullptr);
  narrow.pop_back();  // the NUL
  return narrow;
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

inline bool MovePath(const std::string& source, const std::string& target, DWORD flags) {
  if (NeedsLongForm(source) || NeedsLongForm(target)) {
    return MoveFileExW(LongForm(source).c_str(), LongForm(target).c_str(), flags);
  }
  return MoveFileExA(source.c_str(), target.c_str(), flags);
}

inline bool DeletePath(const std::string& path) {
  if (NeedsLongForm(path)) return DeleteFileW(LongForm(path).c_str());
  return DeleteFileA(path.c_str());
}

// One entry of a directory enumeration, whichever entry point produced it.
struct FoundEntry {
  std::string name;
  DWORD attributes = 0;
  DWORD reparse_tag = 0;  // valid where attributes hold FILE_ATTRIBUTE_REPARSE_POINT
};

// A directory enumeration (FindFirstFile / FindNextFile / FindClose) over a narrow pattern.
class Finder {
 public:
  Finder() = default;
  ~Finder() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }
  Finder(const Finder&) = delete;
  Finder& operator=(const Finder&) = delete;

  // Starts the enumeration of `pattern` and fills `*entry` with the first match; false (with the
  // error in GetLastError) when nothing can be listed. The basic level skips the short 8.3 names
  // and the large fetch asks for fewer, bigger batches; both only make listing cheaper.
  bool First(const std::string& pattern, DWORD fetch_flags, FoundEntry* entry) {
    wide_ = NeedsLongForm(pattern);
    if (wide_) {
      WIN32_FIND_DATAW data;
      handle_ = FindFirstFileExW(LongForm(pattern).c_str(), FindExInfoBasic, &data,
                                 FindExSearchNameMatch, nullptr, fetch_flags);
      if (handle_ != INVALID_HANDLE_VALUE) Take(data, entry);
    } else {
      WIN32_FIND_DATAA data;
      handle_ = FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                 nullptr, fetch_flags);
      if (handle_ != INVALID_HANDLE_VALUE) Take(data, entry);
    }
    return handle_ != INVALID_HANDLE_VALUE;
  }

  // The next entry; false (ERROR_NO_MORE_FILES at the end) when there is none.
  bool Next(FoundEntry* entry) {
    if (wide_) {
      WIN32_FIND_DATAW data;
      if (!FindNextFileW(handle_, &data)) return false;
      Take(data, entry);
    } else {
      WIN32_FIND_DATAA data;
      if (!FindNextFileA(handle_, &data)) return false;
      Take(data, entry);
    }
    return true;
  }

 private:
  static void Take(const WIN32_FIND_DATAA& data, FoundEntry* entry) {
    // The name field is fixed-size; what the system put there ends at the first NUL.
    entry->name.assign(data.cFileName, strnlen(data.cFileName, sizeof data.cFileName));
    entry->attributes = data.dwFileAttributes;
    entry->reparse_tag = data.dwReserved0;
  }
  static void Take(const WIN32_FIND_DATAW& data, FoundEntry* entry) {
    entry->name = Narrow(data.cFileName);
    entry->attributes = data.dwFileAttributes;
    entry->reparse_tag = data.dwReserved0;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  bool wide_ = false;
};

}  // namespace quelix::win32
