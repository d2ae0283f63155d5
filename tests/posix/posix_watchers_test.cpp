// Both Linux watches (inotify, and fanotify where this process may use it) against a tree's owner
// who swaps folders for links between an event and the watch's look at it, and beside writers
// elsewhere on the same file system: the watch never tells, watches or lists what lies outside
// the tree, and a folder of the tree keeps its own name in what the watch tells.
#include "platform/posix/posix_watchers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
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

// The owner links a name in the tree to an infected page made outside it (and may remove the
// page's first name before the watch looks): nothing is written or moved, and the page is told
// all the same.
TEST(PosixWatchersTest, APageLinkedInFromOutsideIsTold) {
  for (const bool first_name_removed : {false, true}) {
    for (const auto& [backend, create] : Backends()) {
      SCOPED_TRACE(backend + (first_name_removed ? ", first name removed" : ""));
      TempTree tree;
      TempTree outside;
      tree.MakeDirectory("pages");
      outside.Write("other.htm", "x");
      fs::last_write_time(
          outside.root() / "other.htm",
          fs::last_write_time(outside.root() / "other.htm") - std::chrono::hours(1));
      const std::unique_ptr<Watcher> watcher = create();
      ASSERT_TRUE(watcher->Add(tree.Root()).ok());
      fs::create_hard_link(outside.root() / "other.htm", tree.root() / "pages" / "a.htm");
      if (first_name_removed) fs::remove(outside.root() / "other.htm");
      const std::vector<WatchEvent> events = Told(*watcher);
      ASSERT_EQ(events.size(), 1u);
      EXPECT_EQ(events[0].folder + events[0].name, tree.Path("pages/a.htm"));
    }
  }
}

// What the watch tells from now on, until `told` says it has all it waits for or a generous limit
// passed (each wait may come back with nothing while other programs write elsewhere).
void TellUntil(Watcher& watcher, const char* what,
               const std::function<bool(const WatchEvent&)>& told) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < limit) {
    std::vector<WatchEvent> events;
    ASSERT_TRUE(watcher.Wait(std::chrono::milliseconds(1000), &events).ok());
    for (const WatchEvent& event : events) {
      if (told(event)) return;
    }
  }
  ADD_FAILURE() << what << " not told within 20 s";
}

// A folder moved in while the system dropped changes (the owner filled the queue first): once the
// watch has said it missed changes, a page then written in that folder is told all the same.
TEST(PosixWatchersTest, AFolderMovedInWhileChangesWereDroppedIsFollowed) {
  for (const auto& [backend, create] : Backends()) {
    SCOPED_TRACE(backend);
    TempTree tree;
    TempTree outside;
    outside.Write("pages/seen.htm", "x");
    tree.MakeDirectory("flood");
    const std::unique_ptr<Watcher> watcher = create();
    ASSERT_TRUE(watcher->Add(tree.Root()).ok());
    outside.Write("pages/seen.htm", "y");  // the watch looks at the folder while it is outside
    Told(*watcher);
    for (int i = 0; i < 20000; ++i) {
      std::fclose(std::fopen((tree.root() / "flood" / std::to_string(i)).c_str(), "w"));
    }
    fs::rename(outside.root() / "pages", tree.root() / "pages");
    TellUntil(*watcher, "the changes missed",
              [](const WatchEvent& event) { return event.kind == WatchEvent::Kind::kMissed; });
    tree.Write("pages/a.htm", "x");
    TellUntil(*watcher, "the page", [&](const WatchEvent& event) {
      return event.folder + event.name == tree.Path("pages/a.htm");
    });
  }
}

// A folder whose path is longer than the system takes, made by the tree's owner to hide a page in:
// the watch says it does not watch it (inotify when it lists it, fanotify when a page is written
// there, once), and tells no page under a wrong name.
TEST(PosixWatchersTest, AFolderTooDeepToNameIsToldAsNotWatched) {
  for (const auto& [backend, create] : Backends()) {
    SCOPED_TRACE(backend);
    TempTree tree;
    tree.MakeDirectory("x");
    std::vector<int> chain{open(tree.root().c_str(), O_RDONLY | O_DIRECTORY)};
    const std::string part(200, 'd');
    while (chain.size() < 25) {
      ASSERT_EQ(mkdirat(chain.back(), part.c_str(), 0755), 0);
      chain.push_back(openat(chain.back(), part.c_str(), O_RDONLY | O_DIRECTORY));
      ASSERT_GE(chain.back(), 0);
    }
    const std::unique_ptr<Watcher> watcher = create();
    ASSERT_TRUE(watcher->Add(tree.Root()).ok());
    // Written again and again, with a folder moved in between each time (which makes the
    // fanotify watch forget where folders lie), it is told once.
    size_t told = 0;
    for (int round = 0; round < 3; ++round) {
      close(openat(chain.back(), "a.htm", O_WRONLY | O_CREAT, 0644));
      fs::rename(tree.root() / (round % 2 ? "y" : "x"), tree.root() / (round % 2 ? "x" : "y"));
      for (const WatchEvent& event : Told(*watcher)) {
        EXPECT_EQ(event.kind, WatchEvent::Kind::kNotWatched) << event.folder << event.name;
        ++told;
      }
    }
    EXPECT_EQ(told, 1u);
    // Taken down from the bottom: the tree's own removal goes by paths, which are too long.
    unlinkat(chain.back(), "a.htm", 0);
    for (size_t level = chain.size() - 1; level > 0; --level) {
      close(chain[level]);
      unlinkat(chain[level - 1], part.c_str(), AT_REMOVEDIR);
    }
    close(chain[0]);
  }
}

}  // namespace
}  // namespace quelix
