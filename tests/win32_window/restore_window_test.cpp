// "Restore the last removal…" in the window's system menu: asked first, then the same restore as
// `quelix.exe restore`, its outcome in a message box.
#include "tests/win32_window/main_window_fixture.h"

namespace quelix::win32 {
namespace {

TEST_F(MainWindowTest, TheSystemMenuRestoresTheLastRemovalAfterAskingFirst) {
  const std::string page = "<html>\r\n" + MarkerLine() + "\r\n" + SignatureLine() + "\r\n";
  WriteBytes(OnDrive("a.htm"), page);
  WriteBytes(OnDrive("b.htm"), page);
  Start();
  ASSERT_NO_FATAL_FAILURE(ScanDrive());
  ASSERT_NO_FATAL_FAILURE(RemoveAndConfirm());
  ASSERT_EQ(ReadBytes(OnDrive("a.htm")), "<html>\r\n");
  // Saved again after the removal: the restore must leave that alone.
  WriteBytes(OnDrive("b.htm"), "<p>saved since</p>\r\n");

  // No, then the same again: the question comes back, so No restored nothing.
  for (int answer : {IDNO, IDYES}) {
    program_.SystemCommand(kRestoreLastRemoval);
    HWND question = program_.WaitForMessageBox(kPatience);
    ASSERT_NE(question, nullptr) << "no question: " << program_.Describe();
    EXPECT_EQ(RunningProgram::MessageText(question).rfind("Restore the last removal? It was ", 0),
              0u)
        << RunningProgram::MessageText(question);
    EXPECT_EQ(ReadBytes(OnDrive("a.htm")), "<html>\r\n");
    ASSERT_TRUE(RunningProgram::PressButton(question, answer));
  }
  HWND outcome = program_.WaitForMessageBox(kPatience);
  ASSERT_NE(outcome, nullptr) << "no outcome: " << program_.Describe();
  const std::string expected =
      "The last removal could not be restored completely: 1 item is as before the removal, 1 was "
      "left alone:\r\n" +
      OnDrive("b.htm") + ": ";
  EXPECT_EQ(RunningProgram::MessageText(outcome).rfind(expected, 0), 0u)
      << RunningProgram::MessageText(outcome);
  EXPECT_EQ(ReadBytes(OnDrive("a.htm")), page);
  EXPECT_EQ(ReadBytes(OnDrive("b.htm")), "<p>saved since</p>\r\n");
  ASSERT_TRUE(RunningProgram::PressOk(outcome));
  CloseAndExpectExit();
}

}  // namespace
}  // namespace quelix::win32
