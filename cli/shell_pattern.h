// The shell patterns of `quelix --exclude`, matched as fnmatch() does without flags: '*' matches
// any run of characters ('/' included), '?' any one character, "[abc]", "[a-z]" and "[!abc]" (or
// "[^abc]") one character of a set or not of it, and '\' makes the next character stand for
// itself. Names compare as the file system compares them: by their bytes on POSIX, without case
// on Windows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quelix {

// True where `text` as a whole matches `pattern`, byte for byte.
bool ShellPatternMatches(std::string_view pattern, std::string_view text);

// The patterns given, each matched against a path below a PATH as this platform compares names.
class ExcludePatterns {
 public:
  explicit ExcludePatterns(const std::vector<std::string>& patterns);

  bool empty() const { return folded_.empty(); }
  // True where one of the patterns matches `relative` (names joined by '/').
  bool Match(const std::string& relative) const;

 private:
  std::vector<std::string> folded_;
};

}  // namespace quelix
