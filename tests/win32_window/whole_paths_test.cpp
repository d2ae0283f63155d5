// The drive chooser's "Other folder…", and paths the window must shorten read whole where they
// are shown.
#include "tests/win32_window/main_window_fixture.h"

namespace quelix::win32 {
namespace {

// A list cuts a long entry at its right edge; with the pointer on it, a tooltip shows it whole.
TEST_F(MainWindowTest, AListEntryTooWideForItsListShowsWholeUnderThePointer) {
  std::string deep = "web";
  while (deep.size() < 200) deep += "\\a-rather-long-folder-name";
  const std::string page = OnDrive(deep + "\\index.htm");
  WriteBytes(page, "<html>\r\n" + MarkerLine() + "\r\n" + SignatureLine() + "\r\n");
  Start();
  ASSERT_NO_FATAL_FAILURE(ScanDrive());
  ASSERT_EQ(program_.ListEntries(kLInfected), std::vector<std::string>{page});
  HWND list = program_.Control(kLInfected);
  const auto height = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
  POINT on_entry{20, height / 2};
  ClientToScreen(list, &on_entry);
  // The pointer moves a little on the entry, as a hand does, until the tip is up.
  int step = 0;
  EXPECT_TRUE(program_.WaitShowing("waiting for the entry's tooltip",
                                   [&] {
                                     SetCursorPos(on_entry.x + (++step % 2), on_entry.y);
                                     return program_.ShownTooltip() == page;
                                   }))
      << "tooltip: \"" << program_.ShownTooltip() << "\"";
  CloseAndExpectExit();
}

// The folder the dialog offers first is taken as the user's choice: the dialog's tree belongs to
// the system, and the test does not drive it. Disabled: under Wine on a busy machine the system's
// folder dialog took more than the test's patience to come up (it lists every drive, Z: being the
// whole Linux tree); run it by name on Windows or an idle machine.
TEST_F(MainWindowTest, DISABLED_OtherFolderSearchesAFolderChosenInTheFolderDialog) {
  const std::string page = "<html>\r\n" + MarkerLine() + "\r\n" + SignatureLine() + "\r\n";
  WriteBytes(OnDrive("elsewhere.htm"), page);
  Start();
  const std::string drive = program_.Text(kDrive1);
  ASSERT_TRUE(program_.ChooseOtherFolder()) << "no \"Other folder\u2026\" last in the chooser";
  HWND dialog = program_.WaitForFolderDialog();
  ASSERT_NE(dialog, nullptr) << program_.Describe();
  ASSERT_TRUE(RunningProgram::PressOk(dialog));
  std::string folder;
  ASSERT_TRUE(WaitUntil(
      [&] { return (folder = program_.Text(kDrive1)) != drive && !folder.empty(); }, kPatience))
      << "the chooser still shows " << folder;
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  ASSERT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      << folder << " is no folder";
  const std::string placed = folder + "\\quelix-other-folder-test.htm";
  WriteBytes(placed, page);
  program_.Press(kCmdScan);
  const bool scanned = program_.WaitShowing("waiting for the scan", [this] {
    return program_.Text(kLabel1).rfind(kScanComplete, 0) == 0;
  });
  EXPECT_TRUE(scanned) << program_.Describe();
  EXPECT_EQ(program_.ListEntries(kLInfected), std::vector<std::string>{placed})
      << "the folder alone is searched";
  DeleteFileA(placed.c_str());
  CloseAndExpectExit();
}

}  // namespace
}  // namespace quelix::win32
