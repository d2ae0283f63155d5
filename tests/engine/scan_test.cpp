#include "engine/scan.h"

#include <gtest/gtest.h>

#include <random>

#include "engine/engine.h"
#include "engine/signature.h"
#include "tests/support/fake_window.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/temp_tree.h"
#include "tests/support/text_input.h"

namespace quelix {
namespace {

const std::string kSig = SignatureLine();

TEST(SignatureTest, LinesAreTheVirusOwn) {
  EXPECT_EQ(kSig.size(), 225u);
  EXPECT_EQ(kSig.substr(0, 16), "document.write \"");
  EXPECT_EQ(kSig.substr(kSig.size() - 27), "XComponent></APPLET></div>\"");
  EXPECT_EQ(kSig.find(','), std::string::npos);
  EXPECT_NE(kSig.find("\"&\"APPLET NAME=KJ\"&\"_guest HEIGHT=0 WIDTH=0 code=com.ms.\"&\"activeX"),
            std::string::npos);
  EXPECT_EQ(MarkerLine(), "<BODY onload=\"vbscript:KJ_start()\">");
  EXPECT_EQ(MarkerLine().size(), 35u);
}

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override { window_.root = tree_.root().string(); }
  void TearDown() override {
    fs_.EndHooks();
    window_.EndHooks();
  }

  // Runs the Scan command over the tree and returns the infected list.
  std::vector<std::string> Scan() {
    Engine engine(window_, window_, fs_, CreateNativeRegistry);
    EXPECT_TRUE(engine.ScanCommand());
    return window_.infected;
  }
  std::string P(const std::string& relative) { return tree_.Path(relative); }

  TempTree tree_;
  FakeWindow window_;
  std::unique_ptr<FileSystem> native_ = CreateNativeFileSystem();
  FaultFileSystem fs_{*native_};
};

using List = std::vector<std::string>;

TEST_F(ScanTest, FindsTheSignatureWhereverItIsAField) {
  tree_.Write("plain.htm", "<html>\r\n" + MarkerLine() + "\r\n" + kSig + "\r\n</html>\r\n");
  tree_.Write("blanks.asp", "  \t" + kSig + "  \n");
  tree_.Write("comma.php", kSig + ",more text\n");
  tree_.Write("after.jsp", "x, " + kSig + "\n");
  tree_.Write("twice.vbs", kSig + "\r\n" + kSig);
  tree_.Write("folder.htt", "no virus here\n");
  EXPECT_EQ(Scan(), (List{P("plain.htm"), P("blanks.asp"), P("comma.php"), P("after.jsp"),
                          P("twice.vbs"), P("twice.vbs")}));
  EXPECT_EQ(window_.statuses.back(), "Scan complete. The list of infected files is given above.");
  EXPECT_FALSE(window_.candidates_visible);
  EXPECT_TRUE(window_.infected_visible);
}

TEST_F(ScanTest, NearMissesAreNotFlagged) {
  std::string one_letter = kSig;
  one_letter[17] = 'D';  // <div becomes <Div
  tree_.Write("case.htm", one_letter + "\n");
  tree_.Write("cut.htm", kSig.substr(0, 200));
  tree_.Write("quoted.htm", "\"" + kSig + "\"\n");
  tree_.Write("glued.htm", kSig + " and more\n");
  tree_.Write("inside.htm", "a " + kSig + "\n");
  tree_.Write("empty.htm", "");
  tree_.Write("zeros.htm", std::string("\0\0", 2) + kSig + "\n");  // "nul" is a device on Windows
  EXPECT_TRUE(Scan().empty());
  EXPECT_EQ(window_.EventsStartingWith("log: Scanning ").size(), 7u);
}

TEST_F(ScanTest, SignatureAcrossTwoReadBlocksIsFound) {
  const std::string before(TextFiles::kBlockSize - 100, 'x');
  tree_.Write("split.htm", before + "\n" + kSig + "\n");
  EXPECT_EQ(Scan(), (List{P("split.htm")}));
}

TEST_F(ScanTest, LogsEachCandidateAndEachFindWhileTheSwitchIsOn) {
  tree_.Write("a.htm", kSig);
  tree_.Write("b.htm", "clean");
  Scan();
  EXPECT_EQ(window_.log, (List{"Searching \r\n" + tree_.Root(), "Searching \r\n" + tree_.Root(),
                               "Scanning " + P("a.htm"), "Virus found in " + P("a.htm"),
                               "Scanning " + P("b.htm")}));
  EXPECT_EQ(window_.statuses.front(), "Searching for the virus. Please wait ...");
  EXPECT_NE(
      std::find(window_.statuses.begin(), window_.statuses.end(), "Scanning \r\n" + P("b.htm")),
      window_.statuses.end());
}

TEST_F(ScanTest, SwitchOffKeepsOnlyTheSearchEntriesAndTogglingTakesEffectAtOnce) {
  tree_.Write("a.htm", kSig);
  window_.log_switch = false;
  Scan();
  EXPECT_EQ(window_.log, (List{"Searching \r\n" + tree_.Root()}));
  EXPECT_EQ(window_.infected, (List{P("a.htm")}));

  window_.log.clear();
  window_.log_switch = true;
  // Switched off at the first yield of the scan pass: only the first "Scanning " entry is logged.
  window_.on_yield = [this](int) {
    if (!window_.log.empty() && window_.log.back().rfind("Scanning ", 0) == 0) {
      window_.log_switch = false;
    }
    return true;
  };
  Scan();
  EXPECT_EQ(window_.log.back(), "Scanning " + P("a.htm"));
}

TEST_F(ScanTest, EachScanStartsAfreshWithTheInfectedList) {
  tree_.Write("a.htm", kSig);
  tree_.Write("b.htm", kSig);
  EXPECT_EQ(Scan(), (List{P("a.htm"), P("b.htm")}));
  tree_.Write("b.htm", "cleaned meanwhile");
  EXPECT_EQ(Scan(), (List{P("a.htm")}));
}

TEST_F(ScanTest, EmptyCandidateListCompletesAtOnce) {
  EXPECT_TRUE(Scan().empty());
  EXPECT_EQ(window_.statuses, (List{"Searching for the virus. Please wait ...",
                                    "Scan complete. The list of infected files is given above."}));
  EXPECT_TRUE(window_.infected_visible);
}

TEST_F(ScanTest, CandidateThatCannotBeOpenedIsAnnouncedAndSkipped) {
  tree_.Write("dir.htm/a.htm", kSig);
  tree_.Write("gone.htm", kSig);
  const std::string gone = P("gone.htm");
  fs_.inject = [gone](const FsCall& call) -> std::optional<ErrorCode> {
    if (call.op == FsOp::kOpen && call.path == gone) return ErrorCode::kSharingViolation;
    return std::nullopt;
  };
  EXPECT_EQ(Scan(), (List{P("dir.htm/a.htm")}));
  EXPECT_EQ(window_.EventsStartingWith("log: Scanning ").size(), 3u);
}

TEST_F(ScanTest, ReadThatKeepsFailingEndsThatCandidateOnly) {
  tree_.Write("bad.htm", kSig + "\n" + kSig);
  tree_.Write("good.htm", kSig);
  const std::string bad = P("bad.htm");
  int bad_reads = 0;
  fs_.inject = [&](const FsCall& call) -> std::optional<ErrorCode> {
    if (call.op == FsOp::kRead && call.path == bad && ++bad_reads > 1) return ErrorCode::kIoError;
    return std::nullopt;
  };
  EXPECT_EQ(Scan(), (List{P("good.htm")}));
  EXPECT_LT(bad_reads, 20);
  EXPECT_EQ(window_.EventsStartingWith("log: Could not read ").size(), 1u);
}

TEST_F(ScanTest, ClosingTheWindowMidScanStopsTheCommand) {
  for (int i = 0; i < 10; ++i) tree_.Write("p" + std::to_string(i) + ".htm", kSig);
  int scanning_yields = 0;
  window_.on_yield = [&](int) { return window_.log.size() < 12 || ++scanning_yields < 3; };
  Engine engine(window_, window_, fs_, CreateNativeRegistry);
  EXPECT_FALSE(engine.ScanCommand());
  EXPECT_LT(window_.infected.size(), 10u);
  EXPECT_NE(window_.statuses.back(), "Scan complete. The list of infected files is given above.");
}

// Builds random texts from the pieces that decide field boundaries, and checks that the scan with
// its fast pre-check lists a file exactly as often as reading every field finds the signature.
TEST_F(ScanTest, PreCheckGivesTheSameResultAsReadingEveryField) {
  std::mt19937 random(11);
  const std::vector<std::string> pieces = {
      kSig, kSig,   kSig.substr(0, 100),  kSig.substr(100),    "\"", ",", " ", "\t", "\r\n", "\n",
      "\r", "text", std::string(1, '\0'), "\"quoted, field\"", "x"};
  std::unique_ptr<FileSystem> fs = CreateNativeFileSystem();
  for (int file = 0; file < 300; ++file) {
    std::string content;
    const int n = 1 + static_cast<int>(random() % 12);
    for (int i = 0; i < n; ++i) content += pieces[random() % pieces.size()];
    tree_.Write("r.htm", content);

    TextFiles files(*fs);
    ASSERT_TRUE(AttachForReading(*fs, files, 1, P("r.htm")).ok());
    size_t expected = 0;
    for (bool at_end = false; !at_end;) {
      std::string field;
      if (files.ReadField(1, &field).ok() && field == kSig) ++expected;
      ASSERT_TRUE(files.AtEnd(1, &at_end).ok());
    }
    EXPECT_TRUE(files.Close(1).ok());

    window_.infected.clear();
    EXPECT_EQ(Scan().size(), expected) << "content: " << content;
  }
}

}  // namespace
}  // namespace quelix
