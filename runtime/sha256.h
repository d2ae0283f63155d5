// SHA-256, for telling whether a file is still exactly the one the program wrote or kept.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quelix {

class Sha256 {
 public:
  Sha256();
  void Update(const char* data, size_t size);
  void Update(std::string_view data) { Update(data.data(), data.size()); }
  // The digest of everything given, as 64 lower-case hexadecimal digits. Ends the hashing.
  std::string Hex();

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> buffer_{};
  size_t buffered_ = 0;
  uint64_t length_ = 0;
};

}  // namespace quelix
