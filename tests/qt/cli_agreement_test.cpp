// The command line and the window apply the same rules: on the same folder they list the same
// infected files in the same order.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <sstream>

#include "cli/quelix.h"
#include "tests/qt/form1_fixture.h"
#include "tests/support/fake_console.h"

namespace quelix {
namespace {

TEST_F(Form1Test, TheCommandLineListsWhatTheWindowLists) {
  WritePage("index.htm", true);
  WritePage("clean.html", false);
  WritePage("shop/cart.asp", true);
  WritePage("shop/deeper/menu.vbs", true);
  WritePage("archive/folder.htt", true);
  WritePage("archive/old.php3", false);
  auto form = MakeForm();
  QTest::mouseClick(form->findChild<QPushButton*>("cmdScan"), Qt::LeftButton);
  const std::vector<std::string> window = Rows(*form, "lInfected");
  ASSERT_EQ(window.size(), 4u);

  FakeConsole console;
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunQuelix({"scan", "--no-log", "--no-registry", tree_.Path("drive")}, out, err,
                               {*fs_, places_, console});
  std::vector<std::string> command_line;
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) command_line.push_back(line);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(command_line, window);
}

}  // namespace
}  // namespace quelix
