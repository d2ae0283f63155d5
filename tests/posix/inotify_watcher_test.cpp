// The inotify watch against a tree's owner who swaps folders for links between an event and the
// watch's look at it: the watch never watches or lists what lies outside the tree, and a folder
// of the tree keeps its own name in what the watch tells.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "platform/watcher.h"
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

TEST(InotifyWatcherTest, AFolderSwappedForALinkLeadsTheWatchNowhere) {
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
  };
  for (const Swap& swap : swaps) {
    SCOPED_TRACE(swap.name);
    TempTree tree;
    TempTree outside;
    tree.MakeDirectory("site");
    tree.MakeDirectory("pages");
    swap.before(tree, outside);
    const std::unique_ptr<Watcher> watcher = CreateNativeWatcher();
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
}

}  // namespace
}  // namespace quelix
