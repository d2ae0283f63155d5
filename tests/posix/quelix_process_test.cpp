// `quelix` as its own process, the way a script or a person at a terminal meets it: its exit
// status on the trees users have, its results streamed into a pipe while it runs and still there
// after Ctrl+C, its JSON Lines, and its silence with -q.
#include "tests/posix/quelix_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/signature.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {
namespace fs = std::filesystem;

const std::string kInfected = "page\r\n" + MarkerLine() + "\r\n" + SignatureLine() + "\r\n";

struct Ran {
  int status;
  std::vector<std::string> out;
  std::string err;
};

Ran RunQuelix(const TempTree& state, std::vector<std::string> args) {
  QuelixProcess quelix(state, std::move(args));
  std::vector<std::string> out = quelix.RestOfOutput();
  const int status = quelix.Wait();
  return {status, out, quelix.Errors()};
}

// A chain of `levels` folders below `top`, each given to kProcessUser (too deep for a path).
void Nest(const std::string& top, int levels) {
  int dir = open(top.c_str(), O_DIRECTORY | O_RDONLY);
  for (int i = 0; i < levels && dir >= 0; ++i) {
    mkdirat(dir, "d", 0755);
    const int next = openat(dir, "d", O_DIRECTORY | O_RDONLY);
    if (geteuid() == 0 && next >= 0) fchown(next, kProcessUser, kProcessUser);
    close(dir);
    dir = next;
  }
  if (dir >= 0) close(dir);
}

// Removes the chain Nest made, top down: each folder's child takes its place.
void Unnest(const std::string& top) {
  const int root = open(top.c_str(), O_DIRECTORY | O_RDONLY);
  for (int d; (d = openat(root, "d", O_DIRECTORY | O_RDONLY)) >= 0;) {
    const bool deeper = renameat(d, "d", root, "next") == 0;
    close(d);
    unlinkat(root, "d", AT_REMOVEDIR);
    if (!deeper || renameat(root, "next", root, "d") != 0) break;
  }
  close(root);
}

TEST(QuelixProcessTest, ExitStatusTellsWhatWasFoundAndWhatCouldNotBeLookedAt) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to run quelix as another user";
  struct Case {
    const char* name;
    std::function<void(const TempTree&)> lay;
    int depth;  // folders nested below the root
    int scan;
    int remove;
    std::string said;  // on standard error, "{}" standing for the root
  };
  const Case cases[] = {
      {"clean", [](const TempTree&) {}, 0, 0, 0, ""},
      {"infected", [](const TempTree& t) { t.Write("a.htm", kInfected); }, 0, 1, 0, ""},
      {"link to a page",
       [](const TempTree& t) { fs::create_symlink("ok.htm", t.Path("link.htm")); }, 0, 0, 0,
       "quelix: skipped {}link.htm: it is a link"},
      {"unreadable", [](const TempTree& t) { chmod(t.Path("ok.htm").c_str(), 0); }, 0, 2, 2,
       "quelix: could not read {}ok.htm: access denied"},
      {"unreadable and infected",
       [](const TempTree& t) {
         t.Write("a.htm", kInfected);
         chmod(t.Path("ok.htm").c_str(), 0);
       },
       0, 1, 2, "quelix: could not read {}ok.htm"},
      {"folder not searched",
       [](const TempTree& t) {
         t.MakeDirectory("closed");
         chmod(t.Path("closed").c_str(), 0);
       },
       0, 2, 2, "quelix: could not search {}closed/: access denied"},
      {"too deep", [](const TempTree&) {}, 4100, 2, 2, "quelix: could not search {}d/d/d/"},
      {"not cleaned",
       [](const TempTree& t) {
         t.Write("ro/a.htm", kInfected);
         chmod(t.Path("ro").c_str(), 0555);
       },
       0, 1, 1, "quelix: could not clean {}ro/a.htm: "},
  };
  for (const Case& c : cases) {
    // A chain of folders too deep for a path takes long to remove from a disk, not from memory.
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string was = tmpdir ? tmpdir : "";
    if (c.depth > 0 && fs::is_directory("/dev/shm")) setenv("TMPDIR", "/dev/shm", 1);
    TempTree tree;
    tmpdir ? setenv("TMPDIR", was.c_str(), 1) : unsetenv("TMPDIR");
    TempTree state;
    tree.Write("ok.htm", "<p>clean</p>");
    c.lay(tree);
    GiveAway(tree.root());
    GiveAway(state.root());
    Nest(tree.Root(), c.depth);
    const std::string root = tree.root().string();
    // The scan first, and quiet: silent unless something is found or goes wrong.
    for (const bool remove : {false, true}) {
      const Ran ran = remove ? RunQuelix(state, {"remove", "--no-log", "--no-registry", root})
                             : RunQuelix(state, {"scan", "-q", "--no-log", "--no-registry", root});
      const std::string what = std::string(c.name) + (remove ? " remove" : " scan");
      EXPECT_EQ(ran.status, remove ? c.remove : c.scan) << what << ":\n" << ran.err;
      std::string said = c.said;
      if (const size_t at = said.find("{}"); at != std::string::npos) {
        said.replace(at, 2, tree.Root());
      }
      const bool about_cleaning = said.find("could not clean") != std::string::npos;
      if (remove || (ran.status != 0 && !about_cleaning)) {
        EXPECT_NE(ran.err.find(said), std::string::npos) << what << ":\n" << ran.err;
      } else if (ran.status == 0) {
        EXPECT_EQ(ran.err + (ran.out.empty() ? "" : ran.out[0]), "") << what << ": -q";
      }
    }
    Unnest(tree.Root());
  }
}

// Ctrl+C while a removal runs: the lines of the files cleaned so far are in the pipe, each written
// as its file was done, with the backup run named before them; with --json a summary that says
// the run was stopped and counts what it cleaned comes last.
TEST(QuelixProcessTest, CtrlCLeavesALineForEveryFileCleaned) {
  struct Form {
    const char* option;
    std::string kept, cleaned, end;  // how the lines begin, and end after the path
  };
  for (const Form& form : {Form{"--no-log", "kept ", "cleaned ", ""},
                           Form{"--json", R"({"event":"kept","run":")",
                                R"({"event":"cleaned","path":")", R"(","other_names":0})"}}) {
    SCOPED_TRACE(form.option);
    TempTree tree;
    TempTree state;
    constexpr int kFiles = 1500;
    for (int i = 0; i < kFiles; ++i) {
      tree.Write("d" + std::to_string(i % 10) + "/p" + std::to_string(i) + ".htm", kInfected);
    }
    GiveAway(tree.root());
    GiveAway(state.root());
    QuelixProcess quelix(
        state, {"remove", "--no-log", form.option, "--no-registry", tree.root().string()});
    std::vector<std::string> lines;
    for (std::string line; lines.size() < 2 && quelix.ReadLine(&line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u) << quelix.Errors();
    EXPECT_TRUE(quelix.Running()) << "the first results came only at the end";
    quelix.Signal(SIGINT);
    for (const std::string& line : quelix.RestOfOutput()) lines.push_back(line);
    EXPECT_EQ(quelix.Wait(), 130) << quelix.Errors();
    EXPECT_EQ(lines[0].rfind(form.kept + state.Path("quelix-remover"), 0), 0u) << lines[0];
    std::string summary;
    if (!form.end.empty()) {
      summary = lines.back();
      lines.pop_back();
    }
    int cleaned_on_disk = 0;
    for (int i = 0; i < kFiles; ++i) {
      cleaned_on_disk +=
          tree.Read("d" + std::to_string(i % 10) + "/p" + std::to_string(i) + ".htm") == "page\r\n";
    }
    EXPECT_EQ(static_cast<int>(lines.size()) - 1, cleaned_on_disk);
    EXPECT_LT(cleaned_on_disk, kFiles) << "stopped before the end";
    for (size_t i = 1; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      ASSERT_EQ(line.rfind(form.cleaned + tree.Root(), 0), 0u) << line;
      const size_t path_end = line.size() - form.end.size();
      ASSERT_EQ(line.substr(path_end), form.end) << line;
      const size_t from = form.cleaned.size() + tree.Root().size();
      EXPECT_EQ(tree.Read(line.substr(from, path_end - from)), "page\r\n") << line;
    }
    if (!form.end.empty()) {
      EXPECT_EQ(summary.rfind(R"({"event":"summary","command":"remove",)", 0), 0u) << summary;
      for (const std::string& field : {R"("cleaned":)" + std::to_string(cleaned_on_disk) + ",",
                                       std::string(R"("stopped":true,"exit_status":130})")}) {
        EXPECT_NE(summary.find(field), std::string::npos) << field << " in " << summary;
      }
    }
    const std::string errors = quelix.Errors();
    EXPECT_NE(errors.find("quelix: stopped"), std::string::npos) << errors;
    EXPECT_EQ(errors.find('\r'), std::string::npos) << "no progress into a file";
  }
}

// Hard links: the names the scan found are cleaned each in its turn, so nothing is said to be
// left of them; a name it never read still holds the virus: named where it lies below the PATH,
// counted where it lies elsewhere, and the exit status says so.
TEST(QuelixProcessTest, OtherNamesOfACleanedFileAreCleanedOrTold) {
  struct Case {
    const char* other;   // the second name of a.htm, below the PATH
    bool third_outside;  // a third name outside the PATH
    int status;
    std::string other_holds;        // what the second name holds afterwards
    std::vector<std::string> told;  // on standard error, "{}" standing for the PATH
  };
  const Case cases[] = {
      {"sub/b.htm", false, 0, "page\r\n", {}},
      {"sub/copy.txt",
       true,
       1,
       kInfected,
       {"quelix: 2 other names (hard links) of {}a.htm still hold the virus\n",
        "quelix: still infected {}sub/copy.txt: another name (hard link) of {}a.htm\n",
        "quelix: and 1 other name of {}a.htm not found below {}\n"}},
  };
  for (const Case& c : cases) {
    TempTree tree;
    TempTree outside;
    TempTree state;
    tree.Write("a.htm", kInfected);
    tree.MakeDirectory("sub");
    fs::create_hard_link(tree.Path("a.htm"), tree.Path(c.other));
    if (c.third_outside) fs::create_hard_link(tree.Path("a.htm"), outside.Path("c.htm"));
    GiveAway(tree.root());
    GiveAway(state.root());
    const Ran ran = RunQuelix(state, {"remove", "--no-log", "--no-registry", tree.Root()});
    EXPECT_EQ(ran.status, c.status) << c.other << ":\n" << ran.err;
    EXPECT_EQ(tree.Read("a.htm"), "page\r\n") << c.other;
    EXPECT_EQ(tree.Read(c.other), c.other_holds) << c.other;
    std::string told;
    for (std::string line : c.told) {
      for (size_t at; (at = line.find("{}")) != std::string::npos;)
        line.replace(at, 2, tree.Root());
      told += line;
    }
    std::string problems;
    for (size_t at = 0, end; (end = ran.err.find('\n', at)) != std::string::npos; at = end + 1) {
      if (ran.err.compare(at, 8, "quelix: ") == 0) problems += ran.err.substr(at, end + 1 - at);
    }
    EXPECT_EQ(problems, told) << c.other;
  }
}

TEST(QuelixProcessTest, JsonLinesNameEveryFileExactly) {
  TempTree tree;
  TempTree state;
  for (const char* name : {"new\nline.htm", "q\"uote\\.htm", "bad\xff.htm"}) {
    tree.Write(name, kInfected);
  }
  fs::create_symlink("bad\xff.htm", tree.Path("link.htm"));
  GiveAway(tree.root());
  GiveAway(state.root());
  const Ran ran = RunQuelix(state, {"scan", "--json", "--no-log", "--no-registry", tree.Root()});
  EXPECT_EQ(ran.status, 1);
  std::vector<std::string> sorted(ran.out.begin(), ran.out.end());
  std::sort(sorted.begin(), sorted.end());
  const std::string root = tree.Root();
  ASSERT_EQ(sorted.size(), 5u) << ran.err;
  EXPECT_EQ(sorted[0], R"({"event":"found","path":")" + root + R"(bad\udcff.htm"})");
  EXPECT_EQ(sorted[1], R"({"event":"found","path":")" + root + R"(new\nline.htm"})");
  EXPECT_EQ(sorted[2], R"({"event":"found","path":")" + root + R"(q\"uote\\.htm"})");
  EXPECT_EQ(sorted[3], R"({"event":"skipped","path":")" + root +
                           R"(link.htm","reason":"it is a link, or lies behind one"})");
  EXPECT_EQ(ran.out.back().rfind(R"({"event":"summary","command":"scan","checked":4,)"
                                 R"("infected":3,"could_not_read":0,"could_not_search":0,)"
                                 R"("skipped":1,"cleaned":0,"not_cleaned":0,"seconds":)",
                                 0),
            0u)
      << ran.out.back();
  EXPECT_NE(ran.out.back().find(R"(,"exit_status":1})"), std::string::npos) << ran.out.back();
}

}  // namespace
}  // namespace quelix
