// `quelix watch` as its own process on a real tree, the way a server runs it: what lands in the
// tree is found, or cleaned, within a second; a burst of writes to one file is checked once;
// folders made, filled or moved in are followed; a stop ends it with every file whole; and a
// large tree costs it little memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/signature.h"
#include "tests/posix/quelix_process.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kInfected = "page\r\n" + MarkerLine() + "\r\n" + SignatureLine() + "\r\n";
const std::string kCleaned = "page\r\n";

// quelix watch with `args`.
std::vector<std::string> Watch(std::vector<std::string> args) {
  args.insert(args.begin(), "watch");
  return args;
}

// Writes `content` into `path` as a program that uploads pages does: open, write, close.
void Upload(const std::string& path, const std::string& content) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  GiveAway(fd);
  ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  close(fd);
}

void MakeFolder(const std::string& path) {
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY);
  GiveAway(fd);
  close(fd);
}

// Ends the watch with `signal`; its exit status.
int Stop(QuelixProcess& watch, int signal) {
  watch.Signal(signal);
  return watch.Wait();
}

// What a tree comes to before the watch and while it runs.
struct Arrival {
  const char* name;
  std::function<void(const TempTree& tree, const TempTree& outside)> before;
  std::function<void(const TempTree& tree, const TempTree& outside)> during;
  const char* infected;  // below the tree, as the watch names it
};

// Each way a page reaches a watched tree: found, and with --remove cleaned, within one second.
TEST(WatchProcessTest, APageThatArrivesIsFoundOrCleanedWithinASecond) {
  const Arrival arrivals[] = {
      {"written", [](const TempTree&, const TempTree&) {},
       [](const TempTree& t, const TempTree&) { Upload(t.Path("a.htm"), kInfected); }, "a.htm"},
      {"in a folder made after the start", [](const TempTree&, const TempTree&) {},
       [](const TempTree& t, const TempTree&) {
         MakeFolder(t.Path("new"));
         MakeFolder(t.Path("new/deeper"));
         Upload(t.Path("new/deeper/b.php"), kInfected);
       },
       "new/deeper/b.php"},
      {"in a folder filled elsewhere and moved in",
       [](const TempTree&, const TempTree& o) { o.Write("site/inner/c.html", kInfected); },
       [](const TempTree& t, const TempTree& o) {
         GiveAway(o.root() / "site");
         fs::rename(o.root() / "site", t.root() / "site");
       },
       "site/inner/c.html"},
      {"in a folder moved out and back in",
       [](const TempTree& t, const TempTree&) { t.Write("away/d.asp", "<p>clean</p>"); },
       [](const TempTree& t, const TempTree& o) {
         fs::rename(t.root() / "away", o.root() / "away");
         Upload(o.Path("away/d.asp"), kInfected);
         fs::rename(o.root() / "away", t.root() / "away");
       },
       "away/d.asp"},
  };
  for (const Arrival& arrival : arrivals) {
    for (const bool remove : {false, true}) {
      SCOPED_TRACE(std::string(arrival.name) + (remove ? " --remove" : ""));
      TempTree tree;
      TempTree outside;
      TempTree state;
      arrival.before(tree, outside);
      GiveAway(tree.root());
      GiveAway(state.root());
      std::vector<std::string> args{"--no-log", tree.Root()};
      if (remove) args.insert(args.begin(), "--remove");
      QuelixProcess watch(state, Watch(args));
      ASSERT_TRUE(watch.SaysOnError("quelix: watching ")) << watch.Errors();
      const Clock::time_point written = Clock::now();
      arrival.during(tree, outside);
      std::string line;
      if (remove) {
        ASSERT_TRUE(watch.ReadLine(&line)) << watch.Errors();
        EXPECT_EQ(line.rfind("kept ", 0), 0u) << line;
      }
      ASSERT_TRUE(watch.ReadLine(&line)) << watch.Errors();
      const auto delay = Clock::now() - written;
      EXPECT_EQ(line, (remove ? "cleaned " : "") + tree.Path(arrival.infected));
      EXPECT_LT(delay, std::chrono::seconds(1));
      EXPECT_EQ(tree.Read(arrival.infected), remove ? kCleaned : kInfected);
      EXPECT_EQ(Stop(watch, SIGTERM), remove ? 0 : 1) << watch.Errors();
    }
  }
}

// A page written twice within a moment is one change: one line for it. The next page's line
// comes after it, so nothing of the first was still to come.
TEST(WatchProcessTest, APageWrittenTwiceInABurstIsCheckedOnce) {
  TempTree tree;
  TempTree state;
  GiveAway(tree.root());
  GiveAway(state.root());
  QuelixProcess watch(state, Watch({"--no-log", tree.Root()}));
  ASSERT_TRUE(watch.SaysOnError("quelix: watching ")) << watch.Errors();
  Upload(tree.Path("a.htm"), kInfected);
  Upload(tree.Path("a.htm"), kInfected);
  std::string line;
  ASSERT_TRUE(watch.ReadLine(&line)) << watch.Errors();
  EXPECT_EQ(line, tree.Path("a.htm"));
  Upload(tree.Path("b.htm"), kInfected);
  ASSERT_TRUE(watch.ReadLine(&line)) << watch.Errors();
  EXPECT_EQ(line, tree.Path("b.htm"));
  EXPECT_EQ(Stop(watch, SIGINT), 1);
}

// SIGTERM while pages are being cleaned: every page is either as it was or cleaned, none half
// written, no copy left beside it; and the exit status does not call the tree clean.
TEST(WatchProcessTest, SigtermMidCleanLeavesEveryPageWhole) {
  TempTree tree;
  TempTree state;
  GiveAway(tree.root());
  GiveAway(state.root());
  QuelixProcess watch(state, Watch({"--remove", "--no-log", tree.Root()}));
  ASSERT_TRUE(watch.SaysOnError("quelix: watching ")) << watch.Errors();
  constexpr int kPages = 400;
  const std::string big = std::string(200000, 'x') + "\r\n" + kInfected;
  for (int i = 0; i < kPages; ++i) Upload(tree.Path("p" + std::to_string(i) + ".htm"), big);
  std::string line;
  ASSERT_TRUE(watch.ReadLine(&line)) << watch.Errors();  // kept
  ASSERT_TRUE(watch.ReadLine(&line)) << watch.Errors();  // the first cleaned
  const int status = Stop(watch, SIGTERM);
  int cleaned = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(tree.root())) {
    const std::string name = entry.path().filename().string();
    const std::string content = tree.Read(name);
    EXPECT_TRUE(content == big || content == std::string(200000, 'x') + "\r\n" + kCleaned)
        << name << " is neither original nor cleaned";
    cleaned += content == big ? 0 : 1;
  }
  EXPECT_GE(cleaned, 1);
  EXPECT_LT(cleaned, kPages) << "the stop came after everything was done";
  EXPECT_NE(status, 0) << "pages left infected, yet the exit status says all is well";
  // Each page left infected is named: found and not cleaned, or changed and not checked.
  const std::string errors = watch.Errors();
  for (int i = 0; i < kPages; ++i) {
    const std::string page = tree.Path("p" + std::to_string(i) + ".htm");
    if (tree.Read("p" + std::to_string(i) + ".htm") != big) continue;
    EXPECT_TRUE(errors.find("quelix: could not clean " + page + ": the watch was stopped\n") !=
                    std::string::npos ||
                errors.find("quelix: not checked (the watch was stopped): " + page + "\n") !=
                    std::string::npos)
        << page << " left infected without a word";
  }
}

// SIGTERM while changes wait to settle, as systemd stops a busy server's watch: each file is
// named, and the status is the one a stop has (the unit counts it as a clean stop).
TEST(WatchProcessTest, SigtermWithChangesNotYetCheckedNamesThemAndExits130) {
  struct Form {
    const char* option;
    std::string out;  // how the line naming the page begins on standard output, "" for none
  };
  for (const Form& form :
       {Form{"--no-log", ""}, Form{"--json", R"({"event":"not_checked","path":")"}}) {
    SCOPED_TRACE(form.option);
    TempTree tree;
    TempTree state;
    GiveAway(tree.root());
    GiveAway(state.root());
    QuelixProcess watch(state, Watch({"--remove", "--no-log", form.option, tree.Root()}));
    ASSERT_TRUE(watch.SaysOnError("quelix: watching ")) << watch.Errors();
    std::string line;
    if (!form.out.empty()) {
      ASSERT_TRUE(watch.ReadLine(&line));  // watching
    }
    // Well within the time the change takes to settle.
    Upload(tree.Path("a.htm"), kInfected);
    EXPECT_EQ(Stop(watch, SIGTERM), 130) << watch.Errors();
    EXPECT_NE(watch.Errors().find(
                  "quelix: not checked (the watch was stopped): " + tree.Path("a.htm") + "\n"),
              std::string::npos)
        << watch.Errors();
    if (!form.out.empty()) {
      ASSERT_TRUE(watch.ReadLine(&line)) << watch.Errors();
      EXPECT_EQ(line, form.out + tree.Path("a.htm") + R"(","reason":"the watch was stopped"})");
    }
    EXPECT_EQ(tree.Read("a.htm"), kInfected);
  }
}

// The VmHWM of a process, in KiB.
long PeakKib(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// 100 000 files in 100 folders (hard links, to be quick): watched with a few MiB, as memory grows
// with the folders, not the files.
TEST(WatchProcessTest, AHundredThousandFilesAreWatchedInLittleMemory) {
  TempTree tree;
  TempTree state;
  for (int folder = 0; folder < 100; ++folder) {
    // A file takes at most 65 000 names on ext4: each folder's pages are names of its own page.
    const std::string name = "f" + std::to_string(folder);
    tree.Write(name + "/p0.htm", "<p>clean</p>");
    for (int i = 1; i < 1000; ++i) {
      const std::string other = tree.Path(name + "/p" + std::to_string(i) + ".htm");
      ASSERT_EQ(link(tree.Path(name + "/p0.htm").c_str(), other.c_str()), 0);
    }
  }
  GiveAway(tree.root());
  GiveAway(state.root());
  QuelixProcess watch(state, Watch({"--no-log", tree.Root()}));
  ASSERT_TRUE(watch.SaysOnError("quelix: watching ")) << watch.Errors();
  Upload(tree.Path("f99/z.htm"), kInfected);
  std::string line;
  ASSERT_TRUE(watch.ReadLine(&line)) << watch.Errors();
  const long peak = PeakKib(watch.pid());
  std::printf("VmHWM of a watch over 100 000 files in 101 folders: %ld KiB\n", peak);
  EXPECT_GT(peak, 0);
  EXPECT_LT(peak, 32 * 1024);
  EXPECT_NE(watch.Errors().find("(101 folders, inotify)"), std::string::npos) << watch.Errors();
  EXPECT_EQ(Stop(watch, SIGTERM), 1);
}

}  // namespace
}  // namespace quelix
