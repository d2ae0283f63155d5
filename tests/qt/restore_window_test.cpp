// "Restore the last removal…" in the Linux window: reached from the window's context menu and
// Ctrl+Z, asked first, and the same restore as `quelix restore`.
#include <QAction>
#include <QPushButton>
#include <QTest>

#include "tests/qt/form1_fixture.h"

namespace quelix {
namespace {

using Lines = std::vector<std::string>;

QAction* RestoreAction(Form1& form) {
  return form.findChild<QAction*>(QStringLiteral("restoreLastRemoval"));
}

void ScanAndRemove(Form1& form) {
  QTest::mouseClick(form.findChild<QPushButton*>("cmdScan"), Qt::LeftButton);
  QTest::mouseClick(form.findChild<QPushButton*>("cRemove"), Qt::LeftButton);
}

TEST_F(Form1Test, RestoreIsInTheWindowsMenuAndOnCtrlZ) {
  auto form = MakeForm();
  QAction* restore = RestoreAction(*form);
  ASSERT_NE(restore, nullptr);
  EXPECT_EQ(restore->text().toStdString(), "Restore the last removal\u2026");
  EXPECT_EQ(form->contextMenuPolicy(), Qt::ActionsContextMenu);
  EXPECT_TRUE(form->actions().contains(restore)) << "the window's context menu lists it";
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !messages_.empty(); }, 60000));
  EXPECT_EQ(messages_, Lines{"No removal has been kept, so there is nothing to restore."});
}

TEST_F(Form1Test, RestoreAsksFirstThenPutsBackWhatTheRemovalLeftAlone) {
  WritePage("a.htm", true);
  WritePage("sub/b.asp", true);
  const std::string original = tree_.Read("drive/a.htm");
  auto form = MakeForm();
  ScanAndRemove(*form);
  ASSERT_EQ(tree_.Read("drive/a.htm"), "<html>\r\n");
  // Someone saved b.asp after the removal: the restore must leave that save alone.
  tree_.Write("drive/sub/b.asp", "<p>saved since</p>\r\n");
  const Lines log = LogLines();
  messages_.clear();

  RestoreAction(*form)->trigger();
  ASSERT_EQ(messages_.size(), 1u) << "a No leaves it at the question";
  EXPECT_EQ(messages_[0].rfind("Restore the last removal? It was made on ", 0), 0u) << messages_[0];
  EXPECT_NE(messages_[0].find("kept 2 files."), std::string::npos) << messages_[0];
  EXPECT_EQ(tree_.Read("drive/a.htm"), "<html>\r\n");

  messages_.clear();
  answer_yes_ = true;
  RestoreAction(*form)->trigger();
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(tree_.Read("drive/a.htm"), original);
  EXPECT_EQ(tree_.Read("drive/sub/b.asp"), "<p>saved since</p>\r\n");
  EXPECT_EQ(messages_[1].rfind("The last removal could not be restored completely: 1 item is as "
                               "before the removal, 1 was left alone:\r\n" +
                                   P("sub/b.asp") + ": ",
                               0),
            0u)
      << messages_[1];
  EXPECT_EQ(icons_.back(), MessageIcon::kWarning);
  EXPECT_EQ(LogLines(), log) << "a restore writes nothing to the event log";

  // Once everything is back, a second restore finds it so.
  tree_.Write("drive/sub/b.asp", "<html>\r\n");
  messages_.clear();
  RestoreAction(*form)->trigger();
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[1], "The last removal has been restored: 2 items are as before the removal.");
  EXPECT_EQ(icons_.back(), MessageIcon::kInformation);
  EXPECT_EQ(tree_.Read("drive/sub/b.asp"), original);
}

}  // namespace
}  // namespace quelix
