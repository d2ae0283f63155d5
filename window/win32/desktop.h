// What the main window asks of the desktop: the monitor's DPI and the dialog font.
#pragma once

#include <windows.h>

namespace quelix::win32 {

// The DPI of the monitor that shows `hwnd` (the system DPI where the system cannot tell).
UINT WindowDpi(HWND hwnd);

// Grows `rect` from a client area to the whole window for the given style at `dpi`.
void ClientToWindowRect(RECT* rect, DWORD style, DWORD ex_style, UINT dpi);

// The system's message font (the standard dialog font) at `dpi`. The caller owns the font.
HFONT CreateDialogFont(UINT dpi);

}  // namespace quelix::win32
