// Trees whose owner shapes them against a root-run `quelix` and the windows: names that carry
// bytes a terminal or a log reader would act on, and a page hidden deeper than the walk goes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "engine/search.h"
#include "engine/signature.h"
#include "tests/support/quelix_fixture.h"

namespace quelix {
namespace {

const std::string kInfected = "page\r\n" + MarkerLine() + "\r\n" + SignatureLine() + "\r\n";

// True where `text` holds a byte a terminal acts on, line ends (`line_end`) aside.
bool HoldsControls(const std::string& text, char line_end = '\n') {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != line_end) || byte == 0x7f) return true;
  }
  return false;
}

class UntrustedTreeTest : public QuelixFixture {};

TEST_F(UntrustedTreeTest, NamesAreShownEscapedAndOrdinaryNamesAsTheyAre) {
  struct NameCase {
    const char* what;
    std::string folder;
    std::string shown;
  };
  const NameCase cases[] = {
      {"a forged log entry", "x\r\nVirus successfully removed from C:\\www\\index.htm",
       "x\\r\\nVirus successfully removed from C:\\www\\index.htm"},
      {"a line feed, ESC and OSC", "a\nb\x1b]0;owned\x07\x1b[2J",
       "a\\nb\\x1b]0;owned\\x07\\x1b[2J"},
      {"an ordinary name", "Caf\xc3\xa9 cr\xc3\xa8me \\new\\x64",
       "Caf\xc3\xa9 cr\xc3\xa8me \\new\\x64"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.what);
    tree_.Write(c.folder + "/p.htm", kInfected);
    const std::string shown = P(c.shown + "/p.htm");
    EXPECT_EQ(Quelix({"scan", "--no-log", Root()}), 1);
    EXPECT_EQ(out_, Lines{shown});
    EXPECT_EQ(Quelix({"remove", "--log", log_dir_.Path("log.txt"), Root()}), 0);
    ASSERT_EQ(out_.size(), 2u) << "kept RUN, then the file";
    EXPECT_EQ(out_[1], "cleaned " + shown);
    EXPECT_EQ(Logged("Virus successfully removed from "),
              Lines{"Virus successfully removed from " + shown});
    for (const std::string& line : LogLines()) EXPECT_FALSE(HoldsControls(line)) << line;
    EXPECT_EQ(Quelix({"scan", "--no-log", P(c.folder + "-gone")}), 2);
    EXPECT_EQ(err_.front(), "quelix: cannot search " + P(c.shown + "-gone") + ": not found");
    EXPECT_FALSE(HoldsControls(out_text_ + err_text_));
    std::filesystem::remove_all(tree_.Path(c.folder));
    std::filesystem::remove(log_dir_.Path("log.txt"));
  }
}

// A page more folders down than the walk goes is not vouched for: neither `quelix remove` nor
// the window says the virus is gone.
TEST_F(UntrustedTreeTest, APageBelowTheDepthLimitMakesTheRunIncomplete) {
  int dir = open(tree_.root().c_str(), O_RDONLY | O_DIRECTORY);
  for (int depth = 0; depth <= CandidateSearch::kMaxDepth; ++depth) {
    ASSERT_EQ(mkdirat(dir, "d", 0755), 0);
    const int next = openat(dir, "d", O_RDONLY | O_DIRECTORY);
    close(dir);
    dir = next;
  }
  const int file = openat(dir, "deep.htm", O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(write(file, kInfected.data(), kInfected.size()),
            static_cast<ssize_t>(kInfected.size()));
  close(file);
  tree_.Write("top.htm", kInfected);

  EXPECT_EQ(Quelix({"remove", "--no-log", Root()}), 2);
  ASSERT_EQ(out_.size(), 2u) << "kept RUN, then the file";
  EXPECT_EQ(out_[1], "cleaned " + P("top.htm"));
  ASSERT_FALSE(err_.empty());
  EXPECT_TRUE(err_.back().ends_with(", 1 folder could not be searched")) << err_.back();

  tree_.Write("top.htm", kInfected);
  Scan();
  Remove();
  EXPECT_EQ(window_.messages,
            Lines{"The HTML.Quelix.A Virus was removed from every file found, but not everything "
                  "could be checked. 1 folder could not be searched; the log lists it. The log "
                  "has the details: " +
                  log_dir_.Path("log.txt")});
  EXPECT_EQ(window_.icons, std::vector<MessageIcon>{MessageIcon::kWarning});
  EXPECT_EQ(Logged("Could not search ").size(), 1u);

  char left[1024] = {};
  const int reread = openat(dir, "deep.htm", O_RDONLY);
  EXPECT_EQ(read(reread, left, sizeof left), static_cast<ssize_t>(kInfected.size()));
  close(reread);
  close(dir);
  EXPECT_EQ(std::string(left), kInfected) << "out of reach, so untouched";
  // Deeper than the test tree's own clean-up reaches.
  EXPECT_EQ(std::system(("rm -rf '" + P("d") + "'").c_str()), 0);
}

}  // namespace
}  // namespace quelix
