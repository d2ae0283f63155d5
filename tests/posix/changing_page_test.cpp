// Pages that their site saves while they are cleaned: whatever step of the cleaning the save
// meets, the page ends as the site saved it, never cut, and is not reported cleaned.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/restore.h"
#include "engine/signature.h"
#include "tests/posix/as_user.h"
#include "tests/posix/pause_at_rename.h"
#include "tests/support/remove_fixture.h"

namespace quelix {
namespace {

const std::string kSig = SignatureLine();
const std::string kMark = MarkerLine();

// Larger than one read, so that a save can fall between two reads of the same pass.
std::string Body() {
  std::string body;
  for (int i = 0; i < 3000; ++i) body += "<p>line " + std::to_string(i) + " of the page</p>\r\n";
  return body;
}
const std::string kCleaned = "<html>\r\n" + Body();
const std::string kInfected = "<html>\r\n" + kMark + "\r\n" + Body() + kSig + "\r\n";

void WriteAll(int fd, const std::string& text) {
  EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
}

// Whether thread `tid` of this process waits in an open for a lease to be let go.
bool WaitsOnLease(pid_t tid) {
  std::ifstream wchan("/proc/self/task/" + std::to_string(tid) + "/wchan");
  std::string where;
  return tid != 0 && std::getline(wchan, where) && where.find("break_lease") != std::string::npos;
}

// Saves a page in place as a site's program does: one open for writing (emptying the file, or
// to append), then the write, on a thread of its own. Save() returns once the save is done or its
// open waits on the cleaner's lease; the save is complete once Finish() returns.
class Saver {
 public:
  ~Saver() { Finish(); }
  void Save(const std::string& path, const std::string& text, bool append) {
    Finish();
    const int flags = O_WRONLY | (append ? O_APPEND : O_TRUNC);
    tid_ = 0;
    done_ = false;
    waiting_ = std::thread([this, path, flags, text] {
      tid_ = gettid();
      WriteAll(open(path.c_str(), flags), text);
      done_ = true;
    });
    while (!done_ && !WaitsOnLease(tid_)) std::this_thread::yield();
  }
  void Finish() {
    if (waiting_.joinable()) waiting_.join();
  }

 private:
  std::thread waiting_;
  std::atomic<pid_t> tid_{0};
  std::atomic<bool> done_{false};
};

struct SaveCase {
  const char* name;
  bool append;
  std::string text;   // what the site writes
  std::string saved;  // the page once saved
};

class ChangingPageTest : public RemoveFixture {
 protected:
  // Runs Scan and Remove on a fresh page, the site saving it at the page's `at`-th call of the
  // Remove command (0: never). Returns the page's calls up to and including its replace.
  int Run(const SaveCase& save, int at, std::vector<std::string>* faults) {
    TempTree tree;
    TempTree state;
    std::filesystem::permissions(state.root(),
                                 std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
    const std::string page = tree.Path("page.htm");
    // The page as the program names it (the folder chosen, then the name).
    const auto is_page = [](const FsCall& call) { return call.path.ends_with("/page.htm"); };
    tree.Write("page.htm", kInfected);
    FakeWindow window;
    window.root = tree.root().string();
    FaultFileSystem fs(*native_);
    const auto no_registry = [](Directory&) { return std::unique_ptr<Registry>(); };
    CommandController controller(window, fs, no_registry);
    controller.KeepOriginalsIn(state.Path("backups"));
    EXPECT_EQ(controller.Scan(), CommandResult::kDone);
    fs.calls.clear();
    Saver saver;
    int seen = 0;
    fs.before = [&](const FsCall& call) {
      if (is_page(call) && ++seen == at) saver.Save(page, save.text, save.append);
    };
    controller.Remove();
    saver.Finish();
    fs.EndHooks();
    int calls = 0;
    for (const FsCall& call : fs.calls) {
      if (!is_page(call)) continue;
      ++calls;
      if (call.op == FsOp::kReplace) break;
    }
    if (at > 0) Check(save, controller.engine(), tree, state, fs, faults);
    return calls;
  }

  void Check(const SaveCase& save, const Engine& engine, const TempTree& tree,
             const TempTree& state, FileSystem& fs, std::vector<std::string>* faults) {
    const RemovalResult& result = engine.removal().files.at(0);
    if (tree.Read("page.htm") != save.saved) faults->push_back("the save was lost or cut");
    if (result.result.cleaned) faults->push_back("reported cleaned");
    if (result.result.reason != "changed while it was being cleaned" &&
        result.result.reason != "changed since the scan") {
      faults->push_back("reason: " + result.result.reason);
    }
    if (std::distance(std::filesystem::directory_iterator(tree.root()), {}) != 1) {
      faults->push_back("a copy was left behind");
    }
    if (!std::filesystem::exists(state.Path("backups"))) return;
    for (const auto& run : std::filesystem::directory_iterator(state.Path("backups"))) {
      RestoreReport report;
      // A restore that refuses is fine here: what is judged is what the page holds after it.
      IgnoreResult(RestoreRun(
                       fs, run.path().string(), [](Directory&) { return nullptr; }, &report),
                   "the page is judged");
      if (tree.Read("page.htm") != save.saved) faults->push_back("a restore put a backup back");
    }
  }
};

TEST_F(ChangingPageTest, ASaveAtAnyStepOfTheCleaningIsKeptWholeAndReported) {
  const std::string shorter = "<html><p>the site's new version</p></html>\r\n";
  const std::string added = "<p>a comment</p>\r\n";
  const std::vector<SaveCase> cases = {
      {"saved shorter in place", false, shorter, shorter},
      {"appended to", true, added, kInfected + added},
  };
  std::vector<std::string> unsaved;
  const int calls = Run(cases[0], 0, &unsaved);
  ASSERT_GT(calls, 10);  // opened, read in several parts, kept, replaced
  for (const SaveCase& save : cases) {
    for (int at = 1; at <= calls; ++at) {
      std::vector<std::string> faults;
      Run(save, at, &faults);
      for (const std::string& fault : faults) {
        ADD_FAILURE() << save.name << " at the page's call " << at << ": " << fault;
      }
    }
  }
}

// Another program has the page open for writing, so its next save would land in the replaced
// file: the page is left alone, whether root cleans it or the page's owner does.
TEST_F(ChangingPageTest, APageOpenForWritingElsewhereIsLeftAloneAsInUse) {
  if (geteuid() != 0) GTEST_SKIP() << "runs as root, and as the page's owner";
  const auto clean_while_open = [this] {
    Scan();
    const int writer = open(P("page.htm").c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    Remove();
    close(writer);
    EXPECT_EQ(tree_.Read("page.htm"), kInfected);
    ASSERT_EQ(engine().removal().files.size(), 1u);
    EXPECT_EQ(engine().removal().files[0].result.reason, "in use by another program");
  };
  tree_.Write("page.htm", kInfected);
  clean_while_open();
  for (const char* path : {"", "page.htm"}) ASSERT_EQ(chown(P(path).c_str(), 65534, 65534), 0);
  AsNobody(clean_while_open);
}

// Right before the rename that replaces the page, after the cleaner's last look, the site opens
// the page to save it, or the page's owner (the copy is theirs by then) opens the copy to write
// the virus into it: whoever opened a file writes into the one that ends at the page's name, and
// the page is not reported cleaned.
TEST_F(ChangingPageTest, AWriteAtTheReplaceIsSeen) {
  const std::string saved = "<html><p>the site's new version</p></html>\r\n";
  struct Case {
    const char* name;
    std::string written;  // into the page, else into its copy
    std::string left;     // the page at the end
  };
  const Case cases[] = {{"the site saves the page", saved, saved},
                        {"the owner writes into the copy", "", kCleaned + kSig + "\r\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tree_.Write("page.htm", kInfected);
    Scan();
    Saver saver;
    PauseAtRename(
        "page.htm", [this] { Remove(); },
        [&] {
          if (!c.written.empty()) return saver.Save(P("page.htm"), c.written, false);
          saver.Save(P("page.htmtemp"), kSig + "\r\n", true);
        });
    saver.Finish();
    EXPECT_EQ(tree_.Read("page.htm"), c.left);
    ASSERT_EQ(engine().removal().files.size(), 1u);
    EXPECT_EQ(engine().removal().files[0].result.reason, "changed while it was being cleaned");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree_.root()), {}), 1);
  }
}

// Root without the right to lease other users' files (a container's root, by default): the site
// saves the page, and a second program of the site opens the page again (at the rename, the copy
// is what that name is about to lead to; here it is reached by the copy's own name) to append to
// it, and writes a moment after the removal. Both writes end in a file that a name leads to.
TEST_F(ChangingPageTest, AnOpenOfTheCopyIsSeenWithoutTheRightToLease) {
  if (geteuid() != 0) GTEST_SKIP() << "runs as root";
  const std::string saved = "<html><p>the site's new version</p></html>\r\n";
  const std::string appended = "<p>appended by the site</p>\r\n";
  tree_.Write("page.htm", kInfected);
  for (const char* path : {"", "page.htm"}) ASSERT_EQ(chown(P(path).c_str(), 65534, 65534), 0);
  Scan();
  int late = -1;
  PauseAtRename(
      "page.htm",
      [this] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2];
        ASSERT_EQ(syscall(SYS_capget, &header, caps), 0);
        caps[CAP_LEASE / 32].effective &= ~(1u << (CAP_LEASE % 32));
        ASSERT_EQ(syscall(SYS_capset, &header, caps), 0);
        Remove();
      },
      [&] {
        WriteAll(open(P("page.htm").c_str(), O_WRONLY | O_TRUNC), saved);
        late = open(P("page.htmtemp").c_str(), O_WRONLY | O_APPEND);
      });
  ASSERT_GE(late, 0);
  WriteAll(late, appended);
  std::string everything;
  for (const auto& file : std::filesystem::directory_iterator(tree_.root()))
    everything += tree_.Read(file.path().filename().string());
  EXPECT_NE(everything.find(saved), std::string::npos) << "the site's save was lost";
  EXPECT_NE(everything.find(appended), std::string::npos) << "the later write was lost";
}

// A pipe put where an infected page was, after the scan: the removal neither waits on it nor
// reads from it.
TEST_F(ChangingPageTest, APipePutInAPagesPlaceDoesNotHoldUpTheRemoval) {
  tree_.Write("page.htm", kInfected);
  Scan();
  std::filesystem::remove(P("page.htm"));
  ASSERT_EQ(mkfifo(P("page.htm").c_str(), 0666), 0);
  Remove();
  EXPECT_TRUE(std::filesystem::is_fifo(P("page.htm")));
  ASSERT_EQ(engine().removal().files.size(), 1u);
  EXPECT_FALSE(engine().removal().files[0].result.cleaned);
}

}  // namespace
}  // namespace quelix
