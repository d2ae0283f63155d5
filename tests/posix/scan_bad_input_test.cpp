// The scan on the awkward things a real drive holds: files and directories the user may not read,
// links that lead back up the tree, pipes, sparse files larger than memory, very long paths.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "engine/engine.h"
#include "engine/signature.h"
#include "tests/support/fake_window.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

const std::string kSig = SignatureLine();
using List = std::vector<std::string>;

class ScanBadInputTest : public ::testing::Test {
 protected:
  void SetUp() override { window_.root = tree_.root().string(); }
  List Scan() {
    Engine engine(window_, window_, *fs_, CreateNativeRegistry);
    EXPECT_TRUE(engine.ScanCommand());
    return window_.infected;
  }
  std::string P(const std::string& relative) { return tree_.Path(relative); }

  TempTree tree_;
  FakeWindow window_;
  std::unique_ptr<FileSystem> fs_ = CreateNativeFileSystem();
};

// Tests run as root, who reads everything; the scan runs in a child that has dropped to nobody.
TEST_F(ScanBadInputTest, UnreadableFilesAndDirectoriesAreSkippedAsAnUnprivilegedUser) {
  tree_.Write("open.htm", kSig);
  tree_.Write("secret.htm", kSig);
  tree_.Write("locked/inner.htm", kSig);
  tree_.Write("later/after.htm", kSig);
  chmod(P("secret.htm").c_str(), 0);
  chmod(P("locked").c_str(), 0);
  chmod(tree_.root().c_str(), 0755);

  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_fds[0]);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    std::string report;
    for (const std::string& path : Scan()) report += "infected " + path + "\n";
    for (const std::string& entry : window_.log) report += "log " + entry + "\n";
    if (write(pipe_fds[1], report.data(), report.size()) < 0) _exit(4);
    _exit(0);
  }
  close(pipe_fds[1]);
  std::string report;
  char buffer[4096];
  for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(report.find("infected " + P("open.htm") + "\n"), std::string::npos);
  EXPECT_NE(report.find("infected " + P("later/after.htm") + "\n"), std::string::npos);
  EXPECT_EQ(report.find("infected " + P("secret.htm")), std::string::npos);
  EXPECT_NE(report.find("log Scanning " + P("secret.htm") + "\n"), std::string::npos);
  EXPECT_EQ(report.find("inner.htm"), std::string::npos);
}

TEST_F(ScanBadInputTest, LinksAreNotFollowedIntoDirectoriesSoTheWalkEnds) {
  tree_.Write("a/page.htm", kSig);
  std::filesystem::create_directory_symlink("..", P("a/up"));
  std::filesystem::create_directory_symlink(tree_.root(), P("a/root.htm"));
  EXPECT_EQ(Scan(), (List{P("a/page.htm")}));
  // The link named like a candidate is listed, and skipped when it cannot be read as a file.
  List candidates = window_.candidates;
  std::sort(candidates.begin(), candidates.end());
  EXPECT_EQ(candidates, (List{P("a/page.htm"), P("a/root.htm")}));
}

TEST_F(ScanBadInputTest, PipesAndOtherSpecialFilesDoNotHangTheScan) {
  ASSERT_EQ(mkfifo(P("pipe.htm").c_str(), 0644), 0);
  tree_.Write("z.htm", kSig);
  EXPECT_EQ(Scan(), (List{P("z.htm")}));
}

// Opens of the pipe `path` seen on `watch` (an inotify descriptor that watches it).
int OpensSeen(int watch) {
  int opens = 0;
  alignas(inotify_event) char events[4096];
  for (ssize_t got; (got = read(watch, events, sizeof events)) > 0;) {
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events + at);
      opens += (event->mask & IN_OPEN) != 0;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return opens;
}

// The scan opens a page the listing gave as a regular file without asking for its type first:
// one swapped since for a pipe, or for a link to an infected page, is still neither waited on nor
// followed; and the pipe is opened once, as any name is, though a helper opened it first.
TEST_F(ScanBadInputTest, APageSwappedAfterTheListingIsCheckedWhenOpened) {
  tree_.Write("elsewhere/infected.txt", kSig);
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  const std::vector<std::function<void(const std::string&)>> swaps = {
      [watch](const std::string& path) {
        ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
        // Closes watched too: the kernel would merge two opens in a row into one event.
        ASSERT_GE(inotify_add_watch(watch, path.c_str(), IN_OPEN | IN_CLOSE), 0);
      },
      [this](const std::string& path) {
        std::filesystem::create_symlink(P("elsewhere/infected.txt"), path);
      },
  };
  for (const auto& swap : swaps) {
    tree_.Write("a.htm", kSig);
    tree_.Write("b.htm", "clean");
    bool swapped = false;
    window_.on_yield = [&](int) {
      if (!swapped && window_.candidates.size() == 2) {
        std::filesystem::remove(P("b.htm"));
        swap(P("b.htm"));
        swapped = true;
      }
      return true;
    };
    EXPECT_EQ(Scan(), (List{P("a.htm")}));
    EXPECT_TRUE(swapped);
    EXPECT_LE(OpensSeen(watch), 1);
    std::filesystem::remove(P("b.htm"));
  }
  close(watch);
}

// The scan opens the pages of a folder below the root by their whole path in one step: a folder
// on the way swapped for a link after the listing is not followed, the link is told as skipped.
TEST_F(ScanBadInputTest, AFolderSwappedForALinkAfterTheListingIsNotFollowed) {
  TempTree elsewhere;
  elsewhere.Write("deep/a.htm", kSig);
  elsewhere.Write("deep/b.htm", kSig);
  tree_.Write("sub/deep/a.htm", "clean");
  tree_.Write("sub/deep/b.htm", "clean");
  bool swapped = false;
  window_.on_yield = [&](int) {
    if (!swapped && window_.candidates.size() == 2) {
      std::filesystem::rename(P("sub"), P("sub.old"));
      std::filesystem::create_directory_symlink(elsewhere.root(), P("sub"));
      swapped = true;
    }
    return true;
  };
  EXPECT_EQ(Scan(), List{});
  ASSERT_TRUE(swapped);
  EXPECT_EQ(window_.EventsStartingWith("log: Skipped " + P("sub/deep/")).size(), 2u);
}

TEST_F(ScanBadInputTest, OddNamesAndPathsLongerThan260AreScanned) {
  std::string deep;
  for (int i = 0; i < 12; ++i) deep += std::string(30, static_cast<char>('a' + i)) + "/";
  ASSERT_GT(P(deep).size(), 300u);
  tree_.Write(deep + "deep.htm", kSig);
  tree_.Write("with space.asp", kSig);
  tree_.Write("caf\xc3\xa9 \xe9.php", kSig);
  tree_.Write(".hidden.vbs", kSig);
  EXPECT_EQ(Scan(), (List{P(deep + "deep.htm"), P("with space.asp"), P("caf\xc3\xa9 \xe9.php"),
                          P(".hidden.vbs")}));
}

// The processor time this process has used so far, its own and the kernel's on its behalf.
double ProcessorSeconds() {
  rusage used{};
  getrusage(RUSAGE_SELF, &used);
  return static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
         static_cast<double>(used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
}

// Many pages in a folder whose path is past PATH_MAX: the folder is walked down once for all of
// them, not once for every page, so they cost about what they cost near the root.
TEST_F(ScanBadInputTest, ManyPagesFarDownCostNoMoreThanNearTheRoot) {
  constexpr int kPages = 3000;
  const auto scan_seconds = [this](int dir) {
    for (int page = 0; page < kPages; ++page) {
      close(openat(dir, ("p" + std::to_string(page) + ".htm").c_str(), O_WRONLY | O_CREAT, 0644));
    }
    close(dir);
    // Processor time, not the clock: a busy machine slows both scans alike but not this.
    const double started = ProcessorSeconds();
    EXPECT_EQ(Scan(), List{});
    return ProcessorSeconds() - started;
  };
  ASSERT_EQ(mkdir(P("near").c_str(), 0755), 0);
  const double near = scan_seconds(open(P("near").c_str(), O_RDONLY | O_DIRECTORY));
  std::filesystem::remove_all(P("near"));
  int dir = open(tree_.root().c_str(), O_RDONLY | O_DIRECTORY);
  for (int depth = 0; depth < 500; ++depth) {
    ASSERT_EQ(mkdirat(dir, "folder-of-depth", 0755), 0);
    const int next = openat(dir, "folder-of-depth", O_RDONLY | O_DIRECTORY);
    close(dir);
    dir = next;
  }
  const double far_down = scan_seconds(dir);
  // Deeper than the test tree's own clean-up reaches.
  EXPECT_EQ(std::system(("rm -rf '" + P("folder-of-depth") + "'").c_str()), 0);
  // Walked down for every page, they took 50 times as long and more.
  EXPECT_LT(far_down, 10 * near + 3.0) << "processor seconds near the root: " << near;
}

// The window is given its turn in every folder, an empty one too: a walk through many empty
// folders neither freezes the window nor misses a close.
TEST_F(ScanBadInputTest, AWalkThroughEmptyFoldersGivesTheWindowItsTurns) {
  constexpr int kFolders = 300;
  for (int folder = 0; folder < kFolders; ++folder) {
    std::filesystem::create_directories(P("a/e" + std::to_string(folder)));
  }
  EXPECT_EQ(Scan(), List{});
  // Once for each entry of "a" and once in each empty folder; before, only the former.
  EXPECT_GE(window_.yields, 2 * kFolders);
}

TEST_F(ScanBadInputTest, BinaryFileWithTheSignatureOnALineIsFlagged) {
  std::string binary;
  for (int i = 0; i < 100000; ++i) binary += static_cast<char>((i * 7919) % 251);
  tree_.Write("bin.htm", binary + "\n" + kSig + "\r\n" + binary);
  EXPECT_EQ(Scan(), (List{P("bin.htm")}));
}

// A sparse file far larger than the buffers: read through in blocks, in constant memory.
TEST_F(ScanBadInputTest, HugeSparseCandidateIsReadInConstantMemory) {
  const off_t size = (off_t{2} << 30) + 12345;  // past every 32-bit offset
  const int fd = open(P("huge.htm").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  const std::string tail = "\n" + kSig + "\n";
  ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), size), static_cast<ssize_t>(tail.size()));
  close(fd);
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  EXPECT_EQ(Scan(), (List{P("huge.htm")}));
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "KiB of peak memory added";
}

}  // namespace
}  // namespace quelix
