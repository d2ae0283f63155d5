// Finds a fixed byte string in a block with the Horspool skip table: the longer the needle, the
// fewer bytes of the block are looked at.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quelix {

class ByteSearch {
 public:
  explicit ByteSearch(std::string_view needle);
  // True when the needle occurs in data[0, size). An empty needle occurs everywhere.
  bool FindIn(const char* data, size_t size) const;

 private:
  std::string_view needle_;
  std::array<size_t, 256> skip_;
};

}  // namespace quelix
