// The native watcher on a real folder: a page written, and a folder made and then written into,
// are told with the folder they lie in, as the command looks them up.
#include "platform/watcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

// Waits, with a generous limit, until the watcher tells of `name` in `folder`.
bool ToldOf(Watcher& watcher, const std::string& folder, const std::string& name) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < limit) {
    std::vector<WatchEvent> events;
    EXPECT_TRUE(watcher.Wait(std::chrono::milliseconds(100), &events).ok());
    for (const WatchEvent& event : events) {
      if (event.folder == folder && event.name == name) return true;
    }
  }
  return false;
}

TEST(WatcherTest, TellsOfPagesWrittenAndFoldersMadeBelowTheFolderWatched) {
  struct Case {
    const char* name;
    std::function<void(const TempTree&)> act;
    std::string folder;  // below the tree, as the program names it
    const char* file;
  };
  const Case cases[] = {
      {"a page written", [](const TempTree& t) { t.Write("a.htm", "x"); }, "", "a.htm"},
      {"a folder made, then written into",
       [](const TempTree& t) {
         t.MakeDirectory("new");
         t.Write("new/b.htm", "x");
       },
       "new", "b.htm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempTree tree;
    tree.MakeDirectory("old");
    std::unique_ptr<Watcher> watcher = CreateNativeWatcher();
    ASSERT_TRUE(watcher->Add(tree.Root()).ok());
    c.act(tree);
    const std::string folder =
        c.folder.empty() ? tree.Root() : tree.Path(c.folder) + NativeSeparator();
    const bool told = ToldOf(*watcher, folder, c.file);
    // Wine tells nothing of a folder's changes on some systems: nothing to test there.
    if (!told && watcher->method() == "ReadDirectoryChangesW") {
      GTEST_SKIP() << "the system delivered no change notifications";
    }
    EXPECT_TRUE(told) << folder << c.file;
  }
  std::unique_ptr<Watcher> watcher = CreateNativeWatcher();
  EXPECT_FALSE(watcher->Add(TempTree().Path("gone")).ok());
}

}  // namespace
}  // namespace quelix
