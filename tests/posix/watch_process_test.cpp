// `quelix watch` as its own process on a real tree, the way a server runs it: what lands in the
// tree is found, or cleaned, within a second; a burst of writes to one file is checked once;
// folders made, filled or moved in are followed; a stop ends it with every file whole; and a
// large tree costs it little memory. Each runs with both Linux watches: inotify, which an
// unprivileged user gets, and fanotify, which root gets (or a user with CAP_SYS_ADMIN and
// CAP_DAC_READ_SEARCH, as here, so that the state folder stays the test's).
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/fanotify.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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

enum class Backend { kInotify, kFanotify };

const char* NameOf(Backend backend) {
  return backend == Backend::kFanotify ? "fanotify" : "inotify";
}

// The watches to run the rows with: fanotify only where this process may hand it on.
std::vector<Backend> Backends() {
  if (geteuid() == 0) {
    const int probe = fanotify_init(FAN_CLASS_NOTIF | FAN_REPORT_DFID_NAME | FAN_CLOEXEC, O_RDONLY);
    if (probe >= 0) {
      close(probe);
      return {Backend::kInotify, Backend::kFanotify};
    }
  }
  std::printf("fanotify is refused here (not root, or no CAP_SYS_ADMIN): its rows are skipped\n");
  return {Backend::kInotify};
}

// Becomes kProcessUser, keeping what fanotify needs (CAP_SYS_ADMIN for the mark,
// CAP_DAC_READ_SEARCH to open the folders it reports) through exec; false where refused.
bool BecomeUserWithFanotify() {
  if (prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0 || setgroups(0, nullptr) != 0 ||
      setgid(kProcessUser) != 0 || setuid(kProcessUser) != 0) {
    return false;
  }
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct caps[2]{};
  const uint32_t kept = (1u << CAP_SYS_ADMIN) | (1u << CAP_DAC_READ_SEARCH);
  caps[0].effective = caps[0].permitted = caps[0].inheritable = kept;
  return syscall(SYS_capset, &header, caps) == 0 &&
         prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_SYS_ADMIN, 0, 0) == 0 &&
         prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_DAC_READ_SEARCH, 0, 0) == 0;
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

// quelix watch with `args`, kept by `backend`.
class Watching : public QuelixProcess {
 public:
  Watching(Backend backend, const TempTree& state, std::vector<std::string> args)
      : QuelixProcess(state, WatchArgs(std::move(args)),
                      backend == Backend::kFanotify ? BecomeUserWithFanotify : nullptr),
        backend_(backend) {}

  // Waits until the watch says on standard error that it watches; false where it did not, or
  // said it watches another way than asked for.
  bool Started() const {
    if (!SaysOnError("quelix: watching ") || !SaysOnError(")\n")) return false;
    const std::string said = Errors();
    return said.find(std::string(NameOf(backend_)) + ")\n", said.find("quelix: watching ")) !=
           std::string::npos;
  }
  // Sends `signal` and returns the exit status.
  int Stop(int signal) {
    Signal(signal);
    return Wait();
  }

 private:
  static std::vector<std::string> WatchArgs(std::vector<std::string> args) {
    args.insert(args.begin(), "watch");
    return args;
  }

  Backend backend_;
};

// What a tree comes to before the watch and while it runs.
struct Arrival {
  const char* name;
  std::function<void(const TempTree& tree, const TempTree& outside)> before;
  std::function<void(const TempTree& tree, const TempTree& outside)> during;
  const char* infected;  // below the tree, as the watch names it
};

// The page of `arrival` arrives in a watched tree; with `remove`, it is cleaned.
void Arrive(Backend backend, const Arrival& arrival, bool remove) {
  TempTree tree;
  TempTree outside;
  TempTree state;
  arrival.before(tree, outside);
  GiveAway(tree.root());
  GiveAway(state.root());
  std::vector<std::string> args{"--no-log", tree.Root()};
  if (remove) args.insert(args.begin(), "--remove");
  Watching watch(backend, state, args);
  ASSERT_TRUE(watch.Started()) << watch.Errors();
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
  EXPECT_EQ(watch.Stop(SIGTERM), remove ? 0 : 1) << watch.Errors();
}

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
  for (const Backend backend : Backends()) {
    for (const Arrival& arrival : arrivals) {
      // Without --remove the same check follows whichever watch told: once is enough.
      for (const bool remove : {false, true}) {
        if (backend == Backend::kFanotify && !remove) continue;
        SCOPED_TRACE(std::string(NameOf(backend)) + ": " + arrival.name +
                     (remove ? " --remove" : ""));
        Arrive(backend, arrival, remove);
      }
    }
  }
}

// A page written twice within a moment is one change: one line for it. The next page's line
// comes after it, so nothing of the first was still to come.
TEST(WatchProcessTest, APageWrittenTwiceInABurstIsCheckedOnce) {
  for (const Backend backend : Backends()) {
    SCOPED_TRACE(NameOf(backend));
    TempTree tree;
    TempTree state;
    GiveAway(tree.root());
    GiveAway(state.root());
    Watching watch(backend, state, {"--no-log", tree.Root()});
    ASSERT_TRUE(watch.Started()) << watch.Errors();
    Upload(tree.Path("a.htm"), kInfected);
    Upload(tree.Path("a.htm"), kInfected);
    std::string line;
    ASSERT_TRUE(watch.ReadLine(&line)) << watch.Errors();
    EXPECT_EQ(line, tree.Path("a.htm"));
    Upload(tree.Path("b.htm"), kInfected);
    ASSERT_TRUE(watch.ReadLine(&line)) << watch.Errors();
    EXPECT_EQ(line, tree.Path("b.htm"));
    EXPECT_EQ(watch.Stop(SIGINT), 1);
  }
}

// SIGTERM while pages are being cleaned: every page is either as it was or cleaned, none half
// written, no copy left beside it; and the exit status does not call the tree clean.
void StopMidClean(Backend backend) {
  TempTree tree;
  TempTree state;
  GiveAway(tree.root());
  GiveAway(state.root());
  Watching watch(backend, state, {"--remove", "--no-log", tree.Root()});
  ASSERT_TRUE(watch.Started()) << watch.Errors();
  constexpr int kPages = 400;
  const std::string big = std::string(200000, 'x') + "\r\n" + kInfected;
  for (int i = 0; i < kPages; ++i) Upload(tree.Path("p" + std::to_string(i) + ".htm"), big);
  std::string line;
  ASSERT_TRUE(watch.ReadLine(&line)) << watch.Errors();  // kept
  ASSERT_TRUE(watch.ReadLine(&line)) << watch.Errors();  // the first cleaned
  const int status = watch.Stop(SIGTERM);
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

TEST(WatchProcessTest, SigtermMidCleanLeavesEveryPageWhole) {
  for (const Backend backend : Backends()) {
    SCOPED_TRACE(NameOf(backend));
    StopMidClean(backend);
  }
}

// SIGTERM while changes wait to settle, as systemd stops a busy server's watch: each file is
// named, and the status is the one a stop has (the unit counts it as a clean stop).
TEST(WatchProcessTest, SigtermWithChangesNotYetCheckedNamesThemAndExits130) {
  struct Form {
    const char* option;
    std::string out;  // how the line naming the page begins on standard output, "" for none
  };
  for (const Backend backend : Backends()) {
    for (const Form& form :
         {Form{"--no-log", ""}, Form{"--json", R"({"event":"not_checked","path":")"}}) {
      SCOPED_TRACE(std::string(NameOf(backend)) + " " + form.option);
      TempTree tree;
      TempTree state;
      GiveAway(tree.root());
      GiveAway(state.root());
      Watching watch(backend, state, {"--remove", "--no-log", form.option, tree.Root()});
      ASSERT_TRUE(watch.Started()) << watch.Errors();
      std::string line;
      if (!form.out.empty()) {
        ASSERT_TRUE(watch.ReadLine(&line));  // watching
      }
      // Well within the time the change takes to settle.
      Upload(tree.Path("a.htm"), kInfected);
      EXPECT_EQ(watch.Stop(SIGTERM), 130) << watch.Errors();
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
// with the folders (inotify) or not at all (fanotify), not with the files.
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
  for (const Backend backend : Backends()) {
    SCOPED_TRACE(NameOf(backend));
    Watching watch(backend, state, {"--no-log", tree.Root()});
    ASSERT_TRUE(watch.Started()) << watch.Errors();
    if (backend == Backend::kInotify) {
      EXPECT_NE(watch.Errors().find("(101 folders, inotify)"), std::string::npos) << watch.Errors();
    }
    const std::string page = std::string("f99/z-") + NameOf(backend) + ".htm";
    Upload(tree.Path(page), kInfected);
    std::string line;
    ASSERT_TRUE(watch.ReadLine(&line)) << watch.Errors();
    EXPECT_EQ(line, tree.Path(page));
    const long peak = PeakKib(watch.pid());
    std::printf("VmHWM of a %s watch over 100 000 files in 101 folders: %ld KiB\n", NameOf(backend),
                peak);
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 32 * 1024);
    EXPECT_EQ(watch.Stop(SIGTERM), 1);
  }
}

}  // namespace
}  // namespace quelix
