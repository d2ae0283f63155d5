// A save whose open is held up by an on-access scanner: the open has counted as a writer of the
// page, but has not yet broken the cleaner's lease, when the cleaner decides.
#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "engine/signature.h"
#include "tests/support/remove_fixture.h"

namespace quelix {
namespace {

// Lets every open of one file go on at once, but for the opens of thread `held_tid`, held until
// Release(), as a scanner holds an open while it reads the file.
class OpenScanner {
 public:
  explicit OpenScanner(const std::string& path) {
    fan_ = fanotify_init(FAN_CLASS_CONTENT | FAN_REPORT_TID | FAN_CLOEXEC, O_RDONLY);
    marked_ =
        fan_ >= 0 && fanotify_mark(fan_, FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD, path.c_str()) == 0;
    if (marked_) loop_ = std::thread([this] { Run(); });
  }
  ~OpenScanner() {
    Release();
    stop_ = true;
    if (loop_.joinable()) loop_.join();
    if (fan_ >= 0) close(fan_);
  }
  bool marked() const { return marked_; }
  std::atomic<pid_t> held_tid{0};
  std::atomic<bool> holding{false};
  void Release() { release_ = true; }

 private:
  void Answer(int fd) {
    fanotify_response response{fd, FAN_ALLOW};
    if (write(fan_, &response, sizeof response) < 0) ADD_FAILURE() << "fanotify answer";
    close(fd);
  }
  void Run() {
    int held = -1;
    while (!stop_ || held >= 0) {
      if (release_ && held >= 0) Answer(std::exchange(held, -1));
      pollfd ready{fan_, POLLIN, 0};
      if (poll(&ready, 1, 10) <= 0) continue;
      char buffer[4096];
      ssize_t got = read(fan_, buffer, sizeof buffer);
      for (auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
           FAN_EVENT_OK(event, got); event = FAN_EVENT_NEXT(event, got)) {
        if (event->pid != held_tid || held >= 0 || release_) {
          Answer(event->fd);
          continue;
        }
        held = event->fd;
        holding = true;
      }
    }
  }
  int fan_ = -1;
  bool marked_ = false;
  std::atomic<bool> release_{false};
  std::atomic<bool> stop_{false};
  std::thread loop_;
};

// Whether the file `path` has a lease on it now (the cleaner holds it).
bool Leased(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  const std::string inode = ":" + std::to_string(st.st_ino) + " ";
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    if (line.find("LEASE") != std::string::npos && line.find(inode) != std::string::npos)
      return true;
  }
  return false;
}

// Waits, with a generous limit, until `done`.
bool WaitFor(const std::function<bool()>& done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::yield();
  }
  return true;
}

class HeldOpenTest : public RemoveFixture {};

// The site opens the page to save it once the cleaner holds it; a scanner holds that open until
// the removal is over (the open counts as a writer of the page by then, but has not yet met the
// cleaner's lease). The save ends at the page's name, and the page is not reported cleaned.
TEST_F(HeldOpenTest, ASaveWhoseOpenAScannerHoldsUpIsNotLost) {
  if (geteuid() != 0) GTEST_SKIP() << "a scanner of opens runs as root";
  std::string body;
  for (int i = 0; i < 3000; ++i) body += "<p>line " + std::to_string(i) + "</p>\r\n";
  tree_.Write("page.htm", "<html>\r\n" + MarkerLine() + "\r\n" + body + SignatureLine() + "\r\n");
  Scan();
  OpenScanner scanner(P("page.htm"));
  if (!scanner.marked()) GTEST_SKIP() << "this kernel holds no opens for a scanner";
  const std::string saved = "<html><p>the site's new version</p></html>\r\n";
  std::thread site([&] {
    ASSERT_TRUE(WaitFor([&] { return Leased(P("page.htm")); })) << "the page was never held";
    scanner.held_tid = gettid();
    const int fd = open(P("page.htm").c_str(), O_WRONLY | O_TRUNC);
    EXPECT_EQ(write(fd, saved.data(), saved.size()), static_cast<ssize_t>(saved.size()));
    close(fd);
  });
  // The cleaner's last steps wait until the scanner holds the site's open.
  fs_.before = [&](const FsCall& call) {
    if (call.op == FsOp::kReplace) {
      EXPECT_TRUE(WaitFor([&] { return scanner.holding.load(); })) << "the open never came";
    }
  };
  Remove();
  scanner.Release();
  site.join();
  EXPECT_EQ(tree_.Read("page.htm"), saved);
  ASSERT_EQ(engine().removal().files.size(), 1u);
  EXPECT_FALSE(engine().removal().files[0].result.cleaned);
}

}  // namespace
}  // namespace quelix
