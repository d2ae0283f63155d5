#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFont>
#include <QFontMetrics>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "tests/qt/form1_fixture.h"
#include "tests/support/temp_tree.h"
#include "window/event_log.h"
#include "window/qt/path_list_model.h"
#include "window/qt/program_paths.h"
#include "window/qt/status_line.h"
#include "window/qt/volumes.h"

namespace quelix {
namespace {

using Lines = std::vector<std::string>;

std::vector<std::string> MountPaths(const std::vector<Volume>& volumes) {
  std::vector<std::string> paths;
  for (const Volume& volume : volumes) paths.push_back(volume.mount_path);
  return paths;
}

TEST(VolumesTest, ListsOnlyMountsWithRealStorage) {
  const char* table =
      "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
      "24 27 0:6 / /dev rw,relatime - devtmpfs devtmpfs rw,size=123k\n"
      "25 24 0:23 / /dev/shm rw,relatime - tmpfs tmpfs rw\n"
      "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw,discard\n"
      "30 27 0:45 / /home rw,relatime shared:7 - btrfs /dev/sda2 rw,subvol=/home\n"
      "31 27 8:17 / /media/web\\040disk rw,nosuid shared:9 master:2 - fuseblk /dev/sdb1 rw\n"
      "32 27 7:3 / /snap/core/1 ro,nodev - squashfs /dev/loop3 ro\n"
      "33 27 0:50 / /run/user/0/doc rw - fuse.portal portal rw\n"
      "34 27 0:51 / /var/lib/docker/overlay rw - overlay overlay rw,lowerdir=/a\n"
      "35 27 254:0 / /mnt/again rw - ext4 /dev/vda rw\n"
      "36 27 254:0 /srv /srv rw - ext4 /dev/vda rw\n"
      "37 27 259:1 / /data rw - someotherfs /dev/nvme0n1p1 rw\n"
      "broken line\n";
  const auto volumes = ParseMountInfo(table);
  EXPECT_EQ(MountPaths(volumes),
            (Lines{"/", "/home", "/media/web disk", "/var/lib/docker/overlay", "/srv", "/data"}));
  ASSERT_EQ(volumes.size(), 6u);
  EXPECT_EQ(volumes[2].device, "/dev/sdb1");
  EXPECT_EQ(volumes[2].type, "fuseblk");
  EXPECT_EQ(volumes[2].Caption(), "/media/web disk (sdb1)");
  Volume labelled = volumes[1];
  labelled.label = "HOME";
  EXPECT_EQ(labelled.Caption(), "/home (HOME)");
}

TEST(VolumesTest, TheVolumeHoldingAPathIsTheDeepestMountAboveIt) {
  const std::vector<Volume> volumes = {{"/", "", "", ""},
                                       {"/home", "", "", ""},
                                       {"/home/ann/web", "", "", ""},
                                       {"/homes", "", "", ""}};
  EXPECT_EQ(VolumeHolding(volumes, "/home/ann"), 1u);
  EXPECT_EQ(VolumeHolding(volumes, "/home/ann/web/x"), 2u);
  EXPECT_EQ(VolumeHolding(volumes, "/home"), 1u);
  EXPECT_EQ(VolumeHolding(volumes, "/homework"), 0u);
  EXPECT_EQ(VolumeHolding({{"/data", "", "", ""}, {"/home", "", "", ""}}, "/root"), 0u);
}

TEST(VolumesTest, TheRunningSystemOffersTheVolumeOfItsRoot) {
  // The machine running the tests has its root on some storage the chooser must offer.
  const auto volumes = ListVolumes();
  ASSERT_FALSE(volumes.empty());
  EXPECT_EQ(volumes[VolumeHolding(volumes, "/")].mount_path.front(), '/');
  for (const Volume& volume : volumes) {
    EXPECT_NE(volume.type, "proc");
    EXPECT_NE(volume.type, "tmpfs");
  }
}

TEST(ProgramPathsTest, StateHomeFollowsTheEnvironment) {
  EXPECT_EQ(StateHome("/var/state", "/home/ann"), "/var/state");
  EXPECT_EQ(StateHome("relative/state", "/home/ann"), "/home/ann/.local/state");
  EXPECT_EQ(StateHome(nullptr, "/home/ann/"), "/home/ann/.local/state");
  EXPECT_EQ(StateHome(nullptr, nullptr), "");
}

TEST(ProgramPathsTest, AProgramOutsideAPrefixKeepsEverythingBesideItself) {
  TempTree tree;
  tree.MakeDirectory("app");
  EXPECT_FALSE(IsInstalled(tree.Path("app")));
  EXPECT_EQ(ReadmePath(tree.Path("app")), tree.Path("app/readme.txt"));
  EXPECT_EQ(LogPaths(tree.Path("app"), "/st"),
            (Lines{tree.Path("app/log.txt"), "/st/quelix-remover/log.txt"}));
  EXPECT_EQ(LogPaths(tree.Path("app"), ""), Lines{tree.Path("app/log.txt")});
}

TEST(ProgramPathsTest, AnInstalledProgramUsesThePrefixDocAndTheStateDirectory) {
  TempTree tree;
  tree.MakeDirectory("usr/bin");
  tree.Write("usr/share/doc/quelix-remover/readme.txt", "help");
  for (const std::string& dir : {tree.Path("usr/bin"), tree.Path("usr/bin/")}) {
    EXPECT_TRUE(IsInstalled(dir)) << dir;
    EXPECT_EQ(ReadmePath(dir), tree.Path("usr/share/doc/quelix-remover/readme.txt"));
    EXPECT_EQ(LogPaths(dir, "/st"), Lines{"/st/quelix-remover/log.txt"});
  }
  // A readme beside the executable means it runs from an unpacked copy after all.
  tree.Write("usr/bin/readme.txt", "help");
  EXPECT_FALSE(IsInstalled(tree.Path("usr/bin")));
  EXPECT_EQ(ReadmePath(tree.Path("usr/bin")), tree.Path("usr/bin/readme.txt"));
}

TEST(ProgramPathsTest, TheLogMovesToTheStateDirectoryWhenTheProgramDirectoryFails) {
  TempTree tree;
  tree.Write("blocker", "not a directory");
  auto fs = CreateNativeFileSystem();
  EventLog log(*fs);
  ASSERT_TRUE(OpenEventLog(log, tree.Path("blocker/app"), tree.Path("state")).ok());
  EXPECT_EQ(log.path(), tree.Path("state/quelix-remover/log.txt"));
  log.Write("Virus removal complete.");
  ASSERT_TRUE(log.Close().ok());
  EXPECT_EQ(tree.Read("state/quelix-remover/log.txt"), "Virus removal complete.\r\n");
  EXPECT_FALSE(tree.Exists("blocker/app")) << "the program directory is never created";

  EXPECT_FALSE(OpenEventLog(log, tree.Path("blocker/app"), tree.Path("blocker/state")).ok());
  EXPECT_FALSE(log.is_open());
}

// A pipe where the log goes would block the start for ever, a link would send the entries (which
// hold names chosen by whoever owns the scanned tree) to another file: both are passed over.
TEST(ProgramPathsTest, APipeOrALinkWhereTheLogGoesIsPassedOver) {
  TempTree tree;
  tree.Write("target", "someone's file");
  std::filesystem::create_directories(tree.Path("pipe"));
  std::filesystem::create_directories(tree.Path("link"));
  ASSERT_EQ(mkfifo(tree.Path("pipe/log.txt").c_str(), 0666), 0);
  std::filesystem::create_symlink(tree.Path("target"), tree.Path("link/log.txt"));
  auto fs = CreateNativeFileSystem();
  for (const char* program_dir : {"pipe", "link"}) {
    EventLog log(*fs);
    ASSERT_TRUE(OpenEventLog(log, tree.Path(program_dir), tree.Path("state")).ok());
    EXPECT_EQ(log.path(), tree.Path("state/quelix-remover/log.txt")) << program_dir;
    log.Write("entry");
    ASSERT_TRUE(log.Close().ok());
  }
  EXPECT_EQ(tree.Read("target"), "someone's file");
  EXPECT_EQ(tree.Read("state/quelix-remover/log.txt"), "entry\r\nentry\r\n");
}

TEST(StatusLineTest, ShowsALineBreakAsTwoLines) {
  const QFontMetrics metrics{QFont()};
  const StatusDisplay display = ShapeStatus("Scanning \r\n/srv/a.htm", metrics, 10000);
  EXPECT_EQ(display.shown, "Scanning \n/srv/a.htm");
  EXPECT_EQ(display.tooltip, "");
}

TEST(StatusLineTest, ShortensATooWidePathInItsMiddleAndKeepsTheWholeInTheTooltip) {
  const QFontMetrics metrics{QFont()};
  const QString path = "/srv/www/" + QString("deep/").repeated(60) + "index.htm";
  const int width = metrics.horizontalAdvance("Scanning ") * 3;
  const StatusDisplay display = ShapeStatus("Scanning \r\n" + path, metrics, width);
  const QStringList lines = display.shown.split('\n');
  ASSERT_EQ(lines.size(), 2);
  EXPECT_EQ(lines[0], "Scanning ");
  EXPECT_LE(metrics.horizontalAdvance(lines[1]), width);
  EXPECT_TRUE(lines[1].startsWith("/srv")) << lines[1].toStdString();
  EXPECT_TRUE(lines[1].endsWith("index.htm")) << lines[1].toStdString();
  EXPECT_TRUE(lines[1].contains(QChar(0x2026)));
  EXPECT_EQ(display.tooltip, "Scanning \n" + path);
}

TEST(PathListModelTest, AppendsReachTheViewOnlyAtAFlush) {
  PathListModel model;
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  for (int i = 0; i < 100000; ++i) model.Append("/srv/page" + std::to_string(i) + ".htm");
  EXPECT_EQ(model.size(), 100000u);
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(inserted.count(), 0);
  model.Flush();
  model.Flush();
  ASSERT_EQ(inserted.count(), 1);
  EXPECT_EQ(inserted[0][1].toInt(), 0);
  EXPECT_EQ(inserted[0][2].toInt(), 99999);
  EXPECT_EQ(model.rowCount(), 100000);
  EXPECT_EQ(model.data(model.index(99999, 0)).toString(), "/srv/page99999.htm");
  model.Clear();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.size(), 0u);
}

// 100 000 infected paths appended through the window, with a yield after each as the scan
// does: the view hears of them in a few batches, and all of them are listed at the end.
TEST_F(Form1Test, AHundredThousandAppendsCostAFewBatches) {
  auto form = MakeForm(std::chrono::milliseconds(15));
  const auto* view = form->findChild<QListView*>("lInfected");
  ASSERT_NE(view, nullptr);
  QSignalSpy inserted(view->model(), &QAbstractItemModel::rowsInserted);
  form->SetRemoveCommand([&form](Engine&) {
    for (int i = 0; i < 100000; ++i) {
      form->AppendInfected("/srv/page" + std::to_string(i) + ".htm");
      if (!form->YieldPoint()) return false;
    }
    return true;
  });
  QTest::mouseClick(form->findChild<QPushButton*>("cRemove"), Qt::LeftButton);
  EXPECT_EQ(view->model()->rowCount(), 100000);
  EXPECT_GE(inserted.count(), 1);
  EXPECT_LT(inserted.count(), 1000);
}

}  // namespace
}  // namespace quelix
