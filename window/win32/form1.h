// Form1 on Windows: the program's one window, a native Win32 window with the drive chooser, the
// two command buttons, the two lists sharing one rectangle, the log switch and the status line. It
// draws what the commands show and takes the user's input; the command controller runs the
// commands.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/controller.h"
#include "app/drive_choices.h"
#include "app/front_end.h"
#include "platform/file_system.h"
#include "platform/places.h"
#include "platform/shell.h"
#include "runtime/path_list.h"
#include "window/win32/control_ids.h"
#include "window/win32/list_tips.h"

namespace quelix::win32 {

class Form1 : public FrontEnd {
 public:
  explicit Form1(HINSTANCE instance);
  ~Form1() override;
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // Creates the window and its controls, runs the start-up and shows the window. Returns false
  // when the window could not be created.
  bool Create(int show);

  // The window handle, for the message loop's dialog navigation.
  HWND hwnd() const { return hwnd_; }

  // FrontEnd
  void ClearCandidates() override;
  void AppendCandidate(const std::string& path) override;
  size_t CandidateCount() const override { return candidates_.size(); }
  std::string Candidate(size_t index) const override { return candidates_[index]; }
  void HideCandidates() override;
  void ClearInfected() override;
  void AppendInfected(const std::string& path) override;
  size_t InfectedCount() const override { return infected_.size(); }
  std::string Infected(size_t index) const override { return infected_[index]; }
  void ShowInfected() override;
  void SetStatus(const std::string& text) override;
  bool LogSwitch() const override;
  std::string SearchRoot() const override;
  void SetBusyPointer(bool busy) override;
  void ProcessEvents() override;
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  bool Ask(const std::string& question) override;

 private:
  // A list box whose redraw is switched off from its first append until the next yield, so that a
  // burst of appends costs one repaint.
  struct BatchedList {
    HWND hwnd = nullptr;
    bool frozen = false;
    size_t reserved = 0;
  };

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

  void CreateControls();
  // The drive chooser: the drives, the folders chosen besides, "Other folder…" last; shows the
  // entry whose root is `root` (else the first).
  void FillChooser(const std::string& root);
  // The user chose an entry; "Other folder…" asks for a folder.
  void ChooserChanged();
  // Asks for a folder with the system's dialog; "" where the user changed their mind.
  std::string PickFolder();
  // Puts the chosen entry's whole text in the chooser's tooltip.
  void ShowChooserTip();
  // Puts "Restore the last removal…" at the end of the window's system menu.
  void AddRestoreToSystemMenu();
  // Positions every control and sets the font for the current DPI.
  void Layout();
  void OnDpiChanged(UINT dpi, const RECT& suggested);
  // The control's handle, kept from its creation: asking the system each time costs a round trip
  // where the log switch is read for every log entry.
  HWND Control(ControlId id) const { return controls_[id - kFirstControl]; }

  // Start-up: has Remove keep the originals in the backup folder, opens the event log, hands the
  // readme to the shell.
  void Load();
  // Shut-down: ends the program.
  void Unload();
  void OnClose();

  // After a command: its final state on screen, or the end where a close request stopped it.
  void AfterCommand(CommandResult result);

  // Puts pending status text and list appends on screen.
  void FlushScreen();
  // Processes a bounded number of pending events; what is pending for the screen stays pending.
  void PumpEvents();

  void Append(BatchedList& list, const std::string& path);
  void Thaw(BatchedList& list);
  // Tells the candidate list how many entries it has, where appends changed that.
  void ShowCandidateCount();
  // What entry `index` of one of the lists shows (ShownName of its path), "" where none.
  std::string EntryText(HWND list, int index) const;
  void DrawCandidate(const DRAWITEMSTRUCT& item);

  // One line of the status text and where it goes in the status line.
  struct StatusLine {
    std::string text;
    RECT box;
    UINT format;
  };

  // Status line: sizing to the text, drawing, and the tooltip for shortened text.
  void ApplyStatus();
  void DrawStatus(const DRAWITEMSTRUCT& item);
  int StatusMaxWidth() const;

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  std::array<HWND, kLastControl - kFirstControl + 1> controls_{};
  HWND tooltip_ = nullptr;
  ListTips list_tips_;
  HFONT font_ = nullptr;
  UINT dpi_ = USER_DEFAULT_SCREEN_DPI;

  std::unique_ptr<FileSystem> fs_;
  std::unique_ptr<Shell> shell_;
  std::unique_ptr<Places> places_;
  std::unique_ptr<CommandController> controller_;
  DriveChoices choices_;
  std::string shown_root_;  // the root shown before "Other folder…" was chosen
  HWND chooser_tip_ = nullptr;
  std::string chooser_tip_text_;

  PathList candidates_;
  std::vector<std::string> infected_;
  // The candidate list holds no entries of its own: it draws them from candidates_ and learns
  // their number at the next yield after appends.
  HWND list1_ = nullptr;
  bool candidate_count_behind_ = false;
  BatchedList infected_list_;

  std::string status_;
  std::vector<StatusLine> status_lines_;
  bool status_pending_ = false;
  bool status_shortened_ = false;

  bool unloaded_ = false;
  bool busy_pointer_ = false;
};

}  // namespace quelix::win32
