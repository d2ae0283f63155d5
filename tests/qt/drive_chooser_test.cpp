// The Linux drive chooser: any folder besides the volumes, volumes mounted since the start, and
// entries long enough to need their whole width.
#include "window/qt/drive_chooser.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QListView>
#include <QPushButton>
#include <QTest>

#include "engine/signature.h"
#include "tests/qt/form1_fixture.h"

namespace quelix {
namespace {

using Lines = std::vector<std::string>;

Lines Entries(const QComboBox& chooser) {
  Lines entries;
  for (int i = 0; i < chooser.count(); ++i) entries.push_back(chooser.itemText(i).toStdString());
  return entries;
}

// Picks "Other folder…", the last entry, as a click in the open list does.
void PickOtherFolder(DriveChooser& chooser) {
  chooser.setCurrentIndex(chooser.count() - 1);
  emit chooser.activated(chooser.count() - 1);
}

TEST_F(Form1Test, AnyFolderCanBeChosenAndSearched) {
  tree_.Write("elsewhere/www/index.htm", "<html>\r\n" + MarkerLine() + "\r\n" + SignatureLine());
  std::string answer;
  Form1::Setup setup = MakeSetup(std::chrono::milliseconds(0));
  setup.folder_dialog = [&answer] { return answer; };
  Form1 form(setup);
  form.Load();
  auto* chooser = form.findChild<DriveChooser*>("Drive1");
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(chooser->itemText(chooser->count() - 1).toStdString(), "Other folder\u2026");

  PickOtherFolder(*chooser);  // the user changes their mind
  EXPECT_EQ(form.SearchRoot(), tree_.Path("drive"));
  EXPECT_EQ(chooser->ShownText(), "drive");
  answer = tree_.Path("elsewhere");
  PickOtherFolder(*chooser);
  EXPECT_EQ(form.SearchRoot(), answer);
  // The closed box is narrow: it shows the folder's own name, the tooltip the whole path.
  EXPECT_EQ(chooser->ShownText(), "elsewhere");
  EXPECT_EQ(chooser->toolTip().toStdString(), answer);
  QTest::mouseClick(form.findChild<QPushButton*>("cmdScan"), Qt::LeftButton);
  const std::string found = tree_.Path("elsewhere/www/index.htm");
  EXPECT_EQ(Rows(form, "lInfected"), Lines{found});
  // A list shortens a long entry in its middle; its tooltip reads it whole.
  const QAbstractItemModel* list = form.findChild<QListView*>("lInfected")->model();
  EXPECT_EQ(list->data(list->index(0, 0), Qt::ToolTipRole).toString().toStdString(), found);
  chooser->setCurrentIndex(0);
  EXPECT_EQ(chooser->ShownText(), "/");
}

TEST_F(Form1Test, TheChooserReadsTheVolumesAgainWhenItOpensAndShowsThemWhole) {
  auto form = MakeForm();
  auto* chooser = form->findChild<DriveChooser*>("Drive1");
  ASSERT_NE(chooser, nullptr);
  const int width = chooser->width();
  const std::string mounted =
      "/media/ann/a-disk-mounted-after-the-program-started-with-a-long-name";
  places_.volumes.push_back({mounted, mounted + " (WINDOWS)", "/dev/sdc1", "WINDOWS", "fuseblk"});
  chooser->showPopup();
  EXPECT_EQ(Entries(*chooser), (Lines{"/ (vda)", tree_.Path("drive") + " (TESTDRIVE)",
                                      mounted + " (WINDOWS)", "Other folder\u2026"}));
  EXPECT_EQ(form->SearchRoot(), tree_.Path("drive")) << "the choice stays";
  EXPECT_GE(chooser->view()->minimumWidth(),
            chooser->fontMetrics().horizontalAdvance(QString::fromStdString(mounted)));
  chooser->hidePopup();
  EXPECT_EQ(chooser->width(), width) << "the window's layout stays as it is";
}

// A mount path, label or folder is shown with its control characters escaped; the search goes to
// the folder itself.
TEST_F(Form1Test, TheChooserShowsNamesEscaped) {
  const std::string folder = tree_.Path("new\nline");
  Form1::Setup setup = MakeSetup(std::chrono::milliseconds(0));
  setup.folder_dialog = [&folder] { return folder; };
  Form1 form(setup);
  form.Load();
  auto* chooser = form.findChild<DriveChooser*>("Drive1");
  ASSERT_NE(chooser, nullptr);
  places_.volumes.push_back(
      {"/media/\x1b]0;x\x07", "/media/\x1b]0;x\x07 (a\rb)", "/dev/sdc1", "a\rb", "ext4"});
  chooser->showPopup();
  chooser->hidePopup();
  EXPECT_EQ(Entries(*chooser)[2], "/media/\\x1b]0;x\\x07 (a\\rb)");
  PickOtherFolder(*chooser);
  EXPECT_EQ(form.SearchRoot(), folder);
  EXPECT_EQ(chooser->currentText().toStdString(), tree_.Root() + "new\\nline");
  EXPECT_EQ(chooser->toolTip().toStdString(), tree_.Root() + "new\\nline");
}

}  // namespace
}  // namespace quelix
