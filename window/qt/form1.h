// Form1, the program's one window on Linux: it builds the controls, draws what the commands show
// and takes the user's input; the command controller runs the commands.
#pragma once

#include <QWidget>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/controller.h"
#include "app/form_layout.h"
#include "app/front_end.h"
#include "platform/file_system.h"
#include "platform/places.h"
#include "platform/shell.h"
#include "window/qt/drive_chooser.h"
#include "window/qt/path_list_model.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListView;
class QPushButton;

namespace quelix {

class Form1 : public QWidget, public FrontEnd {
 public:
  // What the window is given from outside; main fills it from the running system, tests with a
  // temporary folder, a recording shell and a recording message box.
  struct Setup {
    FileSystem* fs = nullptr;  // required; must outlive the window
    Shell* shell = nullptr;    // required; must outlive the window
    Places* places = nullptr;  // required; must outlive the window
    RegistryOpener open_registry = CreateNativeRegistry;
    // Asks for a folder to search ("Other folder…"); empty means a real folder dialog. Returns
    // "" when the user changed their mind.
    std::function<std::string()> folder_dialog;
    // Shows the message box; empty means a real QMessageBox.
    std::function<void(const std::string&, MessageIcon)> message_box;
    // Asks a Yes/No question; empty means a real QMessageBox.
    std::function<bool(const std::string&)> question_box;
    // Ends the program once the window has unloaded; empty means QCoreApplication::quit().
    std::function<void()> on_unload;
    // The least time between two yields that process window events, between two that draw a
    // changed status line, and between two that add new entries to the lists.
    std::chrono::milliseconds yield_interval{15};
    std::chrono::milliseconds status_interval{100};
    std::chrono::milliseconds refresh_interval{50};
    // Between two that add entries, also at least this many times what the yields cost from the
    // one time to the next before (laying out and drawing the lists, mostly); 0 leaves
    // refresh_interval alone to decide.
    int refresh_cost_factor = 150;
  };

  explicit Form1(Setup setup);
  ~Form1() override;

  // Start-up: has Remove keep the originals in the backup folder, opens the event log (saying so
  // in the status line when none can be opened) and hands the readme to the shell. Call once,
  // before show().
  void Load();
  // Shut-down: ends the program. Runs once; later calls do nothing.
  void Unload();

  // The Scan and Remove buttons.
  void ScanClicked();
  void RemoveClicked();
  // "Restore the last removal…": the window's context menu (a right click anywhere in it, the
  // menu key or Shift+F10) and Ctrl+Z. Qt cannot reach the title bar's menu, which belongs to
  // the desktop, and a menu bar would change the layout.
  void RestoreClicked();

  const CommandController& controller() const { return *controller_; }

  // FrontEnd
  void ClearCandidates() override;
  void AppendCandidate(const std::string& path) override;
  size_t CandidateCount() const override { return candidates_.size(); }
  std::string Candidate(size_t index) const override { return candidates_.at(index); }
  void HideCandidates() override;
  void ClearInfected() override;
  void AppendInfected(const std::string& path) override;
  size_t InfectedCount() const override { return infected_.size(); }
  std::string Infected(size_t index) const override { return infected_.at(index); }
  void ShowInfected() override;
  void SetStatus(const std::string& text) override;
  bool LogSwitch() const override;
  std::string SearchRoot() const override;
  void SetBusyPointer(bool busy) override;
  void ProcessEvents() override;
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  bool Ask(const std::string& question) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void BuildButtons();
  void BuildLists();
  void BuildRestoreAction();
  void SetTabOrder();
  // Converts twips to pixels at the screen's logical resolution.
  int Px(int twips, bool horizontal) const;
  // Names `control` and puts it where the layout table has `which`.
  void Place(QWidget* control, FormControl which) const;
  static QString Caption(FormControl which);
  void AfterCommand(CommandResult result);
  std::string PickFolder();
  // Shows what changed since the last time: new list entries and the latest status text.
  void Refresh();
  void ShowStatus();

  Setup setup_;
  std::optional<CommandController> controller_;
  PathListModel candidates_;
  PathListModel infected_;
  std::string status_;
  bool status_dirty_ = false;
  bool unloaded_ = false;
  bool busy_ = false;
  // How long to wait after one refresh before the next (Setup::refresh_cost_factor).
  std::chrono::steady_clock::duration RefreshWait() const;

  std::chrono::steady_clock::time_point last_refresh_;
  std::chrono::steady_clock::time_point last_status_;
  // The time yields took since the last refresh, and from the refresh before to it.
  std::chrono::steady_clock::duration cycle_cost_{};
  std::chrono::steady_clock::duration last_cycle_cost_{};

  DriveChooser* drive_ = nullptr;
  QPushButton* scan_ = nullptr;
  QPushButton* remove_ = nullptr;
  QLabel* infected_heading_ = nullptr;
  QListView* infected_view_ = nullptr;
  QListView* candidate_view_ = nullptr;
  QCheckBox* log_switch_ = nullptr;
  QLabel* status_line_ = nullptr;
};

}  // namespace quelix
