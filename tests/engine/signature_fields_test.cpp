#include "engine/signature_fields.h"

#include <gtest/gtest.h>

#include <random>

#include "engine/signature.h"
#include "tests/support/temp_tree.h"
#include "tests/support/text_input.h"

namespace quelix {
namespace {

const std::string kSig = SignatureLine();

// One line's fields read by the file field reader: whether one equals the signature.
bool ReaderFindsSignature(FileSystem& fs, TextFiles& files, const TempTree& tree,
                          const std::string& line) {
  tree.Write("line.txt", line);
  EXPECT_TRUE(AttachForReading(fs, files, 1, tree.Path("line.txt")).ok());
  bool found = false;
  for (bool at_end = false; !at_end;) {
    std::string field;
    if (files.ReadField(1, &field).ok() && field == kSig) found = true;
    EXPECT_TRUE(files.AtEnd(1, &at_end).ok());
  }
  EXPECT_TRUE(files.Close(1).ok());
  return found;
}

TEST(LineFieldMatcherTest, AgreesWithTheFieldReaderOnRandomLinesFedInPieces) {
  std::mt19937 random(5);
  const std::vector<std::string> pieces = {
      kSig, kSig,   kSig.substr(0, 50),   kSig.substr(50),      "\"", ",", " ",
      "\t", "text", std::string(1, '\0'), std::string(300, 'y')};
  TempTree tree;
  auto fs = CreateNativeFileSystem();
  TextFiles files(*fs);
  LineFieldMatcher matcher(kSig);
  int matches = 0;
  for (int round = 0; round < 400; ++round) {
    std::string line;
    const int n = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < n; ++i) line += pieces[random() % pieces.size()];
    for (size_t at = 0; at < line.size();) {
      const size_t size = 1 + random() % 97;
      matcher.Feed(std::string_view(line).substr(at, size));
      at += size;
    }
    const bool expected = ReaderFindsSignature(*fs, files, tree, line);
    matches += expected ? 1 : 0;
    EXPECT_EQ(matcher.Finish(), expected) << line;
  }
  EXPECT_GT(matches, 20);  // the random lines do exercise the positive case
}

TEST(LineFieldMatcherTest, TellsTabsFromSpacesInsideTheField) {
  std::string tabbed = kSig;
  tabbed[14] = '\t';  // "document.write\t\"..."
  LineFieldMatcher matcher(kSig);
  matcher.Feed(tabbed);
  EXPECT_FALSE(matcher.Finish());
  matcher.Feed("\t " + kSig + " \t,x");
  EXPECT_TRUE(matcher.Finish());
}

}  // namespace
}  // namespace quelix
