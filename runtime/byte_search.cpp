#include "runtime/byte_search.h"

#include <cstring>

namespace quelix {

ByteSearch::ByteSearch(std::string_view needle) : needle_(needle) {
  skip_.fill(needle.empty() ? 1 : needle.size());
  for (size_t i = 0; i + 1 < needle.size(); ++i) {
    skip_[static_cast<unsigned char>(needle[i])] = needle.size() - 1 - i;
  }
}

bool ByteSearch::FindIn(const char* data, size_t size) const {
  const size_t n = needle_.size();
  if (n == 0) return true;
  if (size < n) return false;
  const unsigned char last = static_cast<unsigned char>(needle_[n - 1]);
  for (size_t i = 0; i + n <= size;) {
    const unsigned char c = static_cast<unsigned char>(data[i + n - 1]);
    if (c == last && std::memcmp(data + i, needle_.data(), n - 1) == 0) return true;
    i += skip_[c];
  }
  return false;
}

}  // namespace quelix
