#include "runtime/byte_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quelix {
namespace {

// Compares against std::string::find on random texts over a small alphabet, so that partial
// matches and repeated letters are common.
TEST(ByteSearchTest, AgreesWithPlainFindOnRandomTexts) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> letter(0, 3);
  auto text = [&](size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>("ab\"\0"[letter(random)]);
    return s;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::string needle = text(1 + random() % 8);
    const std::string hay = text(random() % 64);
    const ByteSearch search(needle);
    EXPECT_EQ(search.FindIn(hay.data(), hay.size()), hay.find(needle) != std::string::npos)
        << "needle " << needle << " hay " << hay;
  }
}

TEST(ByteSearchTest, HandlesEdgesOfTheBlock) {
  const ByteSearch search("abc");
  EXPECT_TRUE(search.FindIn("abc", 3));
  EXPECT_FALSE(search.FindIn("ab", 2));
  EXPECT_TRUE(search.FindIn("xxabc", 5));
  EXPECT_FALSE(search.FindIn("xxabc", 4));
  EXPECT_TRUE(ByteSearch("").FindIn("", 0));
}

}  // namespace
}  // namespace quelix
