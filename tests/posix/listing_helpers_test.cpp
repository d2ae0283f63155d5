// Helpers list the walk's folders and hand the listings to it: the window, the log and the yields
// see exactly what the walk's own listings give, in the same order, also where folders cannot be
// opened or listed, lie on another volume, are left out, or lie deeper than the helpers go.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bench/drive_generator.h"
#include "engine/engine.h"
#include "engine/folder_read_ahead.h"
#include "engine/tree.h"
#include "tests/support/fake_window.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

struct Seen {
  std::vector<std::string> events;
  std::vector<std::string> infected;
};

// Scans `root` through a file system that fails the folders `faults` names; with helpers where
// `helpers`, else with the walk alone.
Seen Scan(const std::string& root, bool helpers,
          const std::vector<std::pair<std::string, ErrorCode>>& faults,
          const std::string& left_out) {
  auto native = CreateNativeFileSystem();
  FaultFileSystem fs(*native);
  fs.shared_with_helpers = helpers;
  fs.inject = [&faults](const FsCall& call) -> std::optional<ErrorCode> {
    if (call.op != FsOp::kOpenDirectory && call.op != FsOp::kList) return std::nullopt;
    for (const auto& [path, code] : faults) {
      if (call.path == path) return code;
    }
    return std::nullopt;
  };
  FakeWindow window;
  window.root = root;
  window.on_yield = [&window](int) {
    window.events.push_back("yield");
    return true;
  };
  Engine engine(window, window, fs, CreateNativeRegistry);
  engine.search().Exclude(
      [&left_out](const std::string& relative) { return relative == left_out; });
  EXPECT_TRUE(engine.ScanCommand());
  fs.EndHooks();
  return {window.events, window.infected};
}

TEST(ListingHelpersTest, HandedListingsGiveWhatTheWalksOwnListingsGive) {
  TempTree tree;
  bench::DriveReport report;
  std::string error;
  ASSERT_TRUE(bench::GenerateDrive(tree.Path("gen"), bench::DriveSpec{6, 400, 4ull << 20, 40, 8},
                                   &report, &error))
      << error;
  // A chain of folders deeper than the helpers list, with a page on the way and one below a
  // folder that cannot be opened.
  std::string chain = "gen/drive/chain";
  for (size_t i = 0; i <= FolderReadAhead::kMaxDepth + 2; ++i) chain += "/d";
  tree.MakeDirectory(chain + "/d/d");
  tree.Write(chain + "/deeper.asp", "<% page %>");
  tree.Write(chain + "/d/d/deep.htm", "<p>page</p>");

  // Folders none of which holds another: the drive's folders that hold none.
  std::vector<std::string> leaves;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(report.root)) {
    const std::filesystem::path& path = entry.path();
    if (!entry.is_directory() || path.string().find("/chain") != std::string::npos) continue;
    bool leaf = true;
    for (const auto& inner : std::filesystem::directory_iterator(path))
      leaf &= !inner.is_directory();
    if (leaf) leaves.push_back(path.string());
  }
  std::sort(leaves.begin(), leaves.end());
  ASSERT_GE(leaves.size(), 4u);
  const std::vector<std::pair<std::string, ErrorCode>> faults = {
      {leaves[0], ErrorCode::kAccessDenied},                // not opened
      {leaves[1] + "/", ErrorCode::kIoError},               // not listed
      {leaves[2], ErrorCode::kOtherVolume},                 // a mount point
      {tree.Path(chain + "/d"), ErrorCode::kAccessDenied},  // below where the helpers list
  };
  const std::string left_out = leaves[3].substr(report.root.size() + 1);

  const Seen alone = Scan(report.root, false, faults, left_out);
  const Seen helped = Scan(report.root, true, faults, left_out);
  EXPECT_EQ(helped.events, alone.events);
  EXPECT_EQ(helped.infected, alone.infected);
  // Each case was met: three folders reported, the mount point passed by, the chain walked.
  const auto count = [&](const std::string& text) {
    return std::count_if(alone.events.begin(), alone.events.end(), [&](const std::string& event) {
      return event.find(text) != std::string::npos;
    });
  };
  EXPECT_EQ(count("log: Could not search"), 3);
  EXPECT_EQ(count("candidate: " + tree.Path(chain + "/deeper.asp")), 1);
  EXPECT_EQ(count("deep.htm"), 0);
}

// The names of a listing's part: each followed by a NUL, a match's after its mask.
std::set<std::string> Names(const std::string& part, bool masked) {
  std::set<std::string> names;
  for (size_t at = 0; at < part.size();) {
    const size_t end = part.find('\0', at);
    names.insert(part.substr(at + (masked ? 1 : 0), end - at - (masked ? 1 : 0)));
    at = end + 1;
  }
  return names;
}

// Subfolders beyond what the helpers may queue are left to the walk; those they list are
// listed whole.
TEST(ListingHelpersTest, FoldersBeyondWhatMayBeQueuedAreLeftToTheWalk) {
  TempTree tree;
  for (int i = 0; i < 60; ++i) tree.Write("many/folder" + std::to_string(i) + "/page.htm", "x");
  tree.Write("many/page.asp", "x");
  auto fs = CreateNativeFileSystem();
  SearchedTree searched(*fs);
  ASSERT_TRUE(searched.Open(tree.Root()).ok());
  const Exclusion none;
  FolderReadAhead read_ahead(searched, none, 4096);
  size_t handed = 0;
  size_t left = 0;
  // The walk's order: a folder, then each of its subfolders and all below it.
  const std::function<void(const std::string&)> walk = [&](const std::string& relative) {
    FolderListing listing;
    if (!read_ahead.Take(relative, &listing)) return void(++left);
    ++handed;
    std::set<std::string> folders;
    std::set<std::string> pages;
    for (const auto& entry : std::filesystem::directory_iterator(tree.root() / relative)) {
      (entry.is_directory() ? folders : pages).insert(entry.path().filename().string());
    }
    EXPECT_EQ(Names(listing.subdirectories, false), folders) << relative;
    EXPECT_EQ(Names(listing.matches, true), pages) << relative;
    for (const std::string& name : Names(listing.subdirectories, false)) {
      walk(relative.empty() ? name : relative + "/" + name);
    }
  };
  walk("");
  EXPECT_GT(handed, 2u);
  EXPECT_GT(left, 0u);
  EXPECT_EQ(handed + left, 62u);
}

}  // namespace
}  // namespace quelix

namespace quelix {
namespace {

// A helper's folder open refused for want of a descriptor never came to the folder: the helpers
// stop, letting go of theirs, and the walk lists it and the rest itself, leaving none unsearched.
TEST(ListingHelpersTest, AFolderAHelperHadNoDescriptorForIsListedByTheWalk) {
  TempTree tree;
  for (int f = 0; f < 6; ++f) {
    tree.Write("f" + std::to_string(f) + "/sub/page.htm", "<p>page</p>");
  }
  const std::string refused = tree.Path("f3");
  auto native = CreateNativeFileSystem();
  FaultFileSystem fs(*native);
  fs.shared_with_helpers = true;
  bool refused_once = false;
  fs.inject = [&](const FsCall& call) -> std::optional<ErrorCode> {
    if (call.op != FsOp::kOpenDirectory || call.path != refused || refused_once) return {};
    refused_once = true;
    return ErrorCode::kTooManyOpen;
  };
  FakeWindow window;
  window.root = tree.Root();
  Engine engine(window, window, fs, CreateNativeRegistry);
  EXPECT_TRUE(engine.ScanCommand());
  fs.EndHooks();
  EXPECT_TRUE(refused_once);
  EXPECT_EQ(window.candidates.size(), 6u);
  for (const std::string& entry : window.log)
    EXPECT_EQ(entry.find("Could not search"), std::string::npos) << entry;
}

}  // namespace
}  // namespace quelix
