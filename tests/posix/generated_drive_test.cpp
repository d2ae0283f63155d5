// The Scan command on generated drives: deep trees of pages, scripts and other files with
// infections and near misses of every kind. The generator works out the infected list on its own
// (counting what it planted, listing the written tree with readdir), so the engine must match it
// entry for entry, in order.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <unordered_set>

#include "bench/drive_generator.h"
#include "engine/candidate_opener.h"
#include "engine/engine.h"
#include "engine/folder_read_ahead.h"
#include "engine/signature.h"
#include "tests/support/fake_window.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

using bench::CountSignatureFields;
using bench::DriveReport;
using bench::DriveSpec;
using List = std::vector<std::string>;

List ReadLines(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  List lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

DriveReport Generate(const TempTree& tree, const std::string& name, const DriveSpec& spec) {
  DriveReport report;
  std::string error;
  EXPECT_TRUE(bench::GenerateDrive((tree.root() / name).string(), spec, &report, &error)) << error;
  return report;
}

DriveReport Generate(const TempTree& tree, const std::string& name, uint64_t seed) {
  return Generate(tree, name, DriveSpec{seed, 400, 6ull << 20});
}

// The shapes the benchmark measures, small: the plain one, and one 20 levels deep with long
// names and one folder far larger than the rest.
TEST(GeneratedDriveTest, ScanGivesTheExpectedInfectedListInOrder) {
  DriveSpec deep{3, 400, 6ull << 20, 30, 20};
  deep.largest = 150;
  deep.name_length = 60;
  for (const DriveSpec& spec :
       {DriveSpec{1, 400, 6ull << 20}, DriveSpec{2, 400, 6ull << 20}, deep}) {
    SCOPED_TRACE("seed " + std::to_string(spec.seed));
    TempTree tree;
    const DriveReport report = Generate(tree, "gen", spec);
    EXPECT_EQ(ReadLines(tree.root() / "gen" / "expected.txt"), report.expected);
    // Every kind of infection is there: a file listed twice, and more than a handful in all.
    EXPECT_GE(report.infected_files, 9u);
    EXPECT_GE(report.near_misses, 4u);
    EXPECT_GT(report.expected.size(), report.infected_files);

    FakeWindow window;
    window.root = report.root;
    auto fs = CreateNativeFileSystem();
    Engine engine(window, window, *fs, CreateNativeRegistry);
    ASSERT_TRUE(engine.ScanCommand());
    EXPECT_EQ(window.infected, report.expected);

    // The walk's order of the regular candidates; the rest of the list is the directories that
    // are named like candidates.
    const std::unordered_set<std::string> files(report.candidates.begin(), report.candidates.end());
    List listed_files;
    List listed_others;
    for (const std::string& path : window.candidates) {
      (files.count(path) ? listed_files : listed_others).push_back(path);
    }
    EXPECT_EQ(listed_files, report.candidates);
    ASSERT_EQ(listed_others.size(), 3u);
    for (const std::string& path : listed_others) {
      EXPECT_TRUE(std::filesystem::is_directory(path)) << path;
    }
  }
}

size_t EntriesIn(const char* folder) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

size_t OpenDescriptors() {
  return EntriesIn("/proc/self/fd");
}

// Empties the page cache where the test may (as root): the next reads wait for the storage.
void DropCachesWherePermitted() {
  if (::access("/proc/sys/vm/drop_caches", W_OK) != 0) return;
  ::sync();
  std::ofstream("/proc/sys/vm/drop_caches") << "3\n";
}

// The scan opens the candidates ahead of their turn and asks for their reading: cold or warm,
// the list is the one reading them one after another gives. (No more files are held than the
// process may: FewFilesAllowedStillReadEveryPage.)
TEST(GeneratedDriveTest, ReadingAheadListsTheSameColdAndWarm) {
  TempTree tree;
  const DriveReport report = Generate(tree, "gen", 4);
  std::map<bool, List> events;
  for (const bool cold : {true, false}) {
    if (cold) DropCachesWherePermitted();
    FakeWindow window;
    window.root = report.root;
    auto fs = CreateNativeFileSystem();
    Engine engine(window, window, *fs, CreateNativeRegistry);
    const size_t before = OpenDescriptors();
    const size_t threads = EntriesIn("/proc/self/task");
    size_t most = 0;
    size_t most_while_searching = 0;
    // The walk took the disk for cold: more helpers list its folders than on a warm one.
    bool listed_ahead = false;
    window.on_yield = [&](int) {
      most = std::max(most, OpenDescriptors());
      if (window.infected.empty() && !window.statuses.empty() &&
          window.statuses.back().rfind("Scanning ", 0) != 0) {
        most_while_searching = most;
        listed_ahead |= EntriesIn("/proc/self/task") > threads + FolderReadAhead::kListersWarm;
      }
      return true;
    };
    ASSERT_TRUE(engine.ScanCommand());
    EXPECT_EQ(window.infected, report.expected) << (cold ? "cold" : "warm");
    // Statuses and log entries in the same order, however far ahead the helpers were.
    events[cold] = window.events;
    EXPECT_GT(most, before + 8) << "the read-ahead is at work";
    // Where the walk took the disk for cold, the pages found are opened, and their reading asked
    // for, while it still lists folders.
    if (listed_ahead) {
      EXPECT_GT(most_while_searching, before + 8);
    }
  }
  EXPECT_EQ(events[true], events[false]);
}

// Waits (for a minute at most) until the process holds `count` descriptors; true where it does.
bool HoldsDescriptors(size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (OpenDescriptors() < count && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  return OpenDescriptors() == count;
}

// While the search still lists a cold disk, the pages it found are opened on the helpers, also
// those after a name the listing did not give as a regular file (a folder named like a page, left
// to the scan's thread); the scan then takes every candidate in list order, each the file its name
// gives.
TEST(GeneratedDriveTest, PagesOpenedWhileTheSearchListsAreTheListsFilesInOrder) {
  TempTree tree;
  List names;
  for (int i = 0; i < 100; ++i) {
    if (i == 60) {
      tree.MakeDirectory("d/folder.htm");
      names.push_back(tree.Path("d/folder.htm"));
    }
    tree.Write("d/p" + std::to_string(i) + ".htm", "<html>\n");
    names.push_back(tree.Path("d/p" + std::to_string(i) + ".htm"));
  }
  auto fs = CreateNativeFileSystem();
  SearchedTree searched(*fs);
  ASSERT_TRUE(searched.Open(tree.Root()).ok());
  const size_t before = OpenDescriptors();
  CandidateOpener opener(
      searched, 0, [&](size_t i) { return names[i]; }, [](size_t i) { return i != 60; }, true);
  ASSERT_GT(opener.helpers(), 0u);
  opener.Extend(50);  // found so far
  EXPECT_TRUE(HoldsDescriptors(before + opener.helpers() + 50));
  opener.Extend(names.size());
  EXPECT_TRUE(HoldsDescriptors(before + opener.helpers() + names.size() - 1));
  for (size_t i = 0; i < names.size(); ++i) {
    CandidateOpener::Opened opened = opener.TakeNext();
    if (i == 60) {
      EXPECT_EQ(opened.status.code(), ErrorCode::kNotAFile) << opened.status.message();
      continue;
    }
    ASSERT_TRUE(opened.status.ok()) << names[i] << ": " << opened.status.message();
    FileInfo held;
    FileInfo named;
    ASSERT_TRUE(opened.file->GetInfo(&held).ok() && fs->GetInfo(names[i], &named).ok());
    EXPECT_EQ(held.file_id, named.file_id) << names[i];
    opener.Done(std::move(opened.file));
  }
}

// Where the scan's thread opens the candidates itself (names the listing did not give as regular
// files: no helper opens them), the files it has read are still closed as it goes.
TEST(GeneratedDriveTest, FilesTheScanOpensItselfAreClosedAsItGoes) {
  TempTree tree;
  List names;
  for (int i = 0; i < 300; ++i) {
    tree.Write("d/p" + std::to_string(i) + ".htm", "<html>\n");
    names.push_back(tree.Path("d/p" + std::to_string(i) + ".htm"));
  }
  auto fs = CreateNativeFileSystem();
  SearchedTree searched(*fs);
  ASSERT_TRUE(searched.Open(tree.Root()).ok());
  CandidateOpener opener(
      searched, names.size(), [&](size_t i) { return names[i]; }, [](size_t) { return false; });
  ASSERT_GT(opener.helpers(), 0u);
  const size_t before = OpenDescriptors();
  size_t most = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    CandidateOpener::Opened opened = opener.TakeNext();
    ASSERT_TRUE(opened.status.ok()) << opened.status.message();
    opener.Done(std::move(opened.file));
    most = std::max(most, OpenDescriptors());
  }
  // The lead, the files read since the helpers were last woken (half a lead at most), and what
  // the helpers hold of their own.
  EXPECT_LE(most, before + CandidateOpener::kAheadWarm * 3 / 2 +
                      opener.helpers() * CandidateOpener::kHeldByEachHelper + 4);
}

// Sorted "relative path: size: content digest" of every file under `root`.
List Describe(const std::filesystem::path& root) {
  List entries;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    std::string line = std::filesystem::relative(e.path(), root).string();
    if (e.is_regular_file()) {
      std::ifstream in(e.path(), std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      line += ": " + std::to_string(std::hash<std::string>{}(content.str()));
    }
    entries.push_back(line);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// How a scan meets a short supply of descriptors.
struct FewFiles {
  rlim_t allowed;      // the process's limit
  bool cold;           // whether each scan starts with a cold disk
  int times;           // scans in a row
  int spare = -1;      // where not -1, all descriptors but these held before the scans, as a
                       // program that starts us may hold them
  bool taken = false;  // all taken by another part of the process mid-scan
};

// Opens /dev/null until the process may open no more, then closes `spare` of them.
void TakeAllDescriptorsBut(int spare) {
  std::vector<int> taken;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken.push_back(fd);
  for (int i = 0; i < spare && !taken.empty(); ++i, taken.pop_back()) ::close(taken.back());
}

// Scans the drive as `how` says; true where every page was read and the list was the expected one
// every time. Run in a child: the limit cannot be raised again. A first scan runs before the
// limit: the undefined-behaviour sanitizer needs a descriptor the first time it checks an
// object's type, and would take a refused one for a broken object.
bool ScanWithFewFilesAllowed(const DriveReport& report, const FewFiles& how) {
  auto fs = CreateNativeFileSystem();
  for (int i = -1; i < how.times; ++i) {
    const rlimit few{how.allowed, how.allowed};
    if (i == 0) ::setrlimit(RLIMIT_NOFILE, &few);
    if (i == 0 && how.spare >= 0) TakeAllDescriptorsBut(how.spare);
    if (how.cold) DropCachesWherePermitted();
    FakeWindow window;
    window.root = report.root;
    bool take = i == how.times - 1 && how.taken;
    window.on_yield = [&](int) {
      if (take && !window.statuses.empty() && window.statuses.back().rfind("Scanning ", 0) == 0) {
        TakeAllDescriptorsBut(0);
        take = false;
      }
      return true;
    };
    Engine engine(window, window, *fs, CreateNativeRegistry);
    if (!engine.ScanCommand() || engine.scan_report().unreadable != 0 ||
        window.infected != report.expected) {
      return false;
    }
  }
  return true;
}

// A process allowed few files, or left few by what it holds: the helpers open no further ahead
// than it may, their own handles counted, and where the descriptors run out all the same they
// let go of what they hold, so that no page is told unreadable for want of a descriptor. Warm,
// the helpers' batches hold the most at once; a shortfall there came and went with timing, hence
// the repeated scans.
TEST(GeneratedDriveTest, FewFilesAllowedStillReadEveryPage) {
  TempTree tree;
  const DriveReport report = Generate(tree, "gen", DriveSpec{6, 3000, 12ull << 20});
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Fewer than the lead of a warm disk, too: the lead is cut down to what the process may hold.
  for (const FewFiles how :
       {FewFiles{64, true, 1}, FewFiles{32, true, 1}, FewFiles{12, false, 10},
        FewFiles{16, false, 10}, FewFiles{300, false, 10}, FewFiles{300, false, 5, 46},
        FewFiles{12, false, 3, 3}, FewFiles{1000, false, 3, -1, true}}) {
    EXPECT_EXIT(std::_Exit(ScanWithFewFilesAllowed(report, how) ? 0 : 1),
                ::testing::ExitedWithCode(0), "")
        << how.allowed << " files allowed, " << how.spare << " spare, taken: " << how.taken;
  }
}

size_t Scanned(const FakeWindow& window) {
  return std::count_if(window.statuses.begin(), window.statuses.end(),
                       [](const std::string& text) { return text.rfind("Scanning ", 0) == 0; });
}

// The window closed while the search lists the drive, or the scan reads it, cold, with folders
// listed ahead and pages opened ahead on the helpers: the command ends at once, and every folder
// and file the helpers held is let go.
TEST(GeneratedDriveTest, ClosingMidCommandStopsTheHelpersAndLeavesNothingOpen) {
  TempTree tree;
  const DriveReport report = Generate(tree, "gen", 5);
  struct Row {
    int search_yield;  // closed at this yield of the search, or
    size_t scanned;    // once this many candidates were scanned
  };
  for (const Row row : {Row{1, 0}, Row{40, 0}, Row{400, 0}, Row{0, 1}, Row{0, 100}}) {
    SCOPED_TRACE("closed at yield " + std::to_string(row.search_yield) + " or after scanning " +
                 std::to_string(row.scanned));
    DropCachesWherePermitted();
    const size_t before = OpenDescriptors();
    {
      FakeWindow window;
      window.root = report.root;
      auto fs = CreateNativeFileSystem();
      Engine engine(window, window, *fs, CreateNativeRegistry);
      window.on_yield = [&](int yield) {
        return row.scanned == 0 ? yield < row.search_yield : Scanned(window) < row.scanned;
      };
      EXPECT_FALSE(engine.ScanCommand());
      if (row.scanned > 0) {
        EXPECT_EQ(Scanned(window), row.scanned);
      }
    }
    EXPECT_EQ(OpenDescriptors(), before);
  }
}

size_t Threads() {
  return EntriesIn("/proc/self/task");
}

// A busy machine holds the walk up on a warm disk: its listings are slow but read nothing from
// the storage, so no helper lists the folders a second time.
TEST(GeneratedDriveTest, SlowListingsOnAWarmDiskStartNoFolderHelpers) {
  TempTree tree;
  const DriveReport report = Generate(tree, "gen", 7);  // just written: in memory
  FakeWindow window;
  window.root = report.root;
  auto fs = CreateNativeFileSystem();
  Engine engine(window, window, *fs, CreateNativeRegistry);
  const size_t before = Threads();
  size_t most_while_searching = 0;
  window.on_yield = [&](int yield) {
    if (Scanned(window) > 0) return true;
    // Held up inside the first listings, as a busy machine would.
    if (yield <= 20) std::this_thread::sleep_for(std::chrono::milliseconds(3));
    most_while_searching = std::max(most_while_searching, Threads());
    return true;
  };
  ASSERT_TRUE(engine.ScanCommand());
  EXPECT_EQ(window.infected, report.expected);
  EXPECT_EQ(most_while_searching, before);
}

TEST(GeneratedDriveTest, TheSeedDecidesTheDrive) {
  TempTree tree;
  Generate(tree, "a", 7);
  Generate(tree, "b", 7);
  Generate(tree, "c", 8);
  const List a = Describe(tree.root() / "a" / "drive");
  EXPECT_GT(a.size(), 400u);
  EXPECT_EQ(a, Describe(tree.root() / "b" / "drive"));
  EXPECT_NE(a, Describe(tree.root() / "c" / "drive"));
}

TEST(GeneratedDriveTest, RefusesToWriteOverAnExistingDrive) {
  TempTree tree;
  tree.Write("gen/drive/keep.txt", "mine");
  DriveReport report;
  std::string error;
  EXPECT_FALSE(bench::GenerateDrive((tree.root() / "gen").string(), DriveSpec{1, 50, 1 << 20},
                                    &report, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(tree.Read("gen/drive/keep.txt"), "mine");
}

// The expectation rests on the generator's own field counting; it must agree with the rules of
// the field reader on the cases the drive holds.
TEST(GeneratedDriveTest, FieldCountingFollowsTheFieldReader) {
  const std::string sig = bench::BenchSignature();
  ASSERT_EQ(sig, SignatureLine());
  ASSERT_EQ(bench::BenchMarker(), MarkerLine());
  std::string case_changed = sig;
  case_changed[0] = 'D';
  const std::map<std::string, size_t> cases = {
      {sig, 1},
      {"a\r\n" + sig + "\r\nb", 1},
      {"a\r" + sig + "\rb", 1},
      {" \t " + sig + "\n", 1},
      {sig + " \t\n", 1},
      {sig + ",more\n", 1},
      {"x," + sig + "\n", 1},
      {"x, " + sig + ",y\n" + sig, 2},
      {"\"x\"," + sig + "\n", 1},
      {"\"x\" trailing text," + sig + "\n", 1},
      {"", 0},
      {case_changed + "\n", 0},
      {sig.substr(0, sig.size() - 1), 0},
      {"\"a note\n" + sig + "\n", 0},
      {"\"a note\n" + sig + "\n" + sig + "\n", 1},
      {sig + " more\n", 0},
      {sig + ";\n", 0},
      {"x" + sig + "\n", 0},
      {std::string("\0\x01\n", 3) + sig + "\n" + std::string("\0", 1), 1},
  };
  for (const auto& [text, count] : cases) {
    EXPECT_EQ(CountSignatureFields(text, sig), count) << text;
  }
}

TEST(GeneratedDriveTest, PatternMatchingIsTheProgramsRule) {
  size_t pattern = 99;
  EXPECT_TRUE(bench::MatchesCandidatePattern("index.HTML", &pattern));
  EXPECT_EQ(pattern, 0u);
  EXPECT_TRUE(bench::MatchesCandidatePattern(".php3", &pattern));
  EXPECT_EQ(pattern, 2u);
  EXPECT_TRUE(bench::MatchesCandidatePattern("FOLDER.HTT", &pattern));
  EXPECT_EQ(pattern, 5u);
  EXPECT_TRUE(bench::MatchesCandidatePattern("a.b.vbs", &pattern));
  EXPECT_EQ(pattern, 4u);
  EXPECT_FALSE(bench::MatchesCandidatePattern("page.htm.bak", &pattern));
  EXPECT_FALSE(bench::MatchesCandidatePattern("page.ht", &pattern));
  EXPECT_FALSE(bench::MatchesCandidatePattern("htm", &pattern));
  EXPECT_FALSE(bench::MatchesCandidatePattern("xfolder.htt", &pattern));
  EXPECT_FALSE(bench::MatchesCandidatePattern("script.js", &pattern));
}

}  // namespace
}  // namespace quelix
