#include "window/qt/form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <fstream>

#include "tests/qt/form1_fixture.h"

namespace quelix {
namespace {

using Lines = std::vector<std::string>;

struct Placement {
  const char* name;
  int left, top, width, height;
};

int Px(int twips, int dpi) {
  return (twips * dpi + 720) / 1440;
}

TEST_F(Form1Test, ControlsSitAtTheirPlacesWithTheirCaptions) {
  auto form = MakeForm();
  EXPECT_EQ(form->windowTitle(), "Quelix Remover");
  const int x_dpi = form->logicalDpiX();
  const int y_dpi = form->logicalDpiY();
  EXPECT_EQ(form->size(), QSize(Px(6450, x_dpi), Px(3825, y_dpi)));
  EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "the client area is fixed";

  const Placement placements[] = {
      {"Drive1", 240, 120, 1215, 315},   {"cmdScan", 3000, 120, 1215, 375},
      {"cRemove", 4440, 120, 1215, 375}, {"lInfected", 240, 840, 5655, 2205},
      {"List1", 240, 840, 5655, 2205},   {"cLog", 240, 3240, 1215, 315},
  };
  for (const Placement& p : placements) {
    const auto* control = form->findChild<QWidget*>(QString::fromLatin1(p.name));
    ASSERT_NE(control, nullptr) << p.name;
    EXPECT_EQ(control->geometry(),
              QRect(Px(p.left, x_dpi), Px(p.top, y_dpi), Px(p.width, x_dpi), Px(p.height, y_dpi)))
        << p.name;
  }
  // The labels size themselves: only their top left corner is fixed.
  const auto* heading = form->findChild<QLabel*>("lblInf");
  const auto* status = form->findChild<QLabel*>("Label1");
  ASSERT_TRUE(heading && status);
  EXPECT_EQ(heading->pos(), QPoint(Px(240, x_dpi), Px(600, y_dpi)));
  EXPECT_EQ(status->pos(), QPoint(Px(1680, x_dpi), Px(3240, y_dpi)));
  EXPECT_EQ(heading->text(), "List of infected files");
  EXPECT_EQ(status->text(), "");

  EXPECT_EQ(form->findChild<QPushButton*>("cmdScan")->text(), "&Scan for virus");
  EXPECT_EQ(form->findChild<QPushButton*>("cRemove")->text(), "&Remove virus");
  const auto* log_switch = form->findChild<QCheckBox*>("cLog");
  EXPECT_EQ(log_switch->text(), "&Log Events");
  EXPECT_TRUE(log_switch->isChecked());
  const auto* drive = form->findChild<QComboBox*>("Drive1");
  EXPECT_EQ(drive->currentText().toStdString(), tree_.Path("drive") + " (TESTDRIVE)");
  EXPECT_TRUE(form->findChild<QListView*>("List1")->isVisible());
  EXPECT_FALSE(form->findChild<QListView*>("lInfected")->isVisible());
}

TEST_F(Form1Test, AccessKeysReachTheirControls) {
  auto form = MakeForm();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  auto* log_switch = form->findChild<QCheckBox*>("cLog");
  // An access key presses its button the way a click does, a moment later.
  QTest::keyClick(form.get(), Qt::Key_L, Qt::AltModifier);
  // Generous limits: on a busy machine the click and the scan may take their time.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !log_switch->isChecked(); }, 60000));
  WritePage("a.htm", true);
  QTest::keyClick(form.get(), Qt::Key_S, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->InfectedCount() == 1; }, 60000))
      << form->findChild<QLabel*>("Label1")->text().toStdString();
  EXPECT_EQ(Rows(*form, "lInfected"), Lines{P("a.htm")});
  EXPECT_EQ(LogLines(), ScanLog({""}, {})) << "the log switch was off";
}

TEST_F(Form1Test, TabOrderFollowsTheTabIndexColumn) {
  auto form = MakeForm();
  const QStringList named = {"List1",     "Drive1",  "Label1",  "cLog",
                             "lInfected", "cRemove", "cmdScan", "lblInf"};
  QStringList order;
  QWidget* start = form->findChild<QWidget*>("List1");
  QWidget* widget = start;
  do {
    if (named.contains(widget->objectName()) && (widget->focusPolicy() & Qt::TabFocus)) {
      order << widget->objectName();
    }
    widget = widget->nextInFocusChain();
  } while (widget != start);
  EXPECT_EQ(order, QStringList({"List1", "Drive1", "cLog", "lInfected", "cRemove", "cmdScan"}));
}

TEST_F(Form1Test, StartUpHandsTheMissingReadmeToTheShellAndShowsTheWindow) {
  auto form = MakeForm();
  EXPECT_EQ(shell_.opened, Lines{tree_.Path("program/readme.txt")});
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->controller().log().is_open());
  EXPECT_EQ(form->controller().log().path(), tree_.Path("program/log.txt"));
  EXPECT_EQ(StatusText(*form), "");
  EXPECT_EQ(form->focusWidget(), form->findChild<QComboBox*>("Drive1")) << "the keyboard's start";
}

TEST_F(Form1Test, ScanListsTheInfectedFilesAndLogsInOrder) {
  WritePage("a.htm", true);
  WritePage("clean.htm", false);
  WritePage("sub/b.php", true);
  auto form = MakeForm();
  QTest::mouseClick(form->findChild<QPushButton*>("cmdScan"), Qt::LeftButton);

  EXPECT_FALSE(form->controller().running());
  EXPECT_EQ(Rows(*form, "lInfected"), (Lines{P("a.htm"), P("sub/b.php")}));
  EXPECT_TRUE(form->findChild<QListView*>("lInfected")->isVisible());
  EXPECT_FALSE(form->findChild<QListView*>("List1")->isVisible());
  EXPECT_EQ(StatusText(*form), "Scan complete. The list of infected files is given above.");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  // Read from disk while the window is open: the end of the command flushed the log.
  EXPECT_EQ(LogLines(), ScanLog({"", "", "sub/"},
                                {{"a.htm", true}, {"clean.htm", false}, {"sub/b.php", true}}));
}

TEST_F(Form1Test, TheHourglassStaysForTheWholeScanAndEachFolderShowsOnTwoLines) {
  WritePage("a.htm", true);
  auto form = MakeForm();
  const auto* status = form->findChild<QLabel*>("Label1");
  bool busy_while_searching = false;
  bool busy_while_reading = false;
  std::string searching_text;
  int searching_height = 0;
  Watch([&] {
    const QCursor* cursor = QApplication::overrideCursor();
    const bool busy = cursor && cursor->shape() == Qt::WaitCursor;
    if (status->text().startsWith("Scanning \n")) {
      busy_while_reading = busy;
      return true;
    }
    if (!status->text().startsWith("Searching \n") || !searching_text.empty()) return false;
    busy_while_searching = busy;
    searching_text = status->text().toStdString();
    searching_height = status->height();
    return false;
  });
  QTest::mouseClick(form->findChild<QPushButton*>("cmdScan"), Qt::LeftButton);
  EXPECT_TRUE(busy_while_searching);
  EXPECT_TRUE(busy_while_reading);
  EXPECT_EQ(searching_text, "Searching \n" + tree_.Path("drive/"));
  EXPECT_GT(searching_height, status->height()) << "two lines, then the one line at the end";
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(Form1Test, UncheckingTheLogSwitchDuringAScanStopsTheGatedEntriesAtOnce) {
  WritePage("a.htm", true);
  WritePage("b.htm", true);
  WritePage("c.htm", true);
  auto form = MakeForm();
  auto* log_switch = form->findChild<QCheckBox*>("cLog");
  Watch([&] {
    if (!StatusText(*form).starts_with("Scanning")) return false;
    QTest::mouseClick(log_switch, Qt::LeftButton, {}, QPoint(4, log_switch->height() / 2));
    return true;
  });
  QTest::mouseClick(form->findChild<QPushButton*>("cmdScan"), Qt::LeftButton);
  EXPECT_FALSE(log_switch->isChecked());
  EXPECT_EQ(Rows(*form, "lInfected"), (Lines{P("a.htm"), P("b.htm"), P("c.htm")}));
  Lines expected = ScanLog({"", "", ""}, {});
  expected.push_back("Scanning " + P("a.htm"));
  EXPECT_EQ(LogLines(), expected);
}

TEST_F(Form1Test, ASecondScanReplacesTheList) {
  WritePage("a.htm", true);
  WritePage("sub/b.vbs", true);
  auto form = MakeForm();
  auto* scan = form->findChild<QPushButton*>("cmdScan");
  QTest::mouseClick(scan, Qt::LeftButton);
  QTest::mouseClick(scan, Qt::LeftButton);
  EXPECT_EQ(Rows(*form, "lInfected"), (Lines{P("a.htm"), P("sub/b.vbs")}));
  EXPECT_EQ(Rows(*form, "List1"), (Lines{P("a.htm"), P("sub/b.vbs")})) << "cleared and refilled";
  Lines once = ScanLog({"", "sub/"}, {{"a.htm", true}, {"sub/b.vbs", true}});
  Lines twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(LogLines(), twice);
}

TEST_F(Form1Test, AScanPressedDuringAScanIsIgnored) {
  WritePage("a.htm", true);
  WritePage("b.htm", true);
  auto form = MakeForm();
  auto* scan = form->findChild<QPushButton*>("cmdScan");
  int presses = 0;
  Watch([&] {
    QTest::mouseClick(scan, Qt::LeftButton);
    return ++presses == 3;
  });
  QTest::mouseClick(scan, Qt::LeftButton);
  EXPECT_EQ(presses, 3);
  EXPECT_EQ(Rows(*form, "lInfected"), (Lines{P("a.htm"), P("b.htm")}));
  EXPECT_EQ(LogLines(), ScanLog({"", ""}, {{"a.htm", true}, {"b.htm", true}}));
}

TEST_F(Form1Test, ClosingDuringAScanEndsAtOnceWithTheLogCompleteSoFar) {
  const std::vector<std::string> pages = {"p0.htm", "p1.htm", "p2.htm", "p3.htm", "p4.htm"};
  for (const std::string& page : pages) WritePage(page, true);
  auto form = MakeForm();
  Watch([&] {
    if (StatusText(*form) != "Scanning \n" + P("p2.htm")) return false;
    form->close();
    return true;
  });
  QTest::mouseClick(form->findChild<QPushButton*>("cmdScan"), Qt::LeftButton);
  EXPECT_EQ(unloads_, 1);
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->controller().log().is_open());
  EXPECT_FALSE(form->controller().running());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  const std::vector<std::string> candidates = [&] {
    std::vector<std::string> order;
    for (size_t i = 0; i < form->CandidateCount(); ++i) order.push_back(form->Candidate(i));
    return order;
  }();
  // The log holds the search and the scan up to the page being read when the window closed.
  ASSERT_EQ(candidates.size(), pages.size());
  Lines expected = ScanLog(Lines(pages.size(), ""), {});
  for (const std::string& path : candidates) {
    expected.push_back("Scanning " + path);
    if (path == P("p2.htm")) break;
    expected.push_back("Virus found in " + path);
  }
  EXPECT_EQ(LogLines(), expected);
  EXPECT_LT(form->InfectedCount(), pages.size());

  QTest::mouseClick(form->findChild<QPushButton*>("cmdScan"), Qt::LeftButton);
  EXPECT_EQ(LogLines(), expected) << "a closed window runs no command";
}

TEST_F(Form1Test, RemoveCleansTheListedFilesAndConfirms) {
  WritePage("a.htm", true);
  WritePage("sub/b.asp", true);
  auto form = MakeForm();
  QTest::mouseClick(form->findChild<QPushButton*>("cmdScan"), Qt::LeftButton);
  QTest::mouseClick(form->findChild<QPushButton*>("cRemove"), Qt::LeftButton);
  EXPECT_FALSE(form->controller().running());
  const std::string clean = "<html>\r\n";
  EXPECT_EQ(tree_.Read("drive/a.htm"), clean);
  EXPECT_EQ(tree_.Read("drive/sub/b.asp"), clean);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].rfind(
                "The HTML.Quelix.A Virus has been removed successfully from your system. The "
                "originals are kept in " +
                    tree_.Path("state/backups/"),
                0),
            0u)
      << messages_[0];
  Lines log = LogLines();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log.back(), "Virus removal complete.");
  EXPECT_NE(std::find(log.begin(), log.end(), "Virus successfully removed from " + P("a.htm")),
            log.end());
}

// A user who clicks Remove as soon as the scan says it is complete must not find the click
// dropped as one made while the scan ran: the final status shows only after the last yield.
TEST_F(Form1Test, ARemoveClickedOnSeeingTheScanCompleteIsTaken) {
  WritePage("a.htm", true);
  auto form = MakeForm();
  auto* remove = form->findChild<QPushButton*>("cRemove");
  bool clicked_during_scan = false;
  bool clicked = false;
  Watch([&] {
    if (StatusText(*form).rfind("Scan complete.", 0) != 0) return false;
    clicked_during_scan = form->controller().running();
    QTest::mouseClick(remove, Qt::LeftButton);
    return clicked = true;
  });
  QTest::mouseClick(form->findChild<QPushButton*>("cmdScan"), Qt::LeftButton);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!clicked && std::chrono::steady_clock::now() < give_up) {
    QCoreApplication::processEvents();
  }
  ASSERT_TRUE(clicked) << "the status never said the scan was complete";
  EXPECT_FALSE(clicked_during_scan);
  EXPECT_EQ(tree_.Read("drive/a.htm"), "<html>\r\n");
  EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(Form1Test, RemoveBeforeAnyScanSaysThereIsNothingToRemove) {
  WritePage("a.htm", true);
  auto form = MakeForm();
  QTest::mouseClick(form->findChild<QPushButton*>("cRemove"), Qt::LeftButton);
  EXPECT_EQ(messages_, Lines{"No infected files are listed. Press Scan for virus first."});
  EXPECT_EQ(LogLines(), Lines{"Virus removal complete."});
  EXPECT_NE(tree_.Read("drive/a.htm"), "<html>\r\n") << "nothing was cleaned";
}

// A long removal keeps the window live: each file shows in the status line as it is cleaned,
// the hourglass stays, and a close request ends the program after the file being cleaned.
TEST_F(Form1Test, RemoveShowsEachFileAndACloseEndsItAfterTheFileInHand) {
  const auto Content = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  for (const char* page : {"p0.htm", "p1.htm", "p2.htm", "p3.htm"}) WritePage(page, true);
  auto form = MakeForm();
  QTest::mouseClick(form->findChild<QPushButton*>("cmdScan"), Qt::LeftButton);
  const Lines listed = Rows(*form, "lInfected");
  ASSERT_EQ(listed.size(), 4u);
  Lines shown;
  bool busy = true;
  Watch([&] {
    const std::string text = StatusText(*form);
    if (!text.starts_with("Removing virus from \n")) return false;
    if (shown.empty() || shown.back() != text) shown.push_back(text);
    busy = busy && QApplication::overrideCursor() != nullptr;
    if (text != "Removing virus from \n" + listed[1]) return false;
    form->close();
    return true;
  });
  QTest::mouseClick(form->findChild<QPushButton*>("cRemove"), Qt::LeftButton);
  EXPECT_EQ(unloads_, 1);
  EXPECT_TRUE(busy);
  EXPECT_EQ(shown,
            (Lines{"Removing virus from \n" + listed[0], "Removing virus from \n" + listed[1]}));
  EXPECT_EQ(Content(listed[1]), "<html>\r\n") << "the file in hand is finished";
  EXPECT_NE(Content(listed[2]), "<html>\r\n") << "the next one is not begun";
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(LogLines().back(), "Virus removal stopped: the window was closed.");
  EXPECT_FALSE(form->controller().log().is_open());
}

TEST_F(Form1Test, TwoRunsAppendToOneLog) {
  WritePage("a.htm", true);
  for (int run = 0; run < 2; ++run) {
    auto form = MakeForm();
    QTest::mouseClick(form->findChild<QPushButton*>("cmdScan"), Qt::LeftButton);
    form->close();
  }
  EXPECT_EQ(unloads_, 2);
  Lines one_run = ScanLog({""}, {{"a.htm", true}});
  Lines two_runs = one_run;
  two_runs.insert(two_runs.end(), one_run.begin(), one_run.end());
  EXPECT_EQ(LogLines(), two_runs);
}

TEST_F(Form1Test, WithoutAnyLogTheProgramWorksAndSaysSoOnce) {
  WritePage("a.htm", true);
  tree_.Write("blocker", "a file where directories would have to be");
  Form1::Setup setup = MakeSetup(std::chrono::milliseconds(0));
  places_.log_places = {{tree_.Path("blocker/program/log.txt"), false},
                        {tree_.Path("blocker/state/log.txt"), true}};
  Form1 form(setup);
  form.Load();
  form.show();
  EXPECT_FALSE(form.controller().log().is_open());
  EXPECT_EQ(StatusText(form), "No event log could be opened. Events are not logged.");
  QTest::mouseClick(form.findChild<QPushButton*>("cmdScan"), Qt::LeftButton);
  EXPECT_EQ(Rows(form, "lInfected"), Lines{P("a.htm")});
  EXPECT_EQ(StatusText(form),
            "Scan complete. The list of infected files is given above.\nNo event log could be "
            "opened.");
}

}  // namespace
}  // namespace quelix
