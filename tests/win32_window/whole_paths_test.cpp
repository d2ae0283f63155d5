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

// "Other folder…" asks for a folder with the system's dialog: the folder typed there is shown in
// the chooser and searched alone.
TEST_F(MainWindowTest, OtherFolderSearchesAFolderChosenInTheFolderDialog) {
  const std::string page = "<html>\r\n" + MarkerLine() + "\r\n" + SignatureLine() + "\r\n";
  WriteBytes(OnDrive("elsewhere.htm"), page);
  WriteBytes(OnDrive("site\\index.htm"), page);
  Start();
  ASSERT_TRUE(program_.ChooseOtherFolder()) << "no \"Other folder\u2026\" last in the chooser";
  HWND dialog = program_.WaitForFolderDialog();
  ASSERT_NE(dialog, nullptr) << program_.Describe();
  ASSERT_TRUE(program_.ChooseInFolderDialog(dialog, OnDrive("site"))) << program_.Describe();
  std::string shown;
  ASSERT_TRUE(WaitUntil(
      [&] {
        return _stricmp((shown = program_.Text(kDrive1)).c_str(), OnDrive("site").c_str()) == 0;
      },
      kPatience))
      << "the chooser shows \"" << shown << "\"";
  program_.Press(kCmdScan);
  const bool scanned = program_.WaitShowing("waiting for the scan", [this] {
    return program_.Text(kLabel1).rfind(kScanComplete, 0) == 0;
  });
  EXPECT_TRUE(scanned) << program_.Describe();
  EXPECT_EQ(program_.ListEntries(kLInfected), std::vector<std::string>{shown + "\\index.htm"})
      << "the folder alone is searched";
  CloseAndExpectExit();
}

}  // namespace
}  // namespace quelix::win32
