#include "runtime/byte_search.h"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace quelix {
namespace {

// How often each byte turns up in web pages and scripts, from 1 (seldom) to 9 (everywhere): a
// rough order that only has to pick a byte of the needle that is not in every line.
constexpr std::array<uint8_t, 256> MakeCommonness() {
  std::array<uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = c < 0x20 || c >= 0x7f ? 1 : 4;
  for (char c : std::string_view("<>/\"'=.,;:()-")) table[static_cast<unsigned char>(c)] = 6;
  for (int c = '0'; c <= '9'; ++c) table[c] = 5;
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = 3;
  for (char c : std::string_view("QZXJKV")) table[static_cast<unsigned char>(c)] = 2;
  const std::string_view by_frequency = "etaoinsrhldcumfpgwybvkxjqz";
  for (size_t rank = 0; rank < by_frequency.size(); ++rank) {
    table[static_cast<unsigned char>(by_frequency[rank])] = rank < 8 ? 8 : rank < 16 ? 7 : 5;
  }
  for (char c : std::string_view(" \t\r\n")) table[static_cast<unsigned char>(c)] = 9;
  return table;
}

constexpr std::array<uint8_t, 256> kCommonness = MakeCommonness();

}  // namespace

ByteSearch::ByteSearch(std::string_view needle) : needle_(needle) {
  for (size_t i = 1; i < needle.size(); ++i) {
    if (kCommonness[static_cast<unsigned char>(needle[i])] <
        kCommonness[static_cast<unsigned char>(needle[rare_])]) {
      rare_ = i;
    }
  }
}

bool ByteSearch::FindIn(const char* data, size_t size) const {
  const size_t n = needle_.size();
  if (n == 0) return true;
  if (size < n) return false;
  const char rare = needle_[rare_];
  // A match starting at s has its rare byte at s + rare_, for s from 0 to size - n.
  const char* next = data + rare_;
  const char* const stop = data + (size - n) + rare_ + 1;
  size_t misses = 0;
  while (next < stop) {
    const char* hit = static_cast<const char*>(std::memchr(next, rare, stop - next));
    if (!hit) return false;
    const char* start = hit - rare_;
    if (start[n - 1] == needle_[n - 1] && std::memcmp(start, needle_.data(), n) == 0) return true;
    next = hit + 1;
    // The byte is not rare in this data (binary data, another language): skipping does better
    // than stopping at every one of them.
    if (++misses > 64 && misses * 32 > static_cast<size_t>(next - data)) {
      return FindBySkipping(start + 1, static_cast<size_t>(data + size - (start + 1)));
    }
  }
  return false;
}

bool ByteSearch::FindBySkipping(const char* data, size_t size) const {
  const size_t n = needle_.size();
  if (!skip_ready_) {
    skip_.fill(n);
    for (size_t i = 0; i + 1 < n; ++i) skip_[static_cast<unsigned char>(needle_[i])] = n - 1 - i;
    skip_ready_ = true;
  }
  const unsigned char last = static_cast<unsigned char>(needle_[n - 1]);
  for (size_t i = 0; i + n <= size;) {
    const unsigned char c = static_cast<unsigned char>(data[i + n - 1]);
    if (c == last && std::memcmp(data + i, needle_.data(), n - 1) == 0) return true;
    i += skip_[c];
  }
  return false;
}

}  // namespace quelix
