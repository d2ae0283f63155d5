// What the main window asks of the desktop: the machine's drives, the monitor's DPI, the dialog
// font and the program's own directory.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quelix::win32 {

// The machine's drives in the style of a drive list, in letter order: the lower-case letter and a
// colon, then " [label]" where the drive is a fixed or RAM drive with a volume label
// ("c: [system]", "a:"). Removable, optical and network drives are not asked for a label, so that
// a drive without media or a server out of reach neither delays the start nor prompts.
std::vector<std::string> DriveDesignations();

// The current directory's drive as "x:" (lower case); empty when it has no drive letter.
std::string CurrentDrive();

// The DPI of the monitor that shows `hwnd` (the system DPI where the system cannot tell).
UINT WindowDpi(HWND hwnd);

// Grows `rect` from a client area to the whole window for the given style at `dpi`.
void ClientToWindowRect(RECT* rect, DWORD style, DWORD ex_style, UINT dpi);

// The system's message font (the standard dialog font) at `dpi`. The caller owns the font.
HFONT CreateDialogFont(UINT dpi);

// The directory that holds the executable, without a closing backslash unless it is a root.
std::string ProgramDirectory();

}  // namespace quelix::win32
