// While the walk waits for the listing of the folder it has come to, the helpers list that folder
// and what comes before it, the others wait within the lead and the bytes held like at any time,
// and the window has its turns.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/folder_read_ahead.h"
#include "engine/tree.h"
#include "tests/support/fake_window.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

// Whether every other thread of this process sleeps (waits for a lock, a condition, a turn).
bool OthersAsleep() {
  const std::string self = std::to_string(::gettid());
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    if (task.path().filename() == self) continue;
    std::ifstream stat(task.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t name_end = line.rfind(')');
    if (name_end == std::string::npos || name_end + 2 >= line.size()) continue;  // gone
    if (line[name_end + 2] != 'S') return false;
  }
  return true;
}

// A gate one thread waits at until another opens it.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool reached = false;
  bool open = false;

  void Hold() {
    std::unique_lock<std::mutex> lock(mutex);
    reached = true;
    changed.notify_all();
    changed.wait(lock, [this] { return open; });
  }
  void AwaitReached() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return reached; });
  }
  void Open() {
    const std::lock_guard<std::mutex> lock(mutex);
    open = true;
    changed.notify_all();
  }
};

// The names of the folders in a listing's subdirectories, in its order.
std::vector<std::string> Folders(const FolderListing& listing) {
  std::vector<std::string> names;
  for (size_t at = 0; at < listing.subdirectories.size();) {
    const size_t end = listing.subdirectories.find('\0', at);
    names.push_back(listing.subdirectories.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

TEST(ListingHelpersWaitTest, OthersStayWithinTheLeadWhileTheWalkWaits) {
  TempTree tree;
  const size_t below = FolderReadAhead::kLead + 200;
  for (const char* folder : {"a", "b"}) {
    for (size_t i = 0; i < below; ++i) tree.MakeDirectory(folder + ("/c" + std::to_string(i)));
  }
  // The walk comes to the root's first folder first: its listing is held up.
  const std::string first =
      std::filesystem::directory_iterator(tree.root())->path().filename().string();
  auto native = CreateNativeFileSystem();
  FaultFileSystem fs(*native);
  fs.shared_with_helpers = true;
  std::atomic<size_t> lists{0};
  fs.before = [&lists](const FsCall& call) {
    if (call.op == FsOp::kList) ++lists;
  };
  Gate gate;
  fs.listed_entry = [&gate, slow = tree.Path(first) + "/"](const std::string& folder,
                                                           const DirEntry&) {
    if (folder == slow) gate.Hold();
  };
  SearchedTree searched(fs);
  ASSERT_TRUE(searched.Open(tree.Root()).ok());
  const Exclusion none;
  size_t taken = 0;
  {
    FolderReadAhead read_ahead(searched, none);
    // The walk's order: a folder, then each of its subfolders and all below it.
    const std::function<void(const std::string&)> walk = [&](const std::string& relative) {
      FolderListing listing;
      if (!read_ahead.Take(relative, &listing)) return;
      ++taken;
      for (const std::string& name : Folders(listing)) {
        walk(relative.empty() ? name : relative + "/" + name);
      }
    };
    std::thread walker([&] { walk(""); });
    gate.AwaitReached();
    // Until the helpers rest: every other thread asleep and no folder listed meanwhile, at three
    // looks in a row.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int quiet = 0; quiet < 3 && std::chrono::steady_clock::now() < deadline;) {
      const size_t before = lists.load();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      quiet = OthersAsleep() && lists.load() == before ? quiet + 1 : 0;
    }
    // The root and the first folder, and at most the lead after the one folder the walk took.
    EXPECT_LE(lists.load(), 2 + FolderReadAhead::kLead);
    gate.Open();
    walker.join();
  }
  fs.EndHooks();
  EXPECT_EQ(taken, 2 * below + 3);
}

// A listing held up halfway has given the window a turn for each entry looked at before, as the
// walk's own listing would; the walk ends once the window closes.
TEST(ListingHelpersWaitTest, TheWindowHasItsTurnsWhileAHelperLists) {
  TempTree tree;
  const size_t step = FolderReadAhead::kProgressStep;
  for (size_t i = 0; i < 3 * step; ++i) tree.Write("big/f" + std::to_string(i) + ".txt", "");
  auto native = CreateNativeFileSystem();
  FaultFileSystem fs(*native);
  fs.shared_with_helpers = true;
  std::mutex mutex;
  std::condition_variable turned;
  size_t turns = 0;
  bool turns_while_held = false;
  size_t looked = 0;  // by the one helper that lists "big"
  fs.listed_entry = [&, big = tree.Path("big") + "/"](const std::string& folder, const DirEntry&) {
    if (folder != big || ++looked != step + 1) return;
    // The root's one entry, and this folder's first step. Not for ever, where the window
    // has no turn: the test then fails instead of hanging.
    std::unique_lock<std::mutex> lock(mutex);
    turns_while_held =
        turned.wait_for(lock, std::chrono::seconds(30), [&] { return turns >= 1 + step; });
  };
  FakeWindow window;
  window.root = tree.Root();
  window.on_yield = [&](int) {
    const std::lock_guard<std::mutex> lock(mutex);
    turned.notify_all();
    return ++turns < 1 + step;  // the window closes at that turn
  };
  Engine engine(window, window, fs, CreateNativeRegistry);
  EXPECT_FALSE(engine.ScanCommand());
  fs.EndHooks();
  window.EndHooks();
  EXPECT_TRUE(turns_while_held);
}

}  // namespace
}  // namespace quelix
