// Where the Linux program finds volumes, its readme and a place for its event log.
#include "platform/posix/posix_places.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "app/controller.h"
#include "platform/posix/mount_table.h"
#include "tests/support/fake_window.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

using Lines = std::vector<std::string>;

Volume At(const char* root) {
  Volume volume;
  volume.root = root;
  return volume;
}

Lines Paths(const std::vector<LogPlace>& places) {
  Lines paths;
  for (const LogPlace& place : places) paths.push_back(place.path);
  return paths;
}

std::vector<std::string> MountPaths(const std::vector<Volume>& volumes) {
  std::vector<std::string> paths;
  for (const Volume& volume : volumes) paths.push_back(volume.root);
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
      "38 27 0:69 / /mnt/disk-image rw - fuse /srv/images/win.img rw,user_id=0\n"
      "39 27 0:70 / /run/user/0/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n"
      "broken line\n";
  const auto volumes = ParseMountInfo(table);
  EXPECT_EQ(MountPaths(volumes), (Lines{"/", "/home", "/media/web disk", "/var/lib/docker/overlay",
                                        "/srv", "/data", "/mnt/disk-image"}));
  ASSERT_EQ(volumes.size(), 7u);
  EXPECT_EQ(volumes[2].device, "/dev/sdb1");
  EXPECT_EQ(volumes[2].type, "fuseblk");
  EXPECT_EQ(volumes[2].caption, "/media/web disk (sdb1)");
  Volume labelled = volumes[1];
  labelled.label = "HOME";
  EXPECT_EQ(MountCaption(labelled), "/home (HOME)");
}

TEST(VolumesTest, TheVolumeHoldingAPathIsTheDeepestMountAboveIt) {
  const std::vector<Volume> volumes = {At("/"), At("/home"), At("/home/ann/web"), At("/homes")};
  EXPECT_EQ(VolumeHolding(volumes, "/home/ann"), 1u);
  EXPECT_EQ(VolumeHolding(volumes, "/home/ann/web/x"), 2u);
  EXPECT_EQ(VolumeHolding(volumes, "/home"), 1u);
  EXPECT_EQ(VolumeHolding(volumes, "/homework"), 0u);
  EXPECT_EQ(VolumeHolding({At("/data"), At("/home")}, "/root"), 0u);
}

TEST(VolumesTest, TheRunningSystemOffersTheVolumeOfItsRoot) {
  // The machine running the tests has its root on some storage the chooser must offer.
  const auto volumes = ListVolumes();
  ASSERT_FALSE(volumes.empty());
  EXPECT_EQ(volumes[VolumeHolding(volumes, "/")].root.front(), '/');
  for (const Volume& volume : volumes) {
    EXPECT_NE(volume.type, "proc");
    EXPECT_NE(volume.type, "tmpfs");
  }
}

TEST(PosixPlacesTest, StateHomeFollowsTheEnvironment) {
  EXPECT_EQ(StateHome("/var/state", "/home/ann"), "/var/state");
  EXPECT_EQ(StateHome("relative/state", "/home/ann"), "/home/ann/.local/state");
  EXPECT_EQ(StateHome(nullptr, "/home/ann/"), "/home/ann/.local/state");
  EXPECT_EQ(StateHome(nullptr, nullptr), "");
}

// Root run with another user's environment keeps its log and backups out of that user's reach.
TEST(PosixPlacesTest, TheStateFolderIsOneThatTheProgramsUserOwns) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder away";
  TempTree tree;
  tree.MakeDirectory("home/state");
  const char* xdg = std::getenv("XDG_STATE_HOME");
  const std::string saved_home = std::getenv("HOME") ? std::getenv("HOME") : "";
  const std::optional<std::string> saved_xdg = xdg ? std::optional<std::string>(xdg) : std::nullopt;
  setenv("HOME", tree.Path("home").c_str(), 1);
  setenv("XDG_STATE_HOME", tree.Path("home/state").c_str(), 1);
  std::unique_ptr<Places> places = CreateNativePlaces();
  for (const char* given : {"home", "home/state"}) {
    ASSERT_EQ(::chown(tree.Path(given).c_str(), 65534, 65534), 0);
  }
  EXPECT_EQ(places->BackupFolder().rfind(tree.Root(), 0), std::string::npos)
      << places->BackupFolder();
  EXPECT_EQ(Paths(places->LogPlaces()).back().rfind(tree.Root(), 0), std::string::npos);
  setenv("HOME", saved_home.c_str(), 1);
  if (saved_xdg) setenv("XDG_STATE_HOME", saved_xdg->c_str(), 1);
  if (!saved_xdg) unsetenv("XDG_STATE_HOME");
}

TEST(PosixPlacesTest, AProgramOutsideAPrefixKeepsEverythingBesideItself) {
  TempTree tree;
  tree.Write("app/readme.txt", "help");
  EXPECT_FALSE(IsInstalled(tree.Path("app")));
  EXPECT_EQ(ReadmePath(tree.Path("app")), tree.Path("app/readme.txt"));
  EXPECT_EQ(Paths(LogPlaces(tree.Path("app"), "/st")),
            (Lines{tree.Path("app/log.txt"), "/st/quelix-remover/log.txt"}));
  EXPECT_EQ(Paths(LogPlaces(tree.Path("app"), "")), Lines{tree.Path("app/log.txt")});
}

TEST(PosixPlacesTest, OnlyAProgramInstalledUnderAPrefixUsesItsDocAndTheStateDirectory) {
  TempTree tree;
  tree.MakeDirectory("usr/bin");
  tree.Write("usr/libexec/quelix-remover/quelix-hive", "helper");
  tree.MakeDirectory("copy/bin");  // copied out of its folder: no prefix around it
  for (const std::string& dir : {tree.Path("usr/bin"), tree.Path("usr/bin/")}) {
    EXPECT_TRUE(IsInstalled(dir)) << dir;
    // Where the readme is, whether or not the system keeps the doc folder.
    EXPECT_EQ(ReadmePath(dir), tree.Path("usr/share/doc/quelix-remover/readme.txt"));
    EXPECT_EQ(Paths(LogPlaces(dir, "/st")), Lines{"/st/quelix-remover/log.txt"});
  }
  EXPECT_FALSE(IsInstalled(tree.Path("copy/bin")));
  EXPECT_EQ(ReadmePath(tree.Path("copy/bin")), tree.Path("copy/bin/readme.txt"));
  EXPECT_EQ(Paths(LogPlaces(tree.Path("copy/bin"), "/st")),
            (Lines{tree.Path("copy/bin/log.txt"), "/st/quelix-remover/log.txt"}));
  // A readme beside the executable means it runs from an unpacked copy after all.
  tree.Write("usr/bin/readme.txt", "help");
  EXPECT_FALSE(IsInstalled(tree.Path("usr/bin")));
  EXPECT_EQ(ReadmePath(tree.Path("usr/bin")), tree.Path("usr/bin/readme.txt"));
}

// The program's folder cannot take the log; a pipe where it goes would block the start for ever,
// a link would send the entries (which hold names chosen by whoever owns the scanned tree) to
// another file: each is passed over for the state folder, which is made for it.
TEST(PosixPlacesTest, TheLogGoesToTheStateFolderWhereTheProgramFolderFails) {
  TempTree tree;
  tree.Write("blocker", "not a directory");
  tree.Write("target", "someone's file");
  tree.Write("pipe/readme.txt", "help");
  tree.Write("link/readme.txt", "help");
  ASSERT_EQ(mkfifo(tree.Path("pipe/log.txt").c_str(), 0666), 0);
  std::filesystem::create_symlink(tree.Path("target"), tree.Path("link/log.txt"));
  auto fs = CreateNativeFileSystem();
  FakeWindow window;
  for (const char* program_dir : {"blocker/app", "pipe", "link"}) {
    CommandController controller(window, *fs, CreateNativeRegistry);
    ASSERT_TRUE(controller.OpenLog(LogPlaces(tree.Path(program_dir), tree.Path("state"))).ok());
    EXPECT_EQ(controller.log().path(), tree.Path("state/quelix-remover/log.txt")) << program_dir;
    EXPECT_EQ(controller.Remove(), CommandResult::kDone);
  }
  EXPECT_EQ(tree.Read("target"), "someone's file");
  EXPECT_FALSE(tree.Exists("blocker/app")) << "the program directory is never created";
  const std::string entry = "Virus removal complete.\r\n";
  EXPECT_EQ(tree.Read("state/quelix-remover/log.txt"), entry + entry + entry);
  EXPECT_EQ(std::filesystem::status(tree.Path("state/quelix-remover")).permissions(),
            std::filesystem::perms::owner_all);
}

}  // namespace
}  // namespace quelix
