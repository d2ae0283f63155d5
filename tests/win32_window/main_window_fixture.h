// The fixture of the window tests: QuelixRemover.exe started from outside under Wine, with drive
// helpers and the checks several tests share.
//
// The script that runs the tests maps a drive letter to an empty folder and copies the program
// into a directory without a readme, so that no viewer opens. It passes:
//   QUELIX_PROGRAM     the program's path, e.g. C:\quelix\QuelixRemover.exe
//   QUELIX_TEST_DRIVE  the drive the tests may fill, e.g. q:
//   QUELIX_SCREENSHOT  optional: where to write a BMP of the window after a scan
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "engine/signature.h"
#include "tests/win32_window/drive_files.h"
#include "tests/win32_window/running_program.h"
#include "window/win32/control_ids.h"

namespace quelix::win32 {

inline constexpr char kScanComplete[] = "Scan complete. The list of infected files is given above.";
inline constexpr char kRemoved[] =
    "The HTML.Quelix.A Virus has been removed successfully from your system.";

inline std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

inline ptrdiff_t Count(const std::vector<std::string>& lines, const std::string& line) {
  return std::count(lines.begin(), lines.end(), line);
}

// True when `wanted` appears in `lines` in this order, consecutively.
inline bool HasRun(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
  return std::search(lines.begin(), lines.end(), wanted.begin(), wanted.end()) != lines.end();
}

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    program_path_ = Env("QUELIX_PROGRAM");
    drive_ = Env("QUELIX_TEST_DRIVE");
    ASSERT_FALSE(program_path_.empty()) << "QUELIX_PROGRAM is not set";
    ASSERT_EQ(drive_.size(), 2u) << "QUELIX_TEST_DRIVE must be a drive such as q:";
    program_dir_ = program_path_.substr(0, program_path_.find_last_of('\\'));
    log_path_ = program_dir_ + "\\log.txt";
    DeleteFileA(log_path_.c_str());
    Empty(drive_ + "\\");
    std::vector<std::string> left;
    ListFiles(drive_ + "\\", &left);
    ASSERT_TRUE(left.empty()) << "cannot empty " << drive_;
  }

  std::string OnDrive(const std::string& relative) const { return drive_ + "\\" + relative; }

  void Start() {
    std::string error;
    ASSERT_TRUE(program_.Start(program_path_, program_dir_, &error)) << error;
  }

  // Chooses the test drive, presses Scan and waits for the scan to complete.
  void ScanDrive() {
    ASSERT_TRUE(program_.SelectDrive(drive_));
    program_.Press(kCmdScan);
    // The line may go on with what the user should know besides ("1 file could not be read").
    ASSERT_TRUE(program_.WaitShowing(
        "waiting for the scan",
        [this] { return program_.Text(kLabel1).rfind(kScanComplete, 0) == 0; }))
        << "no scan complete: " << program_.Describe();
  }

  // Presses Remove, expects the confirmation with one OK button, and presses OK.
  void RemoveAndConfirm() {
    program_.Press(kCRemove);
    HWND box = program_.WaitForMessageBox(kPatience);
    ASSERT_NE(box, nullptr) << "no message box after Remove: " << program_.Describe();
    // The originals are kept in the user's own folder, which the message names.
    const std::string kept = std::string(kRemoved) + " The originals are kept in ";
    const std::string text = RunningProgram::MessageText(box);
    EXPECT_EQ(text.substr(0, kept.size()), kept);
    EXPECT_NE(text.find("\\Quelix Remover\\backups\\"), std::string::npos) << text;
    EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr) << "one OK button only";
    ASSERT_TRUE(RunningProgram::PressOk(box));
  }

  void SaveScreenshotWhenAsked() {
    std::string screenshot = Env("QUELIX_SCREENSHOT");
    if (screenshot.empty()) return;
    RedrawWindow(program_.window(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);
    EXPECT_TRUE(SaveWindowImage(program_.window(), screenshot));
  }

  // Expects the log of one scan that found `infected` and read `clean`, and of one removal.
  void ExpectScanAndRemoveLogged(const std::vector<std::string>& infected,
                                 const std::vector<std::string>& clean) {
    std::string log = ReadBytes(log_path_);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    std::vector<std::string> lines = Lines(log);
    for (const std::string& path : infected) {
      SCOPED_TRACE(path);
      EXPECT_TRUE(HasRun(lines, {"Searching ", path.substr(0, path.rfind('\\') + 1)}));
      EXPECT_EQ(Count(lines, "Scanning " + path), 1);
      EXPECT_EQ(Count(lines, "Virus found in " + path), 1);
      EXPECT_TRUE(HasRun(lines, {"Removing virus from ", path}));
      EXPECT_EQ(Count(lines, "Virus successfully removed from " + path), 1);
    }
    for (const std::string& path : clean) {
      EXPECT_EQ(Count(lines, "Scanning " + path), 1);
      EXPECT_EQ(Count(lines, "Virus found in " + path), 0);
    }
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Virus removal complete.");
  }

  // Closes the window and expects the program to end by itself, successfully. Prints how long
  // that took.
  void CloseAndExpectExit() {
    auto closed_at = std::chrono::steady_clock::now();
    HWND form = program_.window();
    program_.Close();
    EXPECT_TRUE(WaitUntil([form] { return !IsWindow(form); }, kPatience))
        << "the window stays open: " << program_.Describe();
    auto gone = std::chrono::steady_clock::now() - closed_at;
    DWORD exit_code = 1;
    ASSERT_TRUE(program_.WaitForExit(kPatience, &exit_code))
        << "the program still runs after closing: " << program_.Describe();
    EXPECT_EQ(exit_code, 0u);
    auto took = std::chrono::steady_clock::now() - closed_at;
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    std::cout << "[          ] asked to close, the window was gone after "
              << duration_cast<milliseconds>(gone).count() << " ms, the process after "
              << duration_cast<milliseconds>(took).count() << " ms\n";
  }

  std::string program_path_;
  std::string program_dir_;
  std::string log_path_;
  std::string drive_;
  RunningProgram program_;
};

}  // namespace quelix::win32
