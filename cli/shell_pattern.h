// The shell patterns of `quelix --exclude`, matched as fnmatch() does without flags, the same on
// every platform: '*' matches any run of characters ('/' included), '?' any one character,
// "[abc]", "[a-z]" and "[!abc]" (or "[^abc]") one character of a set or not of it, and '\' makes
// the next character stand for itself. Bytes are compared as they are: case matters.
#pragma once

#include <string_view>

namespace quelix {

// True where `text` as a whole matches `pattern`.
bool ShellPatternMatches(std::string_view pattern, std::string_view text);

}  // namespace quelix
