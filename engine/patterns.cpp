#include "engine/patterns.h"

#include "engine/signature.h"

namespace quelix {

bool MatchesPattern(std::string_view name, std::string_view pattern) {
  if (pattern.substr(0, 2) != "*.") return EqualsIgnoringCase(name, pattern);
  const std::string_view wanted = pattern.substr(2);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view extension = name.substr(dot + 1);
  return extension.size() >= wanted.size() &&
         EqualsIgnoringCase(extension.substr(0, wanted.size()), wanted);
}

uint8_t MatchingPatterns(std::string_view name) {
  uint8_t mask = 0;
  for (size_t i = 0; i < kPatterns.size(); ++i) {
    if (MatchesPattern(name, kPatterns[i])) mask |= static_cast<uint8_t>(1u << i);
  }
  return mask;
}

}  // namespace quelix
