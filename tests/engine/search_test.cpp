#include "engine/search.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/patterns.h"
#include "tests/support/fake_window.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

TEST(PatternTest, ExtensionPatternsTakeLongerExtensionsAndIgnoreCase) {
  EXPECT_TRUE(MatchesPattern("index.htm", "*.htm"));
  EXPECT_TRUE(MatchesPattern("INDEX.HTML", "*.htm"));
  EXPECT_TRUE(MatchesPattern(".htm", "*.htm"));
  EXPECT_TRUE(MatchesPattern("a.b.php3", "*.php"));
  EXPECT_FALSE(MatchesPattern("index.htm.bak", "*.htm"));
  EXPECT_FALSE(MatchesPattern("index.ht", "*.htm"));
  EXPECT_FALSE(MatchesPattern("htm", "*.htm"));
  EXPECT_TRUE(MatchesPattern("FOLDER.HTT", "folder.htt"));
  EXPECT_FALSE(MatchesPattern("folder.htt.old", "folder.htt"));
  EXPECT_FALSE(MatchesPattern("myfolder.htt", "folder.htt"));
  EXPECT_EQ(MatchingPatterns("x.vbs"), 1u << 4);
  EXPECT_EQ(MatchingPatterns("readme.txt"), 0u);
}

TEST(StripNullsTest, CutsAtTheFirstNulInPlace) {
  std::string name("page.htm\0junk\0", 14);
  EXPECT_EQ(StripNulls(name), "page.htm");
  EXPECT_EQ(name, "page.htm");
  std::string plain = "plain";
  EXPECT_EQ(StripNulls(plain), "plain");
}

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override { window_.root = tree_.root().string(); }
  void TearDown() override {
    fs_.EndHooks();
    window_.EndHooks();
  }
  std::vector<std::string> Candidates() { return window_.candidates; }
  std::string P(const std::string& relative) { return tree_.Path(relative); }

  TempTree tree_;
  FakeWindow window_;
  std::unique_ptr<FileSystem> native_ = CreateNativeFileSystem();
  FaultFileSystem fs_{*native_};
  SearchedTree searched_{fs_};
  CandidateSearch search_{window_, window_, searched_};
};

TEST_F(SearchTest, ListsPatternByPatternMatchesBeforeSubdirectories) {
  tree_.Write("b.asp", "");
  tree_.Write("a.htm", "");
  tree_.Write("sub/c.htm", "");
  tree_.Write("sub/deeper/FOLDER.HTT", "");
  tree_.Write("sub/x.vbs", "");
  tree_.Write("notes.txt", "");
  ASSERT_TRUE(search_.Search());
  const auto& c = window_.candidates;
  ASSERT_EQ(c.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(c.begin(), c.begin() + 2),
            (std::vector<std::string>{P("a.htm"), P("sub/c.htm")}));
  EXPECT_EQ(c[2], P("b.asp"));
  EXPECT_EQ(c[3], P("sub/x.vbs"));
  EXPECT_EQ(c[4], P("sub/deeper/FOLDER.HTT"));
}

TEST_F(SearchTest, ProgressNamesTheDirectoryOncePerMatch) {
  tree_.Write("page.htm", "");
  tree_.Write("web/one.htm", "");
  tree_.Write("web/two.htm", "");
  tree_.Write("web/three.htm", "");
  ASSERT_TRUE(search_.Search());
  const std::string root_progress = "Searching \r\n" + tree_.Root();
  const std::string web_progress = "Searching \r\n" + tree_.Path("web/");
  EXPECT_EQ(window_.log,
            (std::vector<std::string>{root_progress, web_progress, web_progress, web_progress}));
  EXPECT_EQ(window_.statuses, window_.log);
  // Each progress line is followed by its own candidate.
  const auto events = window_.EventsStartingWith("candidate: ");
  EXPECT_EQ(events.front(), "candidate: " + P("page.htm"));
}

TEST_F(SearchTest, DirectoryNamedLikeACandidateIsListedAndWalked) {
  tree_.Write("old.htm/inner.asp", "");
  ASSERT_TRUE(search_.Search());
  EXPECT_EQ(Candidates(), (std::vector<std::string>{P("old.htm"), P("old.htm/inner.asp")}));
}

TEST_F(SearchTest, SearchingTwiceListsEachCandidateOnce) {
  tree_.Write("a.htm", "");
  ASSERT_TRUE(search_.Search());
  ASSERT_TRUE(search_.Search());
  EXPECT_EQ(Candidates(), (std::vector<std::string>{P("a.htm")}));
}

TEST_F(SearchTest, NoMatchLeavesTheListEmptyAndTheLogUntouched) {
  tree_.Write("a/b/c.txt", "");
  window_.candidates = {"left over"};
  ASSERT_TRUE(search_.Search());
  EXPECT_TRUE(Candidates().empty());
  EXPECT_TRUE(window_.log.empty());
}

TEST_F(SearchTest, ListsEveryDirectoryOnceForAllSixPatterns) {
  tree_.Write("a/b/c.htm", "");
  tree_.Write("a/d.php", "");
  tree_.MakeDirectory("e");
  ASSERT_TRUE(search_.Search());
  EXPECT_EQ(fs_.Count(FsOp::kList), 4);  // root, a, a/b, e
  EXPECT_EQ(Candidates(), (std::vector<std::string>{P("a/b/c.htm"), P("a/d.php")}));
}

TEST_F(SearchTest, UnsearchableFoldersAreLoggedCountedAndTheWalkGoesOn) {
  tree_.Write("bad/x.htm", "");
  tree_.Write("shut/z.htm", "");
  tree_.Write("good/y.htm", "");
  const std::string bad = tree_.Path("bad/");
  const std::string shut = tree_.Path("shut");
  fs_.inject = [&](const FsCall& call) -> std::optional<ErrorCode> {
    if (call.op == FsOp::kList && call.path == bad) return ErrorCode::kAccessDenied;
    if (call.op == FsOp::kOpenDirectory && call.path == shut) return ErrorCode::kIoError;
    return std::nullopt;
  };
  ASSERT_TRUE(search_.Search());
  EXPECT_EQ(Candidates(), (std::vector<std::string>{P("good/y.htm")}));
  EXPECT_EQ(search_.unsearched(), 2u);
  EXPECT_EQ(window_.EventsStartingWith("log: Could not search"),
            (std::vector<std::string>{
                "log: Could not search " + bad + ": access denied",
                "log: Could not search " + shut + NativeSeparator() + ": read or write error"}));
}

TEST_F(SearchTest, FindFilesAPIAppendsTheSeparatorForTheCaller) {
  tree_.Write("a.htm", "");
  std::string path = tree_.root().string();
  ASSERT_NE(path.back(), NativeSeparator());
  ASSERT_TRUE(search_.FindFilesAPI(path, "*.htm"));
  EXPECT_EQ(path, tree_.Root());
  EXPECT_EQ(Candidates(), (std::vector<std::string>{P("a.htm")}));
}

TEST_F(SearchTest, ClosingTheWindowStopsTheWalkAtOnce) {
  for (int i = 0; i < 20; ++i) tree_.Write("d" + std::to_string(i) + "/p.htm", "");
  window_.on_yield = [](int n) { return n < 5; };
  EXPECT_FALSE(search_.Search());
  EXPECT_EQ(window_.yields, 5);
  EXPECT_LT(Candidates().size(), 5u);
}

}  // namespace
}  // namespace quelix
