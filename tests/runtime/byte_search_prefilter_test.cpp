// The byte search looks for the needle's rarest byte first and goes over to skipping where that
// byte is common; both ways, and the change from one to the other in the middle of a block, must
// find exactly what a plain search finds.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/signature.h"
#include "runtime/byte_search.h"

namespace quelix {
namespace {

// Long blocks over a few letters: the rare byte is everywhere, so the search changes ways after
// a while; the needle is put at random places, also across where that happens.
TEST(ByteSearchPrefilterTest, AgreesWithPlainFindOnLongBlocks) {
  std::mt19937 random(11);
  const std::string letters = "KJab";
  auto text = [&](size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += letters[random() % letters.size()];
    return s;
  };
  for (int round = 0; round < 400; ++round) {
    const std::string needle = text(2 + random() % 30);
    std::string hay = text(random() % 8000);
    if (round % 2 == 0 && !hay.empty()) hay.insert(random() % hay.size(), needle);
    const ByteSearch search(needle);
    EXPECT_EQ(search.FindIn(hay.data(), hay.size()), hay.find(needle) != std::string::npos)
        << "round " << round;
  }
}

// The signature in text without its rare bytes, in text full of them, at the very start and end
// of the block, and cut short by one byte at either end.
TEST(ByteSearchPrefilterTest, FindsTheSignatureWhereverItStands) {
  const std::string sig = SignatureLine();
  const ByteSearch search(sig);
  const std::string plain(5000, 'e');
  const std::string rare_bytes(5000, 'K');
  for (const std::string& filler : {plain, rare_bytes, std::string()}) {
    for (size_t at : {size_t{0}, filler.size() / 2, filler.size()}) {
      std::string hay = filler;
      hay.insert(at, sig);
      EXPECT_TRUE(search.FindIn(hay.data(), hay.size())) << at;
      EXPECT_FALSE(search.FindIn(hay.data(), at + sig.size() - 1)) << at;
      EXPECT_FALSE(search.FindIn(hay.data() + at + 1, hay.size() - at - 1)) << at;
    }
  }
}

}  // namespace
}  // namespace quelix
