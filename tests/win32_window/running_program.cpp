#include "tests/win32_window/running_program.h"

#include <commctrl.h>

#include <cstdio>
#include <iostream>
#include <thread>

#include "window/win32/control_ids.h"

namespace quelix::win32 {
namespace {

struct Search {
  DWORD process_id;
  const char* window_class;  // nullptr: any
  HWND found = nullptr;
  bool any_caption = false;  // else only the program's caption
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner != search->process_id) return TRUE;
  char caption[64] = {};
  GetWindowTextA(hwnd, caption, sizeof caption);
  char window_class[64] = {};
  GetClassNameA(hwnd, window_class, sizeof window_class);
  if (!search->any_caption && std::string(caption) != kCaption) return TRUE;
  if (search->window_class && std::string(window_class) != search->window_class) return TRUE;
  search->found = hwnd;
  return FALSE;
}

// Every top-level window of a process, for people: class, caption, and whether it is hidden.
struct Listing {
  DWORD process_id;
  std::string text;
};

BOOL CALLBACK ListWindow(HWND hwnd, LPARAM context) {
  auto* listing = reinterpret_cast<Listing*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner != listing->process_id) return TRUE;
  char caption[128] = {};
  GetWindowTextA(hwnd, caption, sizeof caption);
  char window_class[64] = {};
  GetClassNameA(hwnd, window_class, sizeof window_class);
  listing->text += std::string(listing->text.empty() ? "" : "; ") + window_class + " \"" + caption +
                   "\"" + (IsWindowVisible(hwnd) ? "" : " (hidden)");
  if (std::string(window_class) == "#32770") {
    listing->text += " saying \"" + RunningProgram::MessageText(hwnd) + "\"";
  }
  return TRUE;
}

BOOL CALLBACK MatchShownTooltip(HWND hwnd, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  char window_class[64] = {};
  GetClassNameA(hwnd, window_class, sizeof window_class);
  if (owner != search->process_id || !IsWindowVisible(hwnd) ||
      std::string(window_class) != TOOLTIPS_CLASSA) {
    return TRUE;
  }
  search->found = hwnd;
  return FALSE;
}

HWND FindProcessTooltip(DWORD process_id) {
  Search search{process_id, nullptr};
  EnumWindows(&MatchShownTooltip, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindProcessWindow(DWORD process_id, const char* window_class) {
  Search search{process_id, window_class};
  EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Sends a message to the program, giving up after 5 s so that a hung program fails the test
// instead of stopping it; returns `failed` then.
LRESULT Ask(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, LRESULT failed, bool wide) {
  DWORD_PTR result = 0;
  LRESULT sent =
      wide ? SendMessageTimeoutW(hwnd, message, wparam, lparam, SMTO_ABORTIFHUNG, 5000, &result)
           : SendMessageTimeoutA(hwnd, message, wparam, lparam, SMTO_ABORTIFHUNG, 5000, &result);
  return sent ? static_cast<LRESULT>(result) : failed;
}

LRESULT Ask(HWND hwnd, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
  return Ask(hwnd, message, wparam, lparam, 0, false);
}

// The first shown Edit control below a dialog: the folder dialog's name box.
BOOL CALLBACK MatchShownEdit(HWND hwnd, LPARAM context) {
  char window_class[32] = {};
  GetClassNameA(hwnd, window_class, sizeof window_class);
  if (std::string(window_class) != "Edit" || !IsWindowVisible(hwnd)) return TRUE;
  *reinterpret_cast<HWND*>(context) = hwnd;
  return FALSE;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

RunningProgram::~RunningProgram() {
  if (!process_.hProcess) return;
  if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.hProcess, 99);
    WaitForSingleObject(process_.hProcess, 5000);
  }
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

bool RunningProgram::Start(const std::string& exe, const std::string& working_dir,
                           std::string* error) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string command_line = "\"" + exe + "\"";
  // Wine's process creation fails now and then with an internal error on a loaded machine; that
  // is the test host's fault, not the program's, so it is tried again a few times.
  DWORD failure = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (CreateProcessA(exe.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       working_dir.c_str(), &startup, &process_)) {
      failure = ERROR_SUCCESS;
      break;
    }
    failure = GetLastError();
    if (failure != ERROR_INTERNAL_ERROR) break;
    Sleep(1000);
  }
  if (failure != ERROR_SUCCESS) {
    *error = "CreateProcess failed for " + exe + ", error " + std::to_string(failure);
    return false;
  }
  // The window class rules out a message box of the same caption; the window is shown once its
  // controls and start-up are done. A program that ended is not waited for.
  WaitUntil(
      [&] {
        window_ = FindProcessWindow(process_.dwProcessId, kWindowClass);
        return (window_ && IsWindowVisible(window_)) ||
               WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
      },
      kPatience);
  if (window_ && !IsWindowVisible(window_)) window_ = nullptr;
  if (!window_) {
    *error = "no window captioned \"Quelix Remover\" (waited up to " +
             std::to_string(kPatience.count()) + " s): " + Describe();
  }
  return window_ != nullptr;
}

std::string RunningProgram::Text(int id) const {
  HWND control = Control(id);
  LRESULT length = Ask(control, WM_GETTEXTLENGTH);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  LRESULT got = Ask(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(got));
  return text;
}

size_t RunningProgram::ListCount(int id) const {
  return static_cast<size_t>(Ask(Control(id), LB_GETCOUNT));
}

std::vector<std::wstring> RunningProgram::WideListEntries(int id) const {
  HWND list = Control(id);
  std::vector<std::wstring> entries;
  LRESULT count = Ask(list, LB_GETCOUNT);
  for (LRESULT i = 0; i < count; ++i) {
    // Read wide: Wine hands a list box's text to another process's narrow LB_GETTEXT unconverted.
    LRESULT length = Ask(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0, LB_ERR, true);
    if (length == LB_ERR) break;
    std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
    LRESULT got = Ask(list, LB_GETTEXT, static_cast<WPARAM>(i),
                      reinterpret_cast<LPARAM>(wide.data()), LB_ERR, true);
    wide.resize(got == LB_ERR ? 0 : static_cast<size_t>(got));
    entries.push_back(wide);
  }
  return entries;
}

std::vector<std::string> RunningProgram::ListEntries(int id) const {
  std::vector<std::string> entries;
  for (const std::wstring& wide : WideListEntries(id)) {
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
    std::string entry(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), entry.data(), bytes,
                        nullptr, nullptr);
    entries.push_back(entry);
  }
  return entries;
}

RECT RunningProgram::ClientRect(int id) const {
  RECT rect{};
  GetWindowRect(Control(id), &rect);
  MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

bool RunningProgram::SelectDrive(const std::string& prefix) {
  HWND drive1 = Control(kDrive1);
  LRESULT index = Ask(drive1, CB_FINDSTRING, static_cast<WPARAM>(-1),
                      reinterpret_cast<LPARAM>(prefix.c_str()), CB_ERR, false);
  if (index == CB_ERR) return false;
  return Ask(drive1, CB_SETCURSEL, static_cast<WPARAM>(index), 0, CB_ERR, false) == index;
}

void RunningProgram::Press(int id) {
  // Posted, as a click is: the command runs inside the program while the driver goes on watching.
  PostMessageA(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(Control(id)));
}

bool RunningProgram::WaitForStatus(const std::string& text, std::chrono::milliseconds timeout) {
  if (timeout == kPatience) {
    return WaitShowing("waiting for the status \"" + text + "\"",
                       [&] { return Text(kLabel1) == text; });
  }
  return WaitUntil([&] { return Text(kLabel1) == text; }, timeout);
}

HWND RunningProgram::WaitForMessageBox(std::chrono::milliseconds timeout) const {
  HWND box = nullptr;
  const auto up = [&] {
    return (box = FindProcessWindow(process_.dwProcessId, "#32770")) != nullptr;
  };
  if (timeout == kPatience) {
    WaitShowing("waiting for a message box", up);
  } else {
    WaitUntil(up, timeout);
  }
  return box;
}

std::string RunningProgram::MessageText(HWND box) {
  char text[512] = {};
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // the message box's text control
  return text;
}

bool RunningProgram::PressOk(HWND box) {
  return PressButton(box, IDOK);
}

bool RunningProgram::PressButton(HWND box, int id) {
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
  return WaitUntil([box] { return !IsWindow(box); }, kPatience);
}

std::string RunningProgram::ShownTooltip() const {
  HWND tip = FindProcessTooltip(process_.dwProcessId);
  if (!tip) return {};
  char text[1024] = {};
  Ask(tip, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

bool RunningProgram::ChooseOtherFolder() {
  HWND drive1 = Control(kDrive1);
  const LRESULT other = Ask(drive1, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                            reinterpret_cast<LPARAM>(L"Other folder\u2026"), CB_ERR, true);
  if (other == CB_ERR || other != Ask(drive1, CB_GETCOUNT) - 1) return false;
  if (Ask(drive1, CB_SETCURSEL, static_cast<WPARAM>(other), 0, CB_ERR, false) != other)
    return false;
  // Posted, as the chooser tells its window of a choice: the dialog runs inside the program.
  PostMessageA(window_, WM_COMMAND, MAKEWPARAM(kDrive1, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(drive1));
  return true;
}

HWND RunningProgram::WaitForFolderDialog() const {
  HWND dialog = nullptr;
  WaitShowing("waiting for the folder dialog", [&] {
    Search search{process_.dwProcessId, "#32770", nullptr, true};
    EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
    return (dialog = search.found) != nullptr;
  });
  return dialog;
}

bool RunningProgram::ChooseInFolderDialog(HWND dialog, const std::string& folder) const {
  HWND name_box = nullptr;
  WaitShowing("waiting for the folder dialog's name box", [&] {
    EnumChildWindows(dialog, &MatchShownEdit, reinterpret_cast<LPARAM>(&name_box));
    return name_box != nullptr;
  });
  if (!name_box) return false;
  const std::wstring wide(folder.begin(), folder.end());  // the test's paths are ASCII
  Ask(name_box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()), FALSE, true);
  // A dialog may go into the folder typed at the first OK, emptying its box, and take the folder
  // it is in at the second.
  for (int press = 0; press < 2 && IsWindow(dialog); ++press) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitShowing("waiting for the folder dialog to take the folder",
                [&] { return !IsWindow(dialog) || Ask(name_box, WM_GETTEXTLENGTH) == 0; });
  }
  return WaitUntil([dialog] { return !IsWindow(dialog); }, kPatience);
}

void RunningProgram::SystemCommand(unsigned command) {
  PostMessageA(window_, WM_SYSCOMMAND, command, 0);
}

void RunningProgram::Close() {
  PostMessageA(window_, WM_CLOSE, 0, 0);
}

bool RunningProgram::WaitShowing(const std::string& what, const std::function<bool()>& done) const {
  const auto start = std::chrono::steady_clock::now();
  const auto seconds = [start] {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                            start)
        .count();
  };
  bool reached = false;
  for (auto waited = 0s; !reached && waited < kPatience; waited += 30s) {
    reached = WaitUntil(done, std::min<std::chrono::milliseconds>(30s, kPatience - waited));
    if (!reached)
      std::cout << "[          ] " << what << ": " << seconds() << " s, " << Describe() << "\n";
  }
  if (reached && seconds() > 10)
    std::cout << "[          ] " << what << " took " << seconds() << " s\n";
  return reached;
}

std::string RunningProgram::Describe() const {
  DWORD exit_code = 0;
  if (!process_.hProcess) return "the program was not started";
  if (WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process_.hProcess, &exit_code);
    return "the program has ended, exit code " + std::to_string(exit_code);
  }
  std::string text = "the program runs";
  DWORD_PTR ignored = 0;
  if (!window_) return text + ", with no main window found";
  if (!SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored)) {
    text += " but does not answer its window's messages (busy in a command, or hung)";
  }
  CURSORINFO cursor{};
  cursor.cbSize = sizeof cursor;
  const bool hourglass =
      GetCursorInfo(&cursor) && cursor.hCursor == LoadCursorA(nullptr, MAKEINTRESOURCEA(32514));
  text += "; status line \"" + Text(kLabel1) + "\"; pointer " +
          (hourglass ? "hourglass" : "not the hourglass") + "; " +
          std::to_string(ListCount(kList1)) + " candidates, " +
          std::to_string(ListCount(kLInfected)) + " infected listed";
  Listing listing{process_.dwProcessId, {}};
  EnumWindows(&ListWindow, reinterpret_cast<LPARAM>(&listing));
  return text + "; its windows: " + listing.text;
}

bool RunningProgram::WaitForExit(std::chrono::milliseconds timeout, DWORD* exit_code) {
  if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeout.count())) !=
      WAIT_OBJECT_0) {
    return false;
  }
  GetExitCodeProcess(process_.hProcess, exit_code);
  return true;
}

bool SaveWindowImage(HWND hwnd, const std::string& path) {
  RECT frame{};
  GetWindowRect(hwnd, &frame);
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
  SelectObject(memory, previous);
  GdiFlush();

  DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  DWORD image_size = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + image_size;
  bool written = false;
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
              std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
              std::fwrite(bits, image_size, 1, out) == 1;
    written = std::fclose(out) == 0 && written;
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return written;
}

}  // namespace quelix::win32
