// QuelixRemover.exe: creates Form1 and runs its event loop until the window closes.
// windows.h must come first: commctrl.h relies on its definitions.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "window/win32/form1.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  // A drive without media must not stop the drive list or the walk with a system dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  quelix::win32::Form1 form(instance);
  if (!form.Create(show)) return 1;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    // Tab, the arrow keys and the access keys move between the controls as in a dialog.
    if (form.hwnd() && IsDialogMessageA(form.hwnd(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
