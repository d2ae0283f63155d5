// Form1, the program's one window on Linux: it builds the controls, implements the engine's view
// of the window, and forwards the two buttons and the load and unload events to the engine.
#pragma once

#include <QWidget>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/window.h"
#include "platform/file_system.h"
#include "platform/shell.h"
#include "window/event_log.h"
#include "window/qt/path_list_model.h"
#include "window/qt/volumes.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListView;
class QPushButton;

namespace quelix {

class Form1 : public QWidget, public Window {
 public:
  // What the window is given from outside; main fills it from the running system, tests with a
  // temporary folder, a recording shell and a recording message box.
  struct Setup {
    FileSystem* fs = nullptr;  // required; must outlive the window
    Shell* shell = nullptr;    // required; must outlive the window
    std::string program_dir;   // the directory that holds the executable
    std::string state_home;    // see StateHome(); empty when unknown
    std::vector<Volume> volumes;
    size_t start_volume = 0;  // the volume the chooser shows at start
    // Shows the information message box; empty means a real QMessageBox.
    std::function<void(const std::string&)> message_box;
    // Ends the program once the window has unloaded; empty means QCoreApplication::quit().
    std::function<void()> on_unload;
    // The least time between two yields that process window events.
    std::chrono::milliseconds yield_interval{15};
  };

  explicit Form1(Setup setup);
  ~Form1() override;

  // Start-up: opens the event log (saying so in the status line when none can be opened),
  // prepares the signature line, and hands the readme to the shell. Call once, before show().
  void Load();
  // Shut-down: closes the event log and ends the program. Runs once; later calls do nothing.
  void Unload();

  // The Scan button: runs the Scan command unless a command is running already.
  void ScanClicked();
  // The Remove button: runs the Remove command unless a command is running already.
  void RemoveClicked();
  // Replaces what the Remove button runs (the engine's Remove command); `command` returns false
  // when the window closed meanwhile. Lets a test run its own work as a command of the window.
  void SetRemoveCommand(std::function<bool(Engine&)> command);

  bool command_running() const { return running_; }
  const EventLog& event_log() const { return log_; }

  // Window
  void ClearCandidates() override;
  void AppendCandidate(const std::string& path) override;
  size_t CandidateCount() const override { return candidates_.size(); }
  std::string Candidate(size_t index) const override { return candidates_.at(index); }
  void HideCandidates() override;
  void AppendInfected(const std::string& path) override;
  size_t InfectedCount() const override { return infected_.size(); }
  std::string Infected(size_t index) const override { return infected_.at(index); }
  void ShowInfected() override;
  void SetStatus(const std::string& text) override;
  bool LogSwitch() const override;
  void WriteLog(const std::string& entry) override;
  void FlushLog() override;
  std::string SearchRoot() const override;
  void SetBusyPointer(bool busy) override;
  bool YieldPoint() override;
  void ShowMessage(const std::string& text) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void BuildButtons();
  void BuildLists();
  void SetTabOrder();
  // Converts twips to pixels at the screen's logical resolution.
  int Px(int twips, bool horizontal) const;
  void Place(QWidget* control, const char* name, int left, int top, int width, int height) const;
  void RunCommand(const std::function<bool(Engine&)>& command);
  // Shows what changed since the last time: new list entries and the latest status text.
  void Refresh();
  void ProcessEvents();

  Setup setup_;
  EventLog log_;
  std::optional<Engine> engine_;
  std::function<bool(Engine&)> remove_command_;
  PathListModel candidates_;
  PathListModel infected_;
  std::string status_;
  bool status_dirty_ = false;
  bool running_ = false;
  bool closing_ = false;
  bool busy_ = false;
  std::chrono::steady_clock::time_point last_events_;

  QComboBox* drive_ = nullptr;
  QPushButton* scan_ = nullptr;
  QPushButton* remove_ = nullptr;
  QLabel* infected_heading_ = nullptr;
  QListView* infected_view_ = nullptr;
  QListView* candidate_view_ = nullptr;
  QCheckBox* log_switch_ = nullptr;
  QLabel* status_line_ = nullptr;
};

}  // namespace quelix
