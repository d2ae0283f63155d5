// QuelixRemover.exe started as a separate process and driven from outside, the way a user would:
// its window is found by caption, its controls by id, and they are sent the messages a click or a
// key press would send.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace quelix::win32 {

using namespace std::chrono_literals;

// How long a test waits for the program to reach a state (a window shown, a scan complete, a
// message box up): far longer than any step takes even on a busy machine, so that only a program
// that really stopped fails. A test that gives up says what the program showed (Describe).
inline constexpr std::chrono::seconds kPatience{300};

// Polls `done` every 20 ms until it returns true or `timeout` passes; returns its last answer.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

class RunningProgram {
 public:
  RunningProgram() = default;
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  // Starts `exe` with `working_dir` as its current directory and waits for its main window.
  // Returns false (with the reason in `error`) when it did not start or showed no window in time.
  bool Start(const std::string& exe, const std::string& working_dir, std::string* error);

  HWND window() const { return window_; }
  HWND Control(int id) const { return GetDlgItem(window_, id); }

  // A control's caption or a list box's entries, read through window messages.
  std::string Text(int id) const;
  std::vector<std::string> ListEntries(int id) const;
  // A list box's entries as the system holds them, in UTF-16.
  std::vector<std::wstring> WideListEntries(int id) const;
  // The number of entries of list box `id` (the candidate list holds no text to read).
  size_t ListCount(int id) const;
  bool IsShown(int id) const { return IsWindowVisible(Control(id)) != FALSE; }
  // The control's rectangle in the main window's client coordinates.
  RECT ClientRect(int id) const;

  // Selects the drive chooser's entry starting with `prefix`; false when there is none.
  bool SelectDrive(const std::string& prefix);
  // Presses a button the way a click does, without waiting for the command it starts.
  void Press(int id);
  // Waits for the status line to read `text`.
  bool WaitForStatus(const std::string& text, std::chrono::milliseconds timeout);
  // The program's message box (caption "Quelix Remover"), once it is up; nullptr otherwise.
  HWND WaitForMessageBox(std::chrono::milliseconds timeout) const;
  // The text of message box `box`.
  static std::string MessageText(HWND box);
  // Presses the OK button of message box `box`; false when the box is still up after kPatience.
  static bool PressOk(HWND box);
  // Presses the button `id` (IDYES, IDNO, ...) of message box `box`, as PressOk does.
  static bool PressButton(HWND box, int id);
  // Chooses "Other folder…", the drive chooser's last entry, as a user does; false where it is
  // not the last entry.
  bool ChooseOtherFolder();
  // The program's folder dialog, once it is up (kPatience); nullptr otherwise.
  HWND WaitForFolderDialog() const;
  // Types `folder` into the name box of the program's folder dialog `dialog` and presses its OK
  // button, as a user who pastes a path does; false where the dialog is still up after that.
  bool ChooseInFolderDialog(HWND dialog, const std::string& folder) const;
  // The text of the program's tooltip on show, "" where none is.
  std::string ShownTooltip() const;
  // Chooses the entry `command` of the window's system menu, as a click on it does.
  void SystemCommand(unsigned command);
  // Asks the window to close, as its close box does.
  void Close();
  // Waits up to kPatience for `done`, printing what the program shows (Describe) every 30 s while
  // it waits, so that a slow step in a run on a busy machine tells what the program was doing.
  // Prints how long `what` took when that was more than 10 s.
  bool WaitShowing(const std::string& what, const std::function<bool()>& done) const;
  // What the program shows now, for a test that gives up waiting: whether it still runs and
  // answers, the status line, the pointer, the lists' lengths and every window it has open (a
  // message box with its text).
  std::string Describe() const;
  // Waits for the process to end; false when it still runs after `timeout`.
  bool WaitForExit(std::chrono::milliseconds timeout, DWORD* exit_code);

 private:
  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

// Writes what the screen shows of `hwnd` (frame included) to a 24-bit BMP file at `path`.
bool SaveWindowImage(HWND hwnd, const std::string& path);

}  // namespace quelix::win32
