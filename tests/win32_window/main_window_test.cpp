// Drives QuelixRemover.exe from outside under Wine: starts it, finds its window and controls,
// selects the test drive, presses the buttons, reads the lists, answers the message box, closes the
// window, and checks the cleaned files and the event log.
#include "tests/win32_window/main_window_fixture.h"

namespace quelix::win32 {
namespace {

TEST_F(MainWindowTest, OpensWithTheLayoutCaptionsAndStartState) {
  Start();
  HWND form = program_.window();
  UINT dpi = GetDpiForWindow(form);
  ASSERT_GT(dpi, 0u);
  auto px = [dpi](int twips) { return MulDiv(twips, static_cast<int>(dpi), 1440); };

  RECT client{};
  GetClientRect(form, &client);
  EXPECT_EQ(client.right, px(6450));
  EXPECT_EQ(client.bottom, px(3825));
  EXPECT_EQ(GetWindowLongPtrA(form, GWL_STYLE) & WS_THICKFRAME, 0) << "the window must not resize";

  struct Expected {
    int id;
    const char* caption;
    int left, top, width, height;  // twips; 0: sized by the control or its text
  };
  // In tab order: the controls' order among the window's children.
  const Expected expected[] = {
      {kList1, nullptr, 240, 840, 5655, 2205},
      {kDrive1, nullptr, 240, 120, 1215, 0},
      {kLabel1, "", 1680, 3240, 0, 0},
      {kCLog, "&Log Events", 240, 3240, 1215, 315},
      {kLInfected, nullptr, 240, 840, 5655, 2205},
      {kCRemove, "&Remove virus", 4440, 120, 1215, 375},
      {kCmdScan, "&Scan for virus", 3000, 120, 1215, 375},
      {kLblInf, "List of infected files", 240, 600, 0, 0},
  };
  HWND child = GetWindow(form, GW_CHILD);
  for (const Expected& control : expected) {
    SCOPED_TRACE("control id " + std::to_string(control.id));
    ASSERT_NE(child, nullptr) << "fewer controls than expected";
    EXPECT_EQ(GetDlgCtrlID(child), control.id) << "tab order";
    child = GetWindow(child, GW_HWNDNEXT);
    RECT rect = program_.ClientRect(control.id);
    EXPECT_EQ(rect.left, px(control.left));
    EXPECT_EQ(rect.top, px(control.top));
    if (control.width) {
      EXPECT_EQ(rect.right - rect.left, px(control.width));
    }
    if (control.height) {
      EXPECT_EQ(rect.bottom - rect.top, px(control.height));
    }
    if (control.caption) {
      EXPECT_EQ(program_.Text(control.id), control.caption);
    }
  }
  EXPECT_EQ(child, nullptr) << "more controls than expected";

  // The heading sizes itself to its caption: wider than its stored 1350 twips would cut nothing.
  RECT heading = program_.ClientRect(kLblInf);
  EXPECT_GT(heading.right - heading.left, 0);
  EXPECT_LT(heading.right, client.right);

  EXPECT_EQ(SendMessageA(program_.Control(kCLog), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_TRUE(program_.IsShown(kList1));
  EXPECT_FALSE(program_.IsShown(kLInfected));
  EXPECT_TRUE(program_.ListEntries(kLInfected).empty());
  // Started in a directory on c:, the chooser shows c: and lists the test drive too.
  EXPECT_EQ(program_.Text(kDrive1).substr(0, 2), "c:");
  HWND drive1 = program_.Control(kDrive1);
  EXPECT_NE(SendMessageA(drive1, CB_FINDSTRING, static_cast<WPARAM>(-1),
                         reinterpret_cast<LPARAM>(drive_.c_str())),
            CB_ERR);
  // The keyboard starts on the drive chooser: a plain key press toggles nothing.
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(form, nullptr), &gui));
  EXPECT_EQ(gui.hwndFocus, drive1);
  CloseAndExpectExit();
}

TEST_F(MainWindowTest, ScanListsInfectedFilesAndRemoveCleansThem) {
  const std::string sig = SignatureLine();
  const std::string marker = MarkerLine();
  WriteBytes(OnDrive("web\\index.htm"),
             "<html>\r\n" + marker + "\r\n<p>kept</p>\r\n" + sig + "\r\n<p>dropped</p>\r\n");
  WriteBytes(OnDrive("web\\clean.htm"), "<html>\r\n<p>clean</p>\r\n</html>\r\n");
  WriteBytes(OnDrive("scripts\\hidden.vbs"), "' start\r\n" + marker + "\r\nMsgBox 1\r\n" + sig);
  SetFileAttributesA(OnDrive("scripts\\hidden.vbs").c_str(), FILE_ATTRIBUTE_HIDDEN);
  WriteBytes(OnDrive("sub\\folder.htt"), marker + "\r\n" + sig + "\r\n");
  WriteBytes(OnDrive("sub\\notes.txt"), sig + "\r\n");
  const std::vector<std::string> infected = {
      OnDrive("web\\index.htm"), OnDrive("scripts\\hidden.vbs"), OnDrive("sub\\folder.htt")};
  Start();
  ASSERT_NO_FATAL_FAILURE(ScanDrive());
  // The walks run pattern by pattern: the pages first, the scripts, then the folder templates.
  EXPECT_EQ(program_.ListEntries(kLInfected), infected);
  EXPECT_TRUE(program_.IsShown(kLInfected));
  EXPECT_FALSE(program_.IsShown(kList1));
  // The candidate list, which holds no text of its own, knows every candidate: the pages, the
  // script and the template (not notes.txt).
  EXPECT_EQ(program_.ListCount(kList1), 4u);
  SaveScreenshotWhenAsked();
  ASSERT_NO_FATAL_FAILURE(RemoveAndConfirm());
  CloseAndExpectExit();

  EXPECT_EQ(ReadBytes(infected[0]), "<html>\r\n<p>kept</p>\r\n");
  EXPECT_EQ(ReadBytes(infected[1]), "' start\r\nMsgBox 1\r\n");
  EXPECT_NE(GetFileAttributesA(infected[1].c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(ReadBytes(infected[2]), "");
  EXPECT_EQ(ReadBytes(OnDrive("web\\clean.htm")), "<html>\r\n<p>clean</p>\r\n</html>\r\n");
  EXPECT_EQ(ReadBytes(OnDrive("sub\\notes.txt")), sig + "\r\n") << "not a candidate";
  std::vector<std::string> files;
  ListFiles(drive_ + "\\", &files);
  EXPECT_EQ(files.size(), 5u) << "a temporary copy was left behind";
  ExpectScanAndRemoveLogged(infected, {OnDrive("web\\clean.htm")});
}

TEST_F(MainWindowTest, ScanPressedWhileAScanRunsIsIgnored) {
  WriteBytes(OnDrive("a\\index.htm"), SignatureLine() + "\r\n");
  for (int i = 0; i < 200; ++i) {
    WriteBytes(OnDrive("many\\d" + std::to_string(i) + "\\page.htm"), "<p>clean</p>\r\n");
  }
  Start();
  ASSERT_TRUE(program_.SelectDrive(drive_));
  program_.Press(kCmdScan);
  program_.Press(kCmdScan);
  ASSERT_TRUE(program_.WaitForStatus(kScanComplete, kPatience)) << program_.Describe();
  // Had the second press run a scan of its own, the file would be listed twice by now or soon.
  Sleep(1000);
  EXPECT_EQ(program_.ListEntries(kLInfected), std::vector<std::string>{OnDrive("a\\index.htm")});
  EXPECT_EQ(program_.Text(kLabel1), kScanComplete);
  CloseAndExpectExit();
  EXPECT_EQ(Count(Lines(ReadBytes(log_path_)), "Virus found in " + OnDrive("a\\index.htm")), 1);
}

TEST_F(MainWindowTest, ClosingDuringAScanEndsTheProgramWithTheLogClosed) {
  constexpr int kPages = 3000;
  for (int i = 0; i < kPages; ++i) {
    WriteBytes(OnDrive("d" + std::to_string(i / 30) + "\\p" + std::to_string(i) + ".htm"),
               "<p>clean</p>\r\n");
  }
  Start();
  ASSERT_TRUE(program_.SelectDrive(drive_));
  program_.Press(kCmdScan);
  // Queued behind the click: the scan meets it at its first yield.
  CloseAndExpectExit();

  std::string log = ReadBytes(log_path_);
  if (!log.empty()) {
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n") << "a torn last entry";
  }
  std::vector<std::string> lines = Lines(log);
  ptrdiff_t scanned = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.rfind("Scanning ", 0) == 0;
  });
  EXPECT_LT(scanned, kPages) << "the scan ran to its end instead of stopping";
  // The log was closed: nothing holds it any more.
  HANDLE file = CreateFileA(log_path_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

TEST_F(MainWindowTest, RemoveBeforeAnyScanSaysThereIsNothingToRemove) {
  WriteBytes(OnDrive("web\\index.htm"), SignatureLine() + "\r\n");
  Start();
  program_.Press(kCRemove);
  HWND box = program_.WaitForMessageBox(kPatience);
  ASSERT_NE(box, nullptr) << "no message box after Remove: " << program_.Describe();
  EXPECT_EQ(RunningProgram::MessageText(box),
            "No infected files are listed. Press Scan for virus first.");
  ASSERT_TRUE(RunningProgram::PressOk(box));
  CloseAndExpectExit();
  EXPECT_EQ(ReadBytes(log_path_), "Virus removal complete.\r\n");
}

// The program runs with the UTF-8 code page, so a name outside every legacy code page (here
// Greek, which the driver's own code page cannot hold) passes through its narrow calls intact.
TEST_F(MainWindowTest, FindsAndCleansAFileWhoseNameNeedsUnicode) {
  const std::wstring dir = std::wstring(drive_.begin(), drive_.end()) + L"\\\u03b1\u03b2\u03b3";
  const std::wstring page = dir + L"\\\u03c3\u03b5\u03bb\u03af\u03b4\u03b1.htm";
  ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
  const std::string content = MarkerLine() + "\r\n<p>kept</p>\r\n" + SignatureLine() + "\r\n";
  HANDLE file = CreateFileW(page.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
  Start();
  ASSERT_NO_FATAL_FAILURE(ScanDrive());
  EXPECT_EQ(program_.WideListEntries(kLInfected), std::vector<std::wstring>{page});
  ASSERT_NO_FATAL_FAILURE(RemoveAndConfirm());
  CloseAndExpectExit();
  file = CreateFileW(page.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char cleaned[256] = {};
  DWORD got = 0;
  ReadFile(file, cleaned, sizeof cleaned, &got, nullptr);
  CloseHandle(file);
  EXPECT_EQ(std::string(cleaned, got), "<p>kept</p>\r\n");
}

// A measurement rather than a check, run by hand: --gtest_also_run_disabled_tests
// --gtest_filter=*Many*. QUELIX_MANY_FILES sets the number of clean pages (100 000 by default).
TEST_F(MainWindowTest, DISABLED_ListsManyCandidatesWithoutARepaintEach) {
  std::string wanted = Env("QUELIX_MANY_FILES");
  const int pages = wanted.empty() ? 100000 : std::atoi(wanted.c_str());
  for (int i = 0; i < pages; ++i) {
    WriteBytes(OnDrive("d" + std::to_string(i / 1000) + "\\p" + std::to_string(i) + ".htm"),
               "<p>clean</p>\r\n");
  }
  Start();
  ASSERT_TRUE(program_.SelectDrive(drive_));
  auto pressed = std::chrono::steady_clock::now();
  program_.Press(kCmdScan);
  ASSERT_TRUE(program_.WaitForStatus(kScanComplete, 600s)) << program_.Describe();
  auto took = std::chrono::steady_clock::now() - pressed;
  EXPECT_EQ(SendMessageA(program_.Control(kList1), LB_GETCOUNT, 0, 0), pages);
  std::cout << "[          ] " << pages << " candidates searched, listed and scanned in "
            << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
  CloseAndExpectExit();
}

}  // namespace
}  // namespace quelix::win32
