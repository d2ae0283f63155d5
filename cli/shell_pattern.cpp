#include "cli/shell_pattern.h"

#include "platform/names.h"

namespace quelix {
namespace {

// Matches `c` against the set that starts at `pattern[at]` (just after '['). Returns the index
// just past the closing ']', or 0 where there is none: the '[' then stands for itself.
size_t MatchSet(std::string_view pattern, size_t at, char c, bool* matched) {
  const bool negated = at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
  if (negated) ++at;
  bool in = false;
  // A ']' first in the set is one of its characters.
  for (bool first = true; at < pattern.size(); first = false) {
    if (pattern[at] == ']' && !first) {
      *matched = in != negated;
      return at + 1;
    }
    char low = pattern[at];
    if (low == '\\' && at + 1 < pattern.size()) low = pattern[++at];
    char high = low;
    if (at + 2 < pattern.size() && pattern[at + 1] == '-' && pattern[at + 2] != ']') {
      high = pattern[at + 2];
      if (high == '\\' && at + 3 < pattern.size()) high = pattern[++at + 2];
      at += 2;
    }
    const auto u = [](char x) { return static_cast<unsigned char>(x); };
    if (u(c) >= u(low) && u(c) <= u(high)) in = true;
    ++at;
  }
  return 0;
}

// Matches one character of `text` against the pattern item at `*at`, moving past it. False
// where the item is not '*' and does not match `c`.
bool MatchOne(std::string_view pattern, size_t* at, char c) {
  const char p = pattern[*at];
  if (p == '?') {
    ++*at;
    return true;
  }
  if (p == '[') {
    bool matched = false;
    if (const size_t end = MatchSet(pattern, *at + 1, c, &matched)) {
      *at = end;
      return matched;
    }
  }
  if (p == '\\' && *at + 1 < pattern.size()) ++*at;
  return pattern[(*at)++] == c;
}

}  // namespace

bool ShellPatternMatches(std::string_view pattern, std::string_view text) {
  size_t p = 0;
  size_t t = 0;
  // Where the last '*' was, and how much of the text it takes so far: on a mismatch it takes
  // one more character and the rest is tried again.
  size_t star = std::string_view::npos;
  size_t star_text = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = ++p;
      star_text = t;
      continue;
    }
    size_t next = p;
    if (p < pattern.size() && MatchOne(pattern, &next, text[t])) {
      p = next;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star;
      t = ++star_text;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// Folding a pattern leaves its special characters as they are: none of them has a case.
ExcludePatterns::ExcludePatterns(const std::vector<std::string>& patterns) {
  for (const std::string& pattern : patterns) folded_.push_back(FoldedName(pattern));
}

bool ExcludePatterns::Match(const std::string& relative) const {
  if (folded_.empty()) return false;
  const std::string folded = FoldedName(relative);
  for (const std::string& pattern : folded_) {
    if (ShellPatternMatches(pattern, folded)) return true;
  }
  return false;
}

}  // namespace quelix
