// A real Form1 on a temporary folder that stands in for a drive, with a shell and a message box
// that record instead of opening anything, and helpers that read back the lists and the log.
#pragma once

#include <gtest/gtest.h>

#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/shell.h"
#include "tests/support/fake_places.h"
#include "tests/support/temp_tree.h"
#include "window/qt/form1.h"

class QListView;

namespace quelix {

class RecordingShell : public Shell {
 public:
  Status hyperlink(const std::string& sURL) override {
    opened.push_back(sURL);
    return Status::Ok();
  }
  std::vector<std::string> opened;
};

class Form1Test : public ::testing::Test {
 protected:
  Form1Test();

  // A loaded, shown window whose chooser offers "/" and then the test drive, showing the drive.
  // Its yields process events every time unless `yield_interval` says otherwise.
  std::unique_ptr<Form1> MakeForm(
      std::chrono::milliseconds yield_interval = std::chrono::milliseconds(0));
  Form1::Setup MakeSetup(std::chrono::milliseconds yield_interval);

  // Writes `relative` below the drive: infected when `infected`, else a clean page.
  void WritePage(const std::string& relative, bool infected);
  // The path the program gives a file below the drive.
  std::string P(const std::string& relative) const;

  // Calls `watch` every time the window processes events (at the yield points of a command) until
  // it returns true.
  void Watch(std::function<bool()> watch);

  static std::vector<std::string> Rows(Form1& form, const char* list_name);
  static std::string StatusText(Form1& form);
  // The lines of `path` (CR LF ended), or none when it does not exist.
  static std::vector<std::string> FileLines(const std::string& path);
  std::vector<std::string> LogLines() const { return FileLines(tree_.Path("program/log.txt")); }

  // The log a scan of pages `relative` (in candidate order) writes with the switch checked.
  std::vector<std::string> ScanLog(const std::vector<std::string>& searched_dirs,
                                   const std::vector<std::pair<std::string, bool>>& scanned) const;

  TempTree tree_;
  std::unique_ptr<FileSystem> fs_ = CreateNativeFileSystem();
  RecordingShell shell_;
  FakePlaces places_;
  std::vector<std::string> messages_;
  std::vector<MessageIcon> icons_;
  bool answer_yes_ = false;  // how questions are answered
  int unloads_ = 0;
  QTimer watcher_;
};

}  // namespace quelix
