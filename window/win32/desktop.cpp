#include "window/win32/desktop.h"

#include <cctype>

namespace quelix::win32 {
namespace {

// The per-monitor DPI functions appeared in Windows 10; they are looked up at run time so that the
// program still starts on a system without them.
template <typename Function>
Function User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleA("user32.dll");
  return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                : nullptr;
}

UINT SystemDpi() {
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

std::string VolumeLabel(const std::string& root) {
  char label[MAX_PATH + 1] = {};
  if (!GetVolumeInformationA(root.c_str(), label, sizeof label, nullptr, nullptr, nullptr, nullptr,
                             0)) {
    return {};
  }
  return label;
}

}  // namespace

std::vector<std::string> DriveDesignations() {
  std::vector<std::string> drives;
  DWORD mask = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if (!(mask & (1u << i))) continue;
    std::string designation{static_cast<char>('a' + i), ':'};
    std::string root{static_cast<char>('A' + i), ':', '\\'};
    UINT type = GetDriveTypeA(root.c_str());
    if (type == DRIVE_FIXED || type == DRIVE_RAMDISK) {
      std::string label = VolumeLabel(root);
      if (!label.empty()) designation += " [" + label + "]";
    }
    drives.push_back(designation);
  }
  return drives;
}

std::string CurrentDrive() {
  char dir[MAX_PATH + 1] = {};
  DWORD length = GetCurrentDirectoryA(sizeof dir, dir);
  if (length < 2 || length > MAX_PATH || dir[1] != ':') return {};
  return {static_cast<char>(std::tolower(static_cast<unsigned char>(dir[0]))), ':'};
}

UINT WindowDpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get_dpi = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  UINT dpi = get_dpi && hwnd ? get_dpi(hwnd) : 0;
  return dpi ? dpi : SystemDpi();
}

void ClientToWindowRect(RECT* rect, DWORD style, DWORD ex_style, UINT dpi) {
  using AdjustFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjust = User32Function<AdjustFn>("AdjustWindowRectExForDpi");
  if (!adjust || !adjust(rect, style, FALSE, ex_style, dpi)) {
    AdjustWindowRectEx(rect, style, FALSE, ex_style);
  }
}

HFONT CreateDialogFont(UINT dpi) {
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = sizeof metrics;
  if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  }
  // The metrics come at the system DPI; the window may sit on a monitor with another.
  LOGFONTA& font = metrics.lfMessageFont;
  font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
  return CreateFontIndirectA(&font);
}

std::string ProgramDirectory() {
  // With long paths enabled the module path may exceed MAX_PATH; grow until it fits.
  std::string path(MAX_PATH, '\0');
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return ".";
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos) return ".";
  // A program in a drive's root keeps the backslash: "c:" alone would mean the current directory.
  return path.substr(0, slash == 2 ? 3 : slash);
}

}  // namespace quelix::win32
