// Finds a fixed byte string in a block. It looks for the needle's rarest byte with memchr (which
// reads many bytes per step) and compares the needle only where that byte occurs; where the block
// holds that byte too often, it goes on with the Horspool skip table instead.
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
  bool FindBySkipping(const char* data, size_t size) const;

  std::string_view needle_;
  size_t rare_ = 0;  // index of the needle's byte least likely to occur in text
  // The Horspool table, made on first use: most searches never need it.
  mutable std::array<size_t, 256> skip_;
  mutable bool skip_ready_ = false;
};

}  // namespace quelix
