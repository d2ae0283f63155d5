// Both Linux watches (inotify, and fanotify where this process may use it) against a tree's owner
// who swaps folders for links between an event and the watch's look at it, and beside writers
// elsewhere on the same file system: the watch never tells, watches or lists what lies outside
// the tree, and a folder of the tree keeps its own name in what the watch tells.
#include "platform/posix/posix_watchers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "tests/support/temp_tree.h"

namespace quelix {
namespace {
namespace fs = std::filesystem;

struct Swap {
  const char* name;
  std::function<void(const TempTree& tree, const TempTree& outside)> before;
  // Runs once the watch has started; the watch reads its events only after it.
  std::function<void(const TempTree& tree, const TempTree& outside)> during;
};

// Everything the watch has to tell now (the system queued it before Wait is called).
std::vector<WatchEvent> Told(Watcher& watcher) {
  std::vector<WatchEvent> events;
  EXPECT_TRUE(watcher.Wait(std::chrono::milliseconds(1000), &events).ok());
  return events;
}

// The watchers this process can have, by name.
std::vector<std::pair<std::string, std::function<std::unique_ptr<Watcher>()>>> Backends() {
  std::vector<std::pair<std::string, std::function<std::unique_ptr<Watcher>()>>> backends{
      {"inotify", [] { return CreateInotifyWatcher(); }}};
  TempTree probe;
  std::unique_ptr<PollableWatcher> fanotify = CreateFanotifyWatcher();
  if (fanotify && fanotify->Add(probe.Root()).ok()) {
    backends.emplace_back("fanotify", [] { return CreateFanotifyWatcher(); });
  } else {
    std::printf("fanotify is refused to this process: only inotify is tested\n");
  }
  return backends;
}

// Runs `swap` against `watcher`: nothing it tells names a page outside the tree, and a page then
// written in the tree is told alone, under its own name.
void Expect(std::unique_ptr<Watcher> watcher, const Swap& swap) {
  TempTree tree;
  TempTree outside;
  tree.MakeDirectory("site");
  tree.MakeDirectory("pages");
  swap.before(tree, outside);
  ASSERT_TRUE(watcher->Add(tree.Root()).ok());
  swap.during(tree, outside);
  for (const WatchEvent& event : Told(*watcher)) {
    EXPECT_NE(event.name, "other.htm") << event.folder;
  }
  // A page then written in a folder of the tree is told under the folder's own name.
  tree.Write("pages/a.htm", "x");
  const std::vector<WatchEvent> events = Told(*watcher);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].folder + events[0].name, tree.Path("pages/a.htm"));
}

TEST(PosixWatchersTest, NothingOutsideTheTreeIsTold) {
  const Swap swaps[] = {
      {"made, then swapped for a link to another site",
       [](const TempTree&, const TempTree& o) { o.Write("inner/other.htm", "x"); },
       [](const TempTree& t, const TempTree& o) {
         t.MakeDirectory("x");
         fs::remove(t.root() / "x");
         fs::create_directory_symlink(o.root(), t.root() / "x");
       }},
      {"made, then swapped for a link to the top of the tree",
       [](const TempTree&, const TempTree&) {},
       [](const TempTree& t, const TempTree&) {
         t.MakeDirectory("x");
         fs::remove(t.root() / "x");
         fs::create_directory_symlink(t.root(), t.root() / "x");
       }},
      {"made in a folder that is then swapped for a link to another site",
       [](const TempTree&, const TempTree& o) { o.Write("inner/other.htm", "x"); },
       [](const TempTree& t, const TempTree& o) {
         t.MakeDirectory("site/inner");
         fs::rename(t.root() / "site", t.root() / "moved");
         fs::create_directory_symlink(o.root(), t.root() / "site");
       }},
      {"written outside the tree on the same file system", [](const TempTree&, const TempTree&) {},
       [](const TempTree&, const TempTree& o) {
         o.Write("inner/other.htm", "x");
         o.Write("inner/other.htm", "y");
       }},
      {"moved into a folder outside the tree",
       [](const TempTree& t, const TempTree& o) {
         t.Write("out/other.htm", "x");
         o.MakeDirectory("inner");
       },
       [](const TempTree& t, const TempTree& o) {
         fs::rename(t.root() / "out", o.root() / "inner" / "out");
         o.Write("inner/out/other.htm", "y");
       }},
  };
  for (const auto& [backend, create] : Backends()) {
    for (const Swap& swap : swaps) {
      SCOPED_TRACE(backend + ": " + swap.name);
      Expect(create(), swap);
    }
  }
}
// A folder moved out, written in there (the watch reads that while it is out) and moved back: what
// it holds is told once it is back, and what is written in it then.
TEST(PosixWatchersTest, AFolderMovedOutAndBackIsFollowedAgain) {
  for (const auto& [backend, create] : Backends()) {
    SCOPED_TRACE(backend);
    TempTree tree;
    TempTree outside;
    tree.MakeDirectory("pages");
    const std::unique_ptr<Watcher> watcher = create();
    ASSERT_TRUE(watcher->Add(tree.Root()).ok());
    fs::rename(tree.root() / "pages", outside.root() / "pages");
    outside.Write("pages/b.htm", "x");
    EXPECT_TRUE(Told(*watcher).empty());
    fs::rename(outside.root() / "pages", tree.root() / "pages");
    std::vector<WatchEvent> events = Told(*watcher);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].folder + events[0].name, tree.Path("pages/b.htm"));
    tree.Write("pages/a.htm", "x");
    events = Told(*watcher);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].folder + events[0].name, tree.Path("pages/a.htm"));
  }
}

}  // namespace
}  // namespace quelix
