#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/console.h"

namespace quelix {
namespace {

volatile LONG g_stop = 0;

BOOL WINAPI OnControl(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    InterlockedExchange(&g_stop, 1);
    return TRUE;
  }
  return FALSE;
}

class Win32Console final : public Console {
 public:
  Win32Console() {
    // File names are UTF-8 bytes throughout the program; the console shows them as such.
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCtrlHandler(OnControl, TRUE);
  }

  bool ErrorIsTerminal() override { return _isatty(_fileno(stderr)) != 0; }

  int Columns() override {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
      return info.srWindow.Right - info.srWindow.Left + 1;
    }
    return 80;
  }

  bool StopRequested() override { return InterlockedCompareExchange(&g_stop, 0, 0) != 0; }
};

}  // namespace

std::unique_ptr<Console> CreateNativeConsole() {
  return std::make_unique<Win32Console>();
}

}  // namespace quelix
