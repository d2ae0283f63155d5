#include "engine/clean.h"

#include <gtest/gtest.h>

#include "engine/signature.h"
#include "tests/support/remove_fixture.h"

namespace quelix {
namespace {

const std::string kSig = SignatureLine();
const std::string kMark = MarkerLine();
const std::string kDone = "The HTML.Quelix.A Virus has been removed successfully from your system.";
using List = std::vector<std::string>;

class CleanTest : public RemoveFixture {
 protected:
  // Writes `content` to a.htm, scans, removes, and returns what a.htm holds afterwards.
  std::string Clean(const std::string& content) {
    tree_.Write("a.htm", content);
    Scan();
    Remove();
    return tree_.Read("a.htm");
  }
};

TEST_F(CleanTest, DropsTheMarkerAndEverythingFromTheSignatureOn) {
  EXPECT_EQ(Clean("<html>\r\n" + kMark + "\r\nkept\r\n" + kSig + "\r\nscript\r\n</html>\r\n"),
            "<html>\r\nkept\r\n");
  EXPECT_EQ(window_.messages, (List{kDone}));
  EXPECT_EQ(LogLines().back(), "Virus removal complete.");
}

TEST_F(CleanTest, MarkerIsRecognisedInCapitals) {
  std::string upper = kMark;
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  EXPECT_EQ(Clean("a\r\n" + upper + "\r\nb\r\n" + kSig + "\r\n"), "a\r\nb\r\n");
}

TEST_F(CleanTest, MarkerThenSignatureAsTheFirstLinesLeavesAnEmptyFile) {
  EXPECT_EQ(Clean(kMark + "\r\n" + kSig + "\r\ntail"), "");
}

TEST_F(CleanTest, SignatureBeforeTheMarkerLeavesTheFileAsItWasAndNotClean) {
  // The copy ends only at the signature after the marker; the one before would stay, so the
  // file is not rewritten at all and success is not claimed.
  const std::string infected = kSig + "\r\n" + kMark + "\nmid\r\n" + kSig + "\r\n";
  EXPECT_EQ(Clean(infected), infected);
  EXPECT_EQ(Logged("Could not remove the virus from ").front(),
            "Could not remove the virus from " + P("a.htm") +
                ": cleaning would leave the virus in it, so it was left as it was");
  EXPECT_TRUE(Logged("Virus successfully").empty());
  EXPECT_NE(window_.messages.at(0).find("removed from 0 of 1 file."), std::string::npos);
}

TEST_F(CleanTest, LineEndsComeBackAsReadAndALastLineGetsCrLf) {
  EXPECT_EQ(Clean("unix\nlines\n" + kMark + "\n" + kSig + "\n"), "unix\nlines\n");
  EXPECT_EQ(Clean("mac\rlast" + std::string("\r\n") + kMark + "\r\nno end\r\n" + kSig),
            "mac\r\nlast\r\nno end\r\n");
  tree_.Write("b.htm", "first\r\nlast without end");
  // A clean file that the scan did not list is never touched.
  EXPECT_EQ(tree_.Read("b.htm"), "first\r\nlast without end");
}

TEST_F(CleanTest, SignatureWithBlanksOrCommasEndsTheCopyToo) {
  EXPECT_EQ(Clean("a\r\n" + kMark + "\r\nb\r\n   " + kSig + "  \r\nc\r\n"), "a\r\nb\r\n");
  EXPECT_EQ(Clean("a\r\n" + kMark + "\r\nx, " + kSig + ", y\r\nc\r\n"), "a\r\n");
  EXPECT_EQ(Clean("keep\r\n" + kSig + ",more\r\nafter\r\n"), "keep\r\n");
}

TEST_F(CleanTest, AFileListedTwiceIsCleanedOnceAndLeftAsItIsTheSecondTime) {
  tree_.Write("a.htm", "a\r\n" + kMark + "\r\n" + kSig + "\r\n" + kSig + "\r\n");
  Scan();
  ASSERT_EQ(window_.infected.size(), 2u);
  Remove();
  EXPECT_EQ(tree_.Read("a.htm"), "a\r\n");
  EXPECT_EQ(Logged("Virus successfully removed from ").size(), 2u);
  EXPECT_EQ(window_.messages, (List{kDone}));
}

TEST_F(CleanTest, LogsEachFileAndStaysLiveWhileItWorks) {
  tree_.Write("a.htm", kMark + "\r\n" + kSig);
  Scan();
  const size_t scanned = LogLines().size();
  window_.events.clear();
  Remove();
  const List lines = LogLines();
  EXPECT_EQ(List(lines.begin() + static_cast<long>(scanned), lines.end()),
            (List{"Removing virus from ", P("a.htm"),
                  "Virus successfully removed from " + P("a.htm"), "Virus removal complete."}));
  const auto& e = window_.events;
  const auto removing =
      std::find(e.begin(), e.end(), "status: Removing virus from \r\n" + P("a.htm"));
  ASSERT_NE(removing, e.end());
  EXPECT_NE(std::find(removing, e.end(), "yield"), e.end()) << "the window is live meanwhile";
  EXPECT_EQ(window_.statuses.back(), kDone) << "the outcome, not the last path, stays";
}

TEST_F(CleanTest, WithTheSwitchOffOnlyTheClosingEntryIsLogged) {
  tree_.Write("a.htm", kMark + "\r\n" + kSig);
  Scan();
  const size_t scanned = LogLines().size();
  window_.log_switch = false;
  Remove();
  EXPECT_EQ(LogLines().size(), scanned + 1);
  EXPECT_EQ(LogLines().back(), "Virus removal complete.");
}

TEST_F(CleanTest, RegistryIsRepairedAfterEveryFileOnTheScannedDrive) {
  const size_t machine =
      registry_.AddStore(RegistryRoot::kLocalMachine, "HKEY_LOCAL_MACHINE", true);
  const std::string run = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
  registry_.SetValue(machine, run, "Kernel32", "virus");
  registry_.SetValue(machine, run, "Other", "kept");
  tree_.Write("a.htm", kMark + "\r\n" + kSig);
  tree_.Write("b.htm", kMark + "\r\n" + kSig);
  Scan();
  EXPECT_EQ(registry_.Values(machine, run).size(), 2u) << "the scan only looks";
  registry_.events.clear();
  window_.root = "/elsewhere";  // the chooser moved on since the scan
  Remove();
  EXPECT_EQ(registry_.Values(machine, run), (std::vector<FakeValue>{{"Other", "kept"}}));
  EXPECT_EQ(opened_root_, tree_.Root()) << "the scanned drive's registry";
  EXPECT_EQ(std::count(registry_.events.begin(), registry_.events.end(), "open store 0"), 2);
  EXPECT_EQ(window_.messages, (List{kDone}));
}

TEST_F(CleanTest, RegistryValueThatStaysIsLoggedAndToldInTheMessage) {
  const size_t machine =
      registry_.AddStore(RegistryRoot::kLocalMachine, "HKEY_LOCAL_MACHINE", true);
  const std::string run = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
  registry_.SetValue(machine, run, "Kernel32", "virus");
  // The registry's own text may name what the hive's owner chose: it cannot forge a log entry.
  const std::string reason = "refused by \r\nVirus successfully removed from x";
  registry_.FailDelete(machine, run, "Kernel32", {ErrorCode::kOther, reason});
  tree_.Write("a.htm", kMark + "\r\n" + kSig);
  tree_.Write("b.htm", kMark + "\r\n" + kSig);
  Scan();
  Remove();
  ASSERT_EQ(window_.messages.size(), 1u);
  EXPECT_NE(window_.messages[0].find("registry values it set could not be deleted"),
            std::string::npos);
  const std::string entry = "Could not delete the registry value HKEY_LOCAL_MACHINE\\" + run +
                            "\\Kernel32: refused by \\r\\nVirus successfully removed from x";
  EXPECT_EQ(Logged("Could not delete the registry value "), (List{entry}));
  EXPECT_EQ(Logged("Virus successfully removed from x"), List{});
}

TEST_F(CleanTest, VanishedFileIsReportedAndNotRecreated) {
  tree_.Write("a.htm", kMark + "\r\n" + kSig);
  tree_.Write("b.htm", kMark + "\r\n" + kSig);
  Scan();
  std::filesystem::remove(P("a.htm"));
  Remove();
  EXPECT_FALSE(tree_.Exists("a.htm"));
  EXPECT_EQ(tree_.Read("b.htm"), "");
  EXPECT_EQ(window_.messages,
            (List{"The HTML.Quelix.A Virus could not be removed completely. It was removed from 1 "
                  "of 2 files. The log has the details: " +
                  log_dir_.Path("log.txt")}));
  EXPECT_EQ(Logged("Could not remove the virus from "),
            (List{"Could not remove the virus from " + P("a.htm") + ": not found"}));
  EXPECT_EQ(LogLines().back(), "Virus removal complete.");
}

TEST_F(CleanTest, FileChangedSinceTheScanIsLeftAlone) {
  tree_.Write("a.htm", kMark + "\r\n" + kSig);
  Scan();
  const std::string edited = "edited\r\n" + kMark + "\r\n" + kSig + "\r\nmore";
  tree_.Write("a.htm", edited);
  Remove();
  EXPECT_EQ(tree_.Read("a.htm"), edited);
  EXPECT_EQ(Logged("Could not remove"),
            (List{"Could not remove the virus from " + P("a.htm") + ": changed since the scan"}));
}

TEST_F(CleanTest, UsersOwnTempFileIsNeverTouched) {
  tree_.Write("a.htm", "x\r\n" + kMark + "\r\n" + kSig);
  tree_.Write("a.htmtemp", "the user's own file");
  Scan();
  Remove();
  EXPECT_EQ(tree_.Read("a.htm"), "x\r\n");
  EXPECT_EQ(tree_.Read("a.htmtemp"), "the user's own file");
  EXPECT_FALSE(tree_.Exists("a.htmtemp1"));
  EXPECT_EQ(window_.messages, (List{kDone}));
}

TEST_F(CleanTest, NameTooLongForTheTempSuffixGetsAShortFreeName) {
  const std::string name = std::string(250, 'n') + ".htm";  // 254 bytes: no room for "temp"
  tree_.Write(name, "x\r\n" + kMark + "\r\n" + kSig);
  Scan();
  if (window_.infected.empty() && NativeSeparator() == '\\') {
    // The whole path is beyond 260 characters, which the "A" entry points reach only where the
    // system has long paths switched on.
    GTEST_SKIP() << "no long paths through the A entry points here";
  }
  Remove();
  EXPECT_EQ(tree_.Read(name), "x\r\n");
  EXPECT_EQ(window_.messages, (List{kDone}));
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(tree_.root()))
    ++entries;
  EXPECT_EQ(entries, 1u);
}

}  // namespace
}  // namespace quelix
