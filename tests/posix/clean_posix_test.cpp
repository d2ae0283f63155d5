// The Remove command against what a Linux volume can throw at it: permissions, links, a full
// disk, files larger than memory, and a kill in the middle of the work.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "engine/backups.h"
#include "engine/restore.h"
#include "engine/signature.h"
#include "tests/posix/as_user.h"
#include "tests/support/remove_fixture.h"

namespace quelix {
namespace {

const std::string kSig = SignatureLine();
const std::string kMark = MarkerLine();
const std::string kInfected = "page\r\n" + kMark + "\r\n" + kSig + "\r\nrest\r\n";
const std::string kCleaned = "page\r\n";
const std::string kDone = "The HTML.Quelix.A Virus has been removed successfully from your system.";

using CleanPosixTest = RemoveFixture;

TEST_F(CleanPosixTest, ModeAndOwnerComeBackOnTheCleanedFile) {
  tree_.Write("a.htm", kInfected);
  ASSERT_EQ(chown(P("a.htm").c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(P("a.htm").c_str(), 04640), 0);
  Scan();
  Remove();
  EXPECT_EQ(tree_.Read("a.htm"), kCleaned);
  struct stat st;
  ASSERT_EQ(stat(P("a.htm").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 04640u);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
}

TEST_F(CleanPosixTest, TheBackupIsPrivateAndARestoreBringsTheFileBackWithItsMetadata) {
  tree_.Write("a.htm", kInfected);
  ASSERT_EQ(chown(P("a.htm").c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(P("a.htm").c_str(), 0644), 0);
  ASSERT_EQ(setxattr(P("a.htm").c_str(), "user.note", "kept", 4, 0), 0);
  controller().KeepOriginalsIn(log_dir_.Path("state/backups"));
  Scan();
  Remove();
  ASSERT_EQ(tree_.Read("a.htm"), kCleaned);
  const std::string run = controller().backup_run();
  const std::pair<std::string, unsigned> modes[] = {{log_dir_.Path("state"), 0700},
                                                    {log_dir_.Path("state/backups"), 0700},
                                                    {run, 0700},
                                                    {run + "/run.tsv", 0600},
                                                    {run + "/manifest.tsv", 0600},
                                                    {run + "/000001.orig", 0600}};
  for (const auto& [path, mode] : modes) {
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_mode & 07777, mode) << path;
  }
  // The owner of the page may not read the copy kept of it, nor learn what else was kept.
  AsNobody([&] {
    for (const char* name : {"/000001.orig", "/manifest.tsv"}) {
      EXPECT_LT(open((run + name).c_str(), O_RDONLY), 0);
      EXPECT_EQ(errno, EACCES);
    }
  });
  // A run is found by its folder only where it is the user's own.
  std::string found;
  EXPECT_TRUE(FindRun(fs_, log_dir_.Path("state/backups"), run, &found).ok());
  log_dir_.Write("planted/run.tsv", "root\t/\n");
  ASSERT_EQ(chown(log_dir_.Path("planted").c_str(), 65534, 65534), 0);
  EXPECT_EQ(FindRun(fs_, log_dir_.Path("state/backups"), log_dir_.Path("planted"), &found).code(),
            ErrorCode::kAccessDenied);
  RestoreReport report;
  ASSERT_TRUE(RestoreRun(
                  fs_, run, [](Directory&) { return nullptr; }, &report)
                  .ok());
  ASSERT_EQ(report.files.size(), 1u);
  EXPECT_EQ(report.files[0].outcome, RestoreOutcome::kRestored) << report.files[0].reason;
  EXPECT_EQ(tree_.Read("a.htm"), kInfected);
  struct stat st;
  ASSERT_EQ(stat(P("a.htm").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(st.st_uid, 65534u);
  char note[8] = {};
  EXPECT_EQ(getxattr(P("a.htm").c_str(), "user.note", note, sizeof note), 4);
  EXPECT_STREQ(note, "kept");
}

TEST_F(CleanPosixTest, ReadOnlyFileIsCleanedAndReadOnlyDirectoryLeftAlone) {
  tree_.Write("rw/a.htm", kInfected);
  tree_.Write("ro/b.htm", kInfected);
  for (const char* path : {"", "rw", "rw/a.htm", "ro", "ro/b.htm"}) {
    ASSERT_EQ(chown(P(path).c_str(), 65534, 65534), 0);
  }
  chmod(P("rw/a.htm").c_str(), 0444);
  chmod(P("ro/b.htm").c_str(), 0444);
  chmod(P("ro").c_str(), 0555);
  AsNobody([this] {
    Scan();
    Remove();
    EXPECT_EQ(tree_.Read("rw/a.htm"), kCleaned);
    EXPECT_EQ(tree_.Read("ro/b.htm"), kInfected);
    EXPECT_EQ(Logged("Could not remove"),
              (std::vector<std::string>{"Could not remove the virus from " + P("ro/b.htm") +
                                        ": access denied"}));
    EXPECT_NE(window_.messages.at(0).find("removed from 1 of 2 files"), std::string::npos);
  });
  struct stat st;
  ASSERT_EQ(stat(P("rw/a.htm").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(P("ro")), {}), 1);
}

TEST_F(CleanPosixTest, LinkIsNeitherReadNorWrittenThrough) {
  TempTree outside;
  outside.Write("target.htm", kInfected);
  std::filesystem::create_symlink(outside.Path("target.htm"), P("link.htm"));
  tree_.Write("page.htm", kInfected);
  Scan();
  ASSERT_EQ(window_.infected, (std::vector<std::string>{P("page.htm")}));
  // Swapped for a link between the scan and the removal.
  std::filesystem::rename(P("page.htm"), outside.Path("page.htm"));
  std::filesystem::create_symlink(outside.Path("page.htm"), P("page.htm"));
  Remove();
  EXPECT_EQ(outside.Read("target.htm"), kInfected);
  EXPECT_EQ(outside.Read("page.htm"), kInfected);
  EXPECT_TRUE(std::filesystem::is_symlink(P("page.htm")));
  EXPECT_EQ(Logged("Could not remove").at(0), "Could not remove the virus from " + P("page.htm") +
                                                  ": it is a link, or lies behind one");
}

TEST_F(CleanPosixTest, FullDiskLeavesTheFileAsItWasAndNoCopyBehind) {
  const std::string mount_point = P("small");
  std::filesystem::create_directory(mount_point);
  if (mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=256k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
  }
  const std::string big = "x\r\n" + std::string(60 * 1024, 'a') + "\r\n" + kMark + "\r\n" + kSig;
  tree_.Write("small/big.htm", big);
  // Fill the volume so that the cleaned copy cannot be written whole.
  std::string filler_path = P("small/filler");
  const int fd = open(filler_path.c_str(), O_WRONLY | O_CREAT, 0644);
  const std::string chunk(4096, 'f');
  while (write(fd, chunk.data(), chunk.size()) > 0) {
  }
  close(fd);
  window_.root = mount_point;
  Scan();
  Remove();
  EXPECT_EQ(tree_.Read("small/big.htm"), big);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(mount_point), {}), 2);
  // The room is looked at before the copy is written: the full volume is not touched at all.
  EXPECT_EQ(
      Logged("Could not remove").at(0),
      "Could not remove the virus from " + P("small/big.htm") + ": not enough room on the disk");
  umount(mount_point.c_str());
}

TEST_F(CleanPosixTest, HugeSparseFileIsCleanedInConstantMemory) {
  // On a memory-backed volume where one is allowed: the cleaned copy is 2 GiB written and synced.
  const std::string volume = P("ram");
  std::filesystem::create_directory(volume);
  const bool mounted = mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=5g") == 0;
  window_.root = volume;
  const off_t size = (off_t{2} << 30) + 7;
  const int fd = open(P("ram/huge.htm").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  const std::string tail = "\n" + kMark + "\n" + kSig + "\nafter\n";
  ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), size), static_cast<ssize_t>(tail.size()));
  close(fd);
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  Scan();
  Remove();
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_EQ(window_.messages, (std::vector<std::string>{kDone}));
  EXPECT_EQ(std::filesystem::file_size(P("ram/huge.htm")), static_cast<uintmax_t>(size) + 1);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "KiB of peak memory added";
  if (mounted) umount(volume.c_str());
}

// The log names the files of every tree searched: a log left where others may read or write it
// is not written to, the program's own private one is.
TEST_F(CleanPosixTest, AStateLogOthersMayReadOrWriteIsNotUsed) {
  using std::filesystem::perms;
  const perms own = perms::owner_read | perms::owner_write;
  const struct {
    perms mode;
    bool used;
  } cases[] = {{own, true}, {own | perms::others_read, false}, {own | perms::group_write, false}};
  const std::string path = log_dir_.Path("state/log.txt");
  for (const auto& c : cases) {
    log_dir_.Write("state/log.txt", "earlier\n");
    std::filesystem::permissions(path, c.mode);
    CommandController other(
        window_, fs_, [this](Directory&) { return std::make_unique<BorrowedRegistry>(registry_); });
    EXPECT_EQ(other.OpenLog({{path, true}}).ok(), c.used) << static_cast<int>(c.mode);
    EXPECT_EQ(other.log().is_open(), c.used) << static_cast<int>(c.mode);
  }
}

}  // namespace
}  // namespace quelix
