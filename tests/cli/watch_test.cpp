// `quelix watch` run whole over a fake watcher: which changes it checks, and what it says of the
// changes it could not see.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "cli/quelix.h"
#include "cli/report.h"
#include "engine/signature.h"
#include "tests/support/fake_watcher.h"
#include "tests/support/quelix_fixture.h"

namespace quelix {
namespace {

const std::string kInfected = "page\r\n" + MarkerLine() + "\r\n" + SignatureLine() + "\r\n";

class WatchTest : public QuelixFixture {
 protected:
  // Runs quelix watch with `args` over the events of `batches`, until it has nothing left.
  int Watch(std::vector<std::string> args, std::vector<std::vector<WatchEvent>> batches,
            std::function<void(FakeWatcher&)> before_batch = {}) {
    auto fake = std::make_unique<FakeWatcher>();
    FakeWatcher* watcher = fake.get();
    if (before_batch) fake->before_batch = [=] { before_batch(*watcher); };
    fake->batches.assign(batches.begin(), batches.end());
    console_.stop = [watcher] { return watcher->idle; };
    std::ostringstream out;
    std::ostringstream err;
    CliServices services{fs_, places_, console_, opener_};
    services.open_watcher = [&fake] { return std::move(fake); };
    args.insert(args.begin(), "watch");
    const int status = RunQuelix(args, out, err, services);
    out_ = Split(out.str());
    err_text_ = err.str();
    return status;
  }
  WatchEvent Written(const std::string& relative) {
    const size_t cut = relative.rfind('/');
    if (cut == std::string::npos) return {WatchEvent::Kind::kWritten, tree_.Root(), relative, {}};
    return {WatchEvent::Kind::kWritten,
            P(relative.substr(0, cut)) + NativeSeparator(),
            relative.substr(cut + 1),
            {}};
  }
};

TEST_F(WatchTest, ChecksEachCandidateOnceAndSaysWhatItCouldNotSee) {
  tree_.Write("a.htm", kInfected);
  tree_.Write("notes.txt", kInfected);
  tree_.Write("cache/b.htm", kInfected);
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::vector<WatchEvent>> batches;
    Lines out;         // "{}" for the root
    std::string said;  // on standard error
    int status;
  };
  const std::string closed = P("closed") + NativeSeparator();
  const Case cases[] = {
      {"a burst, a file that is no page, a folder left out",
       {"--exclude", "cache"},
       {{Written("a.htm"), Written("notes.txt")}, {Written("a.htm"), Written("cache/b.htm")}},
       {"{}a.htm"},
       "checked 1 files",
       1},
      {"a page gone before its check, and one cleaned",
       {"--remove"},
       {{Written("gone.htm"), Written("a.htm")}},
       {"kept *", "cleaned {}a.htm"},
       "checked 2 files in",
       0},
      {"a folder not watched",
       {"--json"},
       {{{WatchEvent::Kind::kNotWatched, closed, {}, "access denied"}}},
       {R"({"event":"watching","path":"{}","folders":1,"method":"fake"})",
        R"({"event":"could_not_watch","path":"{}closed{/}","reason":"access denied"})", "summary"},
       "quelix: could not watch " + closed + ": access denied",
       2},
      {"changes missed",
       {},
       {{{WatchEvent::Kind::kMissed, {}, {}, "overflow"}}},
       {},
       "quelix: some changes were not seen (overflow)",
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--no-log", Root()});
    EXPECT_EQ(Watch(args, c.batches), c.status) << err_text_;
    ASSERT_EQ(out_.size(), c.out.size()) << err_text_;
    for (size_t i = 0; i < out_.size(); ++i) {
      std::string want = c.out[i];
      // In JSON the root's separators are escaped where they are backslashes.
      const bool json = want.rfind("{\"", 0) == 0;
      const std::string root = json ? JsonString(tree_.Root()) : '"' + tree_.Root() + '"';
      const std::string separator = JsonString(std::string(1, NativeSeparator()));
      for (size_t at; (at = want.find("{/}")) != std::string::npos;) {
        want.replace(at, 3, separator.substr(1, separator.size() - 2));
      }
      for (size_t at; (at = want.find("{}")) != std::string::npos;) {
        want.replace(at, 2, root.substr(1, root.size() - 2));
      }
      if (want == "summary" || want.ends_with('*')) {
        want = want == "summary" ? R"({"event":"summary")" : want.substr(0, want.size() - 1);
        EXPECT_EQ(out_[i].rfind(want, 0), 0u) << out_[i];
      } else {
        EXPECT_EQ(out_[i], want);
      }
    }
    EXPECT_NE(err_text_.find(c.said), std::string::npos) << err_text_;
    EXPECT_EQ(err_text_.find("could not read"), std::string::npos) << err_text_;
  }
  // No room to keep the original of a page found: it is left as it is, and the watch says why.
  tree_.Write("a.htm", kInfected);
  fs_.space = 1000;
  EXPECT_EQ(Watch({"--remove", "--no-log", Root()}, {{Written("a.htm")}}), 2);
  EXPECT_EQ(tree_.Read("a.htm"), kInfected);
  EXPECT_NE(err_text_.find(" must stay free. Nothing is removed; --no-backup removes without "
                           "keeping them.\n"),
            std::string::npos)
      << err_text_;
  EXPECT_EQ(Watch({"--no-log", P("notes.txt")}, {}), 2);
  EXPECT_NE(err_text_.find("cannot search " + P("notes.txt") + ": not a folder"), std::string::npos)
      << err_text_;
}

// The event log of a watch: its start and end, and between them only what a finding or a
// removal writes; a page saved clean, however often, adds nothing.
TEST_F(WatchTest, TheLogGrowsWithFindingsNotWithSaves) {
  tree_.Write("a.htm", "<p>clean</p>");
  tree_.Write("b.htm", "<p>clean</p>");
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::vector<WatchEvent>> batches;
    Lines between;  // the entries after the start; "*" ends a prefix
  };
  const std::string page = P("c.htm");
  const Case cases[] = {
      {"clean saves",
       {},
       {{Written("a.htm")}, {Written("b.htm"), Written("a.htm")}, {Written("a.htm")}},
       {}},
      {"an infected save", {}, {{Written("a.htm"), Written("c.htm")}}, {"Virus found in " + page}},
      {"an infected save cleaned",
       {"--remove"},
       {{Written("a.htm"), Written("c.htm")}, {Written("b.htm")}},
       {"Virus found in " + page, "Removing virus from ", page,
        "Virus successfully removed from " + page, "The originals are kept in *",
        "Virus removal complete."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tree_.Write("c.htm", kInfected);
    std::filesystem::remove(log_dir_.Path("log.txt"));
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--log", log_dir_.Path("log.txt"), Root()});
    Watch(args, c.batches);
    Lines want{"Watching " + tree_.Root()};
    want.insert(want.end(), c.between.begin(), c.between.end());
    want.push_back("Watch ended.");
    const Lines log = LogLines();
    ASSERT_EQ(log.size(), want.size()) << testing::PrintToString(log);
    for (size_t i = 0; i < log.size(); ++i) {
      const bool prefix = want[i].ends_with('*');
      EXPECT_EQ(prefix ? log[i].substr(0, want[i].size() - 1) : log[i],
                prefix ? want[i].substr(0, want[i].size() - 1) : want[i]);
    }
  }
}

// A stop with changes not yet checked: each file is named, and the watch exits as a stopped one,
// which a service manager counts as a clean stop.
TEST_F(WatchTest, AStopNamesEachChangeNotCheckedAndSaysItWasStopped) {
  tree_.Write("a.htm", "<p>clean</p>");
  tree_.Write("b.htm", kInfected);
  const std::string json_root = JsonString(tree_.Root());
  const std::string root = json_root.substr(1, json_root.size() - 2);
  const Lines named{"quelix: not checked (the watch was stopped): " + P("a.htm"),
                    "quelix: not checked (the watch was stopped): " + P("b.htm")};
  struct Case {
    std::vector<std::string> args;
    Lines out;  // the lines that name a file
  };
  const Case cases[] = {
      {{}, {}},
      {{"--json"},
       {R"({"event":"not_checked","path":")" + root + R"(a.htm","reason":"the watch was stopped"})",
        R"({"event":"not_checked","path":")" + root +
            R"(b.htm","reason":"the watch was stopped"})"}},
  };
  // The stop comes as the changes are handed out, before they settle.
  const auto stop = [this](FakeWatcher&) { console_.stop = [] { return true; }; };
  const auto naming = [](const Lines& lines) {
    Lines found;
    for (const std::string& line : lines) {
      if (line.find(".htm") != std::string::npos) found.push_back(line);
    }
    return found;
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--no-log", Root()});
    EXPECT_EQ(Watch(args, {{Written("b.htm"), Written("a.htm")}}, stop), 130) << err_text_;
    EXPECT_EQ(naming(out_), c.out);
    EXPECT_EQ(naming(Split(err_text_)), named);
    EXPECT_EQ(tree_.Read("b.htm"), kInfected);
  }
}

// A stop while the first of two watched folders is checked: what changed in the second is named
// too, though its check never began.
TEST_F(WatchTest, AStopInACheckNamesWhatTheNextFolderChanged) {
  tree_.Write("one/a.htm", "<p>clean</p>");
  tree_.Write("two/b.htm", "<p>clean</p>");
  // Asked once more after the changes are handed out (they have not settled then), and next
  // in the check of the first folder.
  const auto stop_in_check = [this](FakeWatcher&) {
    console_.stop = [asked = 0]() mutable { return ++asked >= 2; };
  };
  EXPECT_EQ(Watch({"--no-log", P("one"), P("two")}, {{Written("one/a.htm"), Written("two/b.htm")}},
                  stop_in_check),
            130)
      << err_text_;
  for (const char* page : {"one/a.htm", "two/b.htm"}) {
    EXPECT_NE(err_text_.find("quelix: not checked (the watch was stopped): " + P(page) + "\n"),
              std::string::npos)
        << err_text_;
  }
}

// A watched folder swapped for another of its name while the watch held the other PATH: nothing
// of the newcomer is read or cleaned.
TEST_F(WatchTest, AFolderThatTookTheWatchedOnesNameIsLeftAlone) {
  if (NativeSeparator() == '\\') GTEST_SKIP() << "Windows lets no one rename a folder held open";
  tree_.Write("site/a.htm", "<p>clean</p>");
  tree_.Write("other/b.htm", "<p>clean</p>");
  const auto swap = [this](FakeWatcher&) {
    std::filesystem::rename(tree_.root() / "site", tree_.root() / "old");
    tree_.Write("site/a.htm", kInfected);
  };
  EXPECT_EQ(Watch({"--remove", "--no-log", P("other"), P("site")},
                  {{Written("other/b.htm"), Written("site/a.htm")}}, swap),
            2);
  EXPECT_TRUE(out_.empty());
  EXPECT_EQ(tree_.Read("site/a.htm"), kInfected);
  EXPECT_NE(err_text_.find("cannot search " + P("site/") + ": another folder took its name"),
            std::string::npos)
      << err_text_;
}

// A page its writer closes again faster than a burst settles, on and on: it is cleaned all the
// same, while the writes go on.
TEST_F(WatchTest, APageWrittenOnAndOnIsCleanedAllTheSame) {
  tree_.Write("a.htm", kInfected);
  // The writes stop here at the latest; the page must be cleaned before.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  const auto write_again = [&](FakeWatcher& watcher) {
    // The writer's pace: well within the time a burst takes to settle.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (tree_.Read("a.htm") == kInfected && std::chrono::steady_clock::now() < limit) {
      watcher.batches.push_back({Written("a.htm")});
    }
  };
  EXPECT_EQ(Watch({"--remove", "--no-log", Root()}, {{Written("a.htm")}}, write_again), 0)
      << err_text_;
  EXPECT_EQ(tree_.Read("a.htm"), "page\r\n");
  EXPECT_TRUE(std::chrono::steady_clock::now() < limit) << "cleaned only once the writes stopped";
}

}  // namespace
}  // namespace quelix
