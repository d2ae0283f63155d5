// The names the virus infects, and how a directory entry's name is matched against them.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quelix {

// Searched in this order; the candidate list holds all matches of one pattern before the next.
inline constexpr std::array<std::string_view, 6> kPatterns = {"*.htm", "*.asp", "*.php",
                                                              "*.jsp", "*.vbs", "folder.htt"};

// True when `name` matches `pattern`, ignoring the case of ASCII letters. "*.ext" matches a name
// whose last extension is ext or begins with it ("page.html" for "*.htm"), as the enumeration on
// Windows does through short 8.3 names; any other pattern is an exact name.
bool MatchesPattern(std::string_view name, std::string_view pattern);

// Bit i is set when `name` matches kPatterns[i].
uint8_t MatchingPatterns(std::string_view name);

}  // namespace quelix
