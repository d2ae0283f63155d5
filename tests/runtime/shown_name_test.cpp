// A name is shown so that no byte in it can start a line or act on a terminal, while every
// ordinary name is shown exactly as it is.
#include "runtime/shown_name.h"

#include <gtest/gtest.h>

#include <string>

namespace quelix {
namespace {

struct ShownCase {
  const char* what;
  std::string name;
  std::string shown;
};

TEST(ShownNameTest, EscapesWhatATerminalOrLogReaderWouldActOnAndNothingElse) {
  using namespace std::string_literals;
  const ShownCase cases[] = {
      {"spaces and accents", "/srv/www/Cafe\xcc\x81 cre\xcc\x80me/p\xc3\xa4ge 1.htm",
       "/srv/www/Cafe\xcc\x81 cre\xcc\x80me/p\xc3\xa4ge 1.htm"},
      {"Windows path", "C:\\temp\\new\\x64\\\\a\\b.htm", "C:\\temp\\new\\x64\\\\a\\b.htm"},
      {"UNC path", "\\\\server\\share\\n.htm", "\\\\server\\share\\n.htm"},
      {"line breaks and tab", "a\r\nb\tc", "a\\r\\nb\\tc"},
      {"ESC and OSC", "x\x1b]0;owned\x07y\x1b[2J", "x\\x1b]0;owned\\x07y\\x1b[2J"},
      {"NUL and DEL", "a\0b\x7f"s, "a\\x00b\\x7f"},
      {"C1 as UTF-8 (NEL, CSI)",
       "a\xc2\x85"
       "b\xc2\x9b",
       "a\\xc2\\x85b\\xc2\\x9b"},
      {"line separator, bidi override",
       "a\xe2\x80\xa8"
       "b\xe2\x80\xae",
       "a\\xe2\\x80\\xa8b\\xe2\\x80\\xae"},
      {"not UTF-8", "a\xff\xc3(\xe2\x82", "a\\xff\\xc3(\\xe2\\x82"},
      {"overlong and surrogate", "\xc0\xaf\xed\xa0\x80", "\\xc0\\xaf\\xed\\xa0\\x80"},
      {"four-byte character", "\xf0\x9d\x84\x9e.htm", "\xf0\x9d\x84\x9e.htm"},
      {"stray continuation bytes", "\x88\x80\x80", "\\x88\\x80\\x80"},
      {"backslash before an escape-like text, in an escaped name", "C:\\new\\x\\\\a\\b\n",
       "C:\\\\new\\\\x\\\\\\a\\b\\n"},
      {"backslash before an escaped byte", "a\\\n", "a\\\\\\n"},
  };
  for (const ShownCase& c : cases) EXPECT_EQ(ShownName(c.name), c.shown) << c.what;
}

TEST(ShownNameTest, ALongNameIsLeftAsItIsOnlyWhereEveryByteIsPrintable) {
  // Long names are looked at eight bytes at once: each byte value at each place in the word.
  for (int byte = 0; byte < 256; ++byte) {
    for (size_t at = 0; at < 24; ++at) {
      std::string name(24, 'a');
      name[at] = static_cast<char>(byte);
      const bool printable = byte >= 0x20 && byte < 0x7f;
      EXPECT_EQ(ShownName(name) == name, printable) << "byte " << byte << " at " << at;
    }
  }
}

TEST(ShownNameTest, AShortenedNameKeepsEveryCharacterAndEscapeWhole) {
  struct Case {
    const char* what;
    std::string shown;
    size_t width;
    std::string shortened;
  };
  const Case cases[] = {
      {"short enough", "/srv/a.htm", 10, "/srv/a.htm"},
      {"cut in the middle", "/srv/www/a/b/index.htm", 15, "/srv/w...ex.htm"},
      {"an escape at the cut", "/srv/\\x1b\\x1b/index.htm", 15, "/srv/...ex.htm"},
      {"an escape kept whole", "/a\\x1b/c/index.htm", 15, "/a\\x1b...ex.htm"},
      {"a two-byte character at the cut", "/srv/\xc3\xa4\xc3\xa4\xc3\xa4/index.htm", 15,
       "/srv/\xc3\xa4...ex.htm"},
      {"too narrow for the dots", "/ab\\ncd", 4, "/ab"},
      {"a backslash that starts no escape", "C:\\ab\\cdefgh\\index.htm", 9, "C:\\...htm"},
  };
  for (const Case& c : cases) EXPECT_EQ(ShortenShown(c.shown, c.width), c.shortened) << c.what;
}

}  // namespace
}  // namespace quelix
