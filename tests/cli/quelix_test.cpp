// `quelix` run whole, as a script on a server would: what it prints and its exit status.
#include "cli/quelix.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "app/last_removal.h"
#include "cli/cli_front_end.h"
#include "cli/report.h"
#include "engine/signature.h"
#include "tests/support/fake_console.h"
#include "tests/support/quelix_fixture.h"

namespace quelix {
namespace {

const std::string kInfected = "page\r\n" + MarkerLine() + "\r\n" + SignatureLine() + "\r\n";
const std::string kRun = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
using Lines = std::vector<std::string>;

class QuelixTest : public QuelixFixture {};

TEST_F(QuelixTest, ScanTellsByItsStatusWhatItFound) {
  tree_.Write("clean.htm", "<p>clean</p>");
  EXPECT_EQ(Quelix({"scan", "--no-log", Root()}), 0);
  EXPECT_TRUE(out_.empty());
  EXPECT_EQ(Quelix({"scan", "--no-log", Root(), P("missing")}), 2);
  EXPECT_EQ(err_.front(), "quelix: cannot search " + P("missing") + ": not found");
  tree_.Write("sub/a.htm", kInfected + SignatureLine() + "\r\n");
  EXPECT_EQ(Quelix({"scan", "--no-log", Root(), P("missing")}), 1);
  EXPECT_EQ(out_, (Lines{P("sub/a.htm"), P("sub/a.htm")}));
  EXPECT_EQ(err_.back().rfind("checked 2 files in ", 0), 0u) << err_.back();
  EXPECT_NE(err_.back().find(": 1 infected, 0 could not be read"), std::string::npos);
  fs_.inject = [](const FsCall& call) -> std::optional<ErrorCode> {
    if (call.op == FsOp::kRead) return ErrorCode::kIoError;
    return std::nullopt;
  };
  EXPECT_EQ(Quelix({"scan", "--no-log", Root()}), 2) << "nothing found, something not read";
}

TEST_F(QuelixTest, RemoveCleansRepairsAndSaysWhatIsLeft) {
  const size_t machine =
      registry_.AddStore(RegistryRoot::kLocalMachine, "HKEY_LOCAL_MACHINE", true);
  registry_.SetValue(machine, kRun, "Kernel32", "virus");
  tree_.Write("a.htm", kInfected);
  tree_.Write("b.asp", kInfected);
  EXPECT_EQ(Quelix({"scan", "--no-log", Root()}), 1);
  EXPECT_EQ(out_.back(), "registry HKEY_LOCAL_MACHINE\\" + kRun + "\\Kernel32");
  EXPECT_EQ(Quelix({"scan", "--no-log", "--no-registry", Root()}), 1);
  EXPECT_EQ(out_.size(), 2u) << "no registry line";

  registry_.FailDelete(machine, kRun, "Kernel32", {ErrorCode::kAccessDenied, "denied"});
  fs_.inject = [](const FsCall& call) -> std::optional<ErrorCode> {
    if (call.op == FsOp::kReplace && call.path.ends_with("b.asp")) return ErrorCode::kDiskFull;
    return std::nullopt;
  };
  EXPECT_EQ(Quelix({"remove", "--log", log_dir_.Path("l.txt"), Root()}), 1);
  const std::string value = "HKEY_LOCAL_MACHINE\\" + kRun + "\\Kernel32";
  const std::string first_run = out_.front().substr(5);
  EXPECT_EQ(out_, (Lines{"kept " + first_run, "cleaned " + P("a.htm")}));
  // Named once, where a script reads what went wrong.
  EXPECT_EQ(err_.front(), "quelix: could not clean " + P("b.asp") + ": disk full");
  EXPECT_EQ(err_.at(1), "quelix: not deleted " + value + ": access denied");
  EXPECT_EQ(err_text_.find("b.asp"), err_text_.rfind("b.asp")) << err_text_;
  EXPECT_EQ(err_text_.find("Kernel32"), err_text_.rfind("Kernel32")) << err_text_;
  registry_.FailDelete(machine, kRun, "Kernel32", Status::Ok());
  fs_.inject = nullptr;
  EXPECT_EQ(Quelix({"remove", "--log", log_dir_.Path("l.txt"), Root()}), 0);
  const std::string second_run = out_.front().substr(5);
  EXPECT_EQ(out_, (Lines{"kept " + second_run, "cleaned " + P("b.asp"), "deleted " + value}));
  EXPECT_EQ(Quelix({"remove", "--no-log", P("missing")}), 2);

  // Back, run by run: the latest first, then the first by its name.
  EXPECT_EQ(Quelix({"restore"}), 0);
  EXPECT_EQ(out_, (Lines{"restored " + P("b.asp"), "restored " + value}));
  const std::string first_name = first_run.substr(first_run.rfind(NativeSeparator()) + 1);
  EXPECT_EQ(Quelix({"restore", first_name}), 0);
  // b.asp was not replaced in the first run: its original, kept first, was withdrawn.
  EXPECT_EQ(out_, (Lines{"restored " + P("a.htm"), "as it was " + value}));
  EXPECT_EQ(tree_.Read("a.htm") + tree_.Read("b.asp"), kInfected + kInfected);
  EXPECT_EQ(registry_.Values(machine, kRun), (std::vector<FakeValue>{{"Kernel32", "virus"}}));
  EXPECT_EQ(Quelix({"backups"}), 0);
  ASSERT_EQ(out_.size(), 2u);
  EXPECT_EQ(out_[0].rfind(first_name + "\t20", 0), 0u) << out_[0];
  EXPECT_NE(out_[0].find("Z\t1 files\t1 registry values\t" + tree_.Root()), std::string::npos);
  EXPECT_EQ(Quelix({"restore", "no-such-run"}), 2);
  EXPECT_EQ(Quelix({"backups", "--prune", "0"}), 0);
  EXPECT_EQ(out_.size(), 2u) << "both deleted";
  EXPECT_EQ(Quelix({"restore"}), 2) << "none left";
}

// A value not deleted is something that went wrong: named on standard error, while --json keeps
// its object among the other events on standard output.
TEST_F(QuelixTest, AValueNotDeletedIsNamedOnStandardError) {
  const size_t machine =
      registry_.AddStore(RegistryRoot::kLocalMachine, "HKEY_LOCAL_MACHINE", true);
  registry_.SetValue(machine, kRun, "Kernel32", "virus");
  registry_.FailDelete(machine, kRun, "Kernel32", {ErrorCode::kAccessDenied, "denied"});
  const std::string value = "HKEY_LOCAL_MACHINE\\" + kRun + "\\Kernel32";
  EXPECT_EQ(Quelix({"remove", "--json", "--no-log", "--no-backup", Root()}), 1);
  EXPECT_EQ(err_.front(), "quelix: not deleted " + value + ": access denied");
  ASSERT_EQ(out_.size(), 2u) << err_text_;
  EXPECT_EQ(out_[0], R"({"event":"registry_not_deleted","value":)" + JsonString(value) +
                         R"(,"store":"HKEY_LOCAL_MACHINE","key":)" + JsonString(kRun) +
                         R"(,"name":"Kernel32","reason":"access denied"})");
}

// `cd /srv && quelix remove www` records where www is: a restore from anywhere else finds it.
TEST_F(QuelixTest, ARestoreFromAnotherFolderFindsWhatARelativePathCleaned) {
  namespace fs = std::filesystem;
  tree_.Write("www/sub/p.htm", kInfected);
  const fs::path was = fs::current_path();
  fs::current_path(tree_.root());
  const int removed = Quelix({"remove", "--no-log", "--no-registry", "www"});
  const Lines removal = out_;
  fs::current_path(tree_.root().root_path());
  const int restored = Quelix({"restore"});
  fs::current_path(was);
  EXPECT_EQ(removed, 0);
  ASSERT_EQ(removal.size(), 2u);
  EXPECT_EQ(removal[1], "cleaned " + P("www/sub/p.htm"));
  EXPECT_EQ(restored, 0);
  EXPECT_EQ(out_, Lines{"restored " + P("www/sub/p.htm")});
  EXPECT_EQ(tree_.Read("www/sub/p.htm"), kInfected);
}

TEST_F(QuelixTest, NoRoomForTheOriginalsRemovesNothingUnlessToldNotToKeepThem) {
  tree_.Write("a.htm", kInfected);
  fs_.space = 1000;
  EXPECT_EQ(Quelix({"remove", "--no-log", Root()}), 2);
  ASSERT_EQ(err_.front().rfind("quelix: There is not enough room to keep the originals", 0), 0u);
  EXPECT_TRUE(err_.front().ends_with(
      " must stay free. Nothing more is removed; --no-backup removes without keeping them."))
      << err_.front();
  EXPECT_EQ(tree_.Read("a.htm"), kInfected);
  EXPECT_EQ(Quelix({"remove", "--no-log", "--no-backup", Root()}), 0);
  EXPECT_EQ(out_, (Lines{"cleaned " + P("a.htm")}));
}

// A run folder made for an original that could then not be kept holds nothing to restore: neither
// the command line nor the window points to it.
TEST_F(QuelixTest, KeptIsSaidOnlyOfARunThatHoldsAnOriginal) {
  tree_.Write("a.htm", kInfected);
  fs_.inject = [](const FsCall& call) -> std::optional<ErrorCode> {
    if (call.op == FsOp::kOpen && call.path.ends_with(".orig")) return ErrorCode::kDiskFull;
    return std::nullopt;
  };
  EXPECT_EQ(Quelix({"remove", "--no-log", Root()}), 1);
  EXPECT_EQ(out_, Lines{});
  EXPECT_EQ(err_.front(), "quelix: could not clean " + P("a.htm") +
                              ": the backup of the original could not be written (disk full)");
  EXPECT_EQ(err_text_.find("kept"), std::string::npos) << err_text_;
  controller().KeepOriginalsIn(log_dir_.Path("backups"));
  Scan();
  Remove();
  ASSERT_EQ(window_.messages.size(), 1u);
  EXPECT_EQ(window_.messages[0].find("kept"), std::string::npos) << window_.messages[0];
  EXPECT_EQ(tree_.Read("a.htm"), kInfected);
  // The window's "Restore the last removal…" offers nothing to put back either.
  window_.answer = true;
  EXPECT_FALSE(RestoreLastRemoval(controller(), window_, fs_, log_dir_.Path("backups"), opener_));
  EXPECT_EQ(window_.questions, Lines{});
  EXPECT_EQ(window_.messages.back(),
            "The last removal kept no originals, so there is nothing to restore.");
}

// The names of a cleaned file that the scan never read are found by the file number the
// listing gives (an inode, or a Windows file id), which must agree with what the file says.
TEST_F(QuelixTest, OtherNamesOfACleanedFileAreNamedBelowThePathAndCountedElsewhere) {
  tree_.Write("www/a.htm", kInfected);
  tree_.Write("www/sub/clean.htm", "<p>clean</p>");
  std::filesystem::create_hard_link(tree_.Path("www/a.htm"), tree_.Path("www/sub/copy.txt"));
  std::filesystem::create_hard_link(tree_.Path("www/a.htm"), tree_.Path("outside.txt"));
  EXPECT_EQ(Quelix({"remove", "--no-log", "--no-backup", "--no-registry", P("www")}), 1);
  ASSERT_GE(err_.size(), 3u) << err_text_;
  EXPECT_EQ(
      Lines(err_.begin(), err_.begin() + 3),
      (Lines{"quelix: 2 other names (hard links) of " + P("www/a.htm") + " still hold the virus",
             "quelix: still infected " + P("www/sub/copy.txt") + ": another name (hard link) of " +
                 P("www/a.htm"),
             "quelix: and 1 other name of " + P("www/a.htm") + " not found below " + P("www")}));
  EXPECT_EQ(tree_.Read("www/sub/copy.txt"), kInfected);
}

// `quelix scan /srv/www/index.php`: the file alone, from its folder, and nothing else there.
TEST_F(QuelixTest, AFileAsPathIsCheckedAndCleanedAlone) {
  const size_t machine =
      registry_.AddStore(RegistryRoot::kLocalMachine, "HKEY_LOCAL_MACHINE", true);
  registry_.SetValue(machine, kRun, "Kernel32", "virus");
  tree_.Write("www/index.php", kInfected);
  tree_.Write("www/other.htm", kInfected);
  tree_.Write("www/notes.txt", kInfected);
  EXPECT_EQ(Quelix({"scan", "--no-log", P("www/index.php")}), 1);
  EXPECT_EQ(out_, Lines{P("www/index.php")}) << "no sibling, no registry";
  EXPECT_EQ(Quelix({"scan", "--no-log", P("www/notes.txt")}), 0);
  EXPECT_EQ(err_.front(),
            "quelix: skipped " + P("www/notes.txt") + ": not a kind of file the virus infects");
  EXPECT_EQ(Quelix({"remove", "--no-log", P("www/index.php")}), 0);
  ASSERT_EQ(out_.size(), 2u);
  EXPECT_EQ(out_[1], "cleaned " + P("www/index.php"));
  EXPECT_EQ(tree_.Read("www/other.htm"), kInfected);
  EXPECT_EQ(Quelix({"restore"}), 0);
  EXPECT_EQ(tree_.Read("www/index.php"), kInfected);
}

// The registry belongs to the folder searched: its lines follow every file of that PATH, before
// the next PATH's; a file as PATH looks at no registry.
TEST_F(QuelixTest, RegistryLinesFollowTheFilesOfTheirFolder) {
  const size_t machine =
      registry_.AddStore(RegistryRoot::kLocalMachine, "HKEY_LOCAL_MACHINE", true);
  registry_.SetValue(machine, kRun, "Kernel32", "virus");
  tree_.Write("www/a.htm", kInfected);
  tree_.Write("www/sub/b.htm", kInfected);
  tree_.Write("one.htm", kInfected);
  const std::string value = "HKEY_LOCAL_MACHINE\\" + kRun + "\\Kernel32";
  struct Case {
    std::vector<std::string> options;
    Lines lines;  // text: the lines after "kept"; --json: the events
  };
  const Case cases[] = {
      {{"scan"}, {P("www/a.htm"), P("www/sub/b.htm"), "registry " + value, P("one.htm")}},
      {{"scan", "--json"}, {"found", "found", "registry_found", "found", "summary"}},
      {{"remove"},
       {"cleaned " + P("www/a.htm"), "cleaned " + P("www/sub/b.htm"), "deleted " + value,
        "cleaned " + P("one.htm")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.back());
    std::vector<std::string> args = c.options;
    for (const char* arg : {"--no-log", "--no-backup"}) args.push_back(arg);
    args.push_back(P("www"));
    args.push_back(P("one.htm"));
    EXPECT_EQ(Quelix(args), c.options[0] == "scan" ? 1 : 0) << err_text_;
    Lines said = out_;
    for (std::string& line : said) {
      if (line.starts_with("{\"event\":\"")) line = line.substr(10, line.find('"', 10) - 10);
    }
    EXPECT_EQ(said, c.lines);
  }
}

// A folder left out is not entered: one that cannot be listed costs nothing then.
TEST_F(QuelixTest, ExcludedFilesAndFoldersAreLeftOut) {
  for (const char* page :
       {"a.htm", "cache/b.htm", "site/cache/c.htm", "site/old.bak/d.htm", "site/e.asp"}) {
    tree_.Write(page, kInfected);
  }
  fs_.inject = [](const FsCall& call) -> std::optional<ErrorCode> {
    if (call.op == FsOp::kOpenDirectory && call.path.ends_with("cache")) {
      return ErrorCode::kAccessDenied;
    }
    return std::nullopt;
  };
  struct Case {
    std::vector<std::string> patterns;
    Lines found;  // below the root
    int status;
  };
  const Case cases[] = {
      {{"cache", "*/cache"}, {"a.htm", "site/old.bak/d.htm", "site/e.asp"}, 1},
      {{"*cache", "*.bak", "a.*", "site/e.*"}, {}, 0},
      {{"cache/*", "*/cache/*", "a.htm", "site/*"}, {}, 2},  // the cache folders are entered
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"scan", "--no-log", "--no-registry"};
    for (const std::string& pattern : c.patterns) {
      args.push_back("--exclude");
      args.push_back(pattern);
    }
    args.push_back(Root());
    EXPECT_EQ(Quelix(args), c.status) << c.patterns[0];
    Lines found;
    for (const std::string& name : c.found) found.push_back(P(name));
    if (c.status != 2) {
      EXPECT_EQ(out_, found) << c.patterns[0];
    }
  }
}

TEST_F(QuelixTest, ProgressOnlyOnATerminalAndAStopEndsAfterTheFileInHand) {
  for (int i = 0; i < 3; ++i) tree_.Write("p" + std::to_string(i) + ".htm", kInfected);
  EXPECT_EQ(Quelix({"scan", "--no-log", Root()}), 1);
  for (const std::string& line : err_) EXPECT_EQ(line.find('\r'), std::string::npos) << line;

  std::ostringstream err;
  FakeConsole terminal;
  terminal.terminal = true;
  terminal.columns = 40;
  CliFrontEnd front(err, terminal, true);
  front.SetBusyPointer(true);
  for (const char* page : {"/srv/www/a.htm", "/srv/www/b.htm"}) front.AppendCandidate(page);
  front.SetStatus("Scanning \r\n/srv/www/site-with-a-long-name/a.htm");
  front.ProcessEvents();
  EXPECT_EQ(err.str(), "\rchecked 1 of 2 files, 0.0 MB/s, /s...e/") << "shortened to fit";
  err.str("");
  for (const char* page : {"/srv/www/a.htm", "/srv/www/b.htm"}) front.AppendInfected(page);
  front.SetBusyPointer(true);
  front.SetStatus("Removing virus from \r\n/srv/www/b.htm");
  // The line is redrawn once a tenth of a second has passed since the last.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (err.str().empty() && std::chrono::steady_clock::now() < limit) front.ProcessEvents();
  EXPECT_EQ(err.str(), "\rcleaning 1 of 2 files, /srv/www/b.htm  ") << "over the line before";

  // Ctrl+C as soon as the first file is cleaned: the removal goes no further.
  const auto cleaned = [this] {
    int n = 0;
    for (int i = 0; i < 3; ++i) n += tree_.Read("p" + std::to_string(i) + ".htm") == "page\r\n";
    return n;
  };
  console_.stop = [&] { return cleaned() > 0; };
  EXPECT_EQ(Quelix({"remove", "--log", log_dir_.Path("l.txt"), Root()}), 130);
  EXPECT_EQ(err_.back(), "quelix: stopped; every file is either as it was or cleaned");
  EXPECT_EQ(cleaned(), 1);
  EXPECT_EQ(Split(log_dir_.Read("l.txt")).back(),
            "Virus removal stopped: the program was interrupted.\r");
}

// The backup folder, the run asked for and the arguments come from the environment and the user:
// shown escaped. (A C1 control in the folder's name: Windows takes no C0 control in a name.)
TEST_F(QuelixTest, MessagesShowNamesEscaped) {
  places_.backup_folder = log_dir_.Path("st\xc2\x9bte");
  struct Case {
    std::vector<std::string> args;
    std::string start;
    std::string end;
  };
  const Case cases[] = {
      {{"backups"}, "no backups are kept in ", "st\\xc2\\x9bte"},
      {{"restore", "run\n1"},
       "quelix: cannot restore: no run run\\n1 is kept in ",
       "st\\xc2\\x9bte"},
      {{"scan\x1b[2J"}, "quelix: unknown command scan\\x1b[2J", " (try quelix --help)"},
  };
  for (const Case& c : cases) {
    Quelix(c.args);
    ASSERT_EQ(err_.size(), 1u) << err_text_;
    EXPECT_TRUE(err_[0].starts_with(c.start) && err_[0].ends_with(c.end)) << err_[0];
  }
}

}  // namespace
}  // namespace quelix
