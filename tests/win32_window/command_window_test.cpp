// The commands as the Windows window runs them: a second scan replaces the list, a long removal
// keeps the window live and stops after the file in hand when the window closes, and the log
// finds a place or the window says it has none.
#include "tests/win32_window/main_window_fixture.h"

namespace quelix::win32 {
namespace {

// A page of `megabytes` MB whose virus's lines stand at its end, so that cleaning it takes long
// enough to be watched.
std::string LargeInfectedPage(int megabytes) {
  std::string page;
  const std::string line(98, 'x');
  while (page.size() < static_cast<size_t>(megabytes) << 20) page += line + "\r\n";
  return page + MarkerLine() + "\r\n" + SignatureLine() + "\r\n";
}

TEST_F(MainWindowTest, ASecondScanReplacesTheList) {
  WriteBytes(OnDrive("a.htm"), SignatureLine() + "\r\n");
  WriteBytes(OnDrive("b.htm"), SignatureLine() + "\r\n");
  Start();
  ASSERT_NO_FATAL_FAILURE(ScanDrive());
  EXPECT_EQ(program_.ListEntries(kLInfected).size(), 2u);
  WriteBytes(OnDrive("b.htm"), "cleaned by hand\r\n");
  ASSERT_TRUE(SetWindowTextA(program_.Control(kLabel1), ""));
  ASSERT_NO_FATAL_FAILURE(ScanDrive());
  EXPECT_EQ(program_.ListEntries(kLInfected), std::vector<std::string>{OnDrive("a.htm")});
  CloseAndExpectExit();
}

// While a long removal runs, the status line shows the file being cleaned (a deep path shortened
// on its second line, inside the window) with the hourglass up; closing the window then ends the
// program once that file is done, and the next file is not begun.
TEST_F(MainWindowTest, ALongRemovalShowsItsFileAndACloseEndsItAfterThatFile) {
  std::string deep = "web";
  while (deep.size() < 180) deep += "\\a-rather-long-folder-name";
  const std::string first = OnDrive(deep + "\\index.htm");
  const std::string second = OnDrive("zz.vbs");
  const std::string infected = LargeInfectedPage(48);
  WriteBytes(first, infected);
  WriteBytes(second, infected);
  Start();
  RECT one_line = program_.ClientRect(kLabel1);  // empty at start
  ASSERT_NO_FATAL_FAILURE(ScanDrive());
  ASSERT_EQ(program_.ListEntries(kLInfected), (std::vector<std::string>{first, second}));

  program_.Press(kCRemove);
  ASSERT_TRUE(program_.WaitForStatus("Removing virus from \r\n" + first, kPatience))
      << program_.Describe();
  RECT status = program_.ClientRect(kLabel1);
  RECT client{};
  GetClientRect(program_.window(), &client);
  EXPECT_LE(status.right, client.right);
  EXPECT_LE(status.bottom, client.bottom);
  EXPECT_GT(status.bottom - status.top, one_line.bottom - one_line.top) << "not two lines";
  CloseAndExpectExit();

  const std::string cleaned = ReadBytes(first);
  EXPECT_EQ(cleaned.size(), infected.size() - MarkerLine().size() - SignatureLine().size() - 4)
      << "the file in hand is finished";
  EXPECT_EQ(ReadBytes(second), infected) << "the next file is not begun";
  const std::vector<std::string> lines = Lines(ReadBytes(log_path_));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Virus removal stopped: the window was closed.");
}

// The folder beside the program cannot take the log: it goes to the user's local application
// data; where that fails too, the window says once that there is no log and works on.
TEST_F(MainWindowTest, TheLogFindsAPlaceOrTheWindowSaysItHasNone) {
  ASSERT_TRUE(CreateDirectoryA(log_path_.c_str(), nullptr));
  WriteBytes(OnDrive("web\\index.htm"), SignatureLine() + "\r\n");
  const std::string local = drive_ + "\\local";
  const std::string saved = Env("LOCALAPPDATA");
  SetEnvironmentVariableA("LOCALAPPDATA", local.c_str());
  Start();
  EXPECT_EQ(program_.Text(kLabel1), "");
  ASSERT_NO_FATAL_FAILURE(ScanDrive());
  CloseAndExpectExit();
  EXPECT_EQ(Count(Lines(ReadBytes(local + "\\Quelix Remover\\log.txt")),
                  "Virus found in " + OnDrive("web\\index.htm")),
            1);

  WriteBytes(OnDrive("blocked"), "a file where the folder would have to be");
  SetEnvironmentVariableA("LOCALAPPDATA", OnDrive("blocked").c_str());
  Start();
  SetEnvironmentVariableA("LOCALAPPDATA", saved.c_str());
  RemoveDirectoryA(log_path_.c_str());
  EXPECT_EQ(program_.Text(kLabel1), "No event log could be opened. Events are not logged.");
  ASSERT_NO_FATAL_FAILURE(ScanDrive());
  EXPECT_EQ(program_.ListEntries(kLInfected), std::vector<std::string>{OnDrive("web\\index.htm")});
  CloseAndExpectExit();
}

}  // namespace
}  // namespace quelix::win32
