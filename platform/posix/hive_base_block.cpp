#include "platform/posix/hive_base_block.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/posix/posix_errors.h"

namespace quelix {
namespace {

constexpr size_t kBaseBlockSize = 0x1000;
constexpr size_t kSequence1 = 0x4;
constexpr size_t kSequence2 = 0x8;
constexpr size_t kBinsSize = 0x28;

uint32_t LittleEndian32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace

Status CheckBaseBlock(int fd) {
  struct stat st;
  unsigned char block[kBaseBlockSize];
  ssize_t got = -1;
  if (::fstat(fd, &st) == 0) got = ::pread(fd, block, sizeof block, 0);
  if (got < 0) {
    const int err = errno;
    return {FromErrno(err, "").code(), std::strerror(err)};
  }
  if (!S_ISREG(st.st_mode)) return {ErrorCode::kNotAFile, "not a file"};
  if (got >= 4 && std::memcmp(block, "CREG", 4) == 0) {
    return {ErrorCode::kOther, "a Windows 9x registry, which cannot be repaired here"};
  }
  if (got < static_cast<ssize_t>(kBaseBlockSize) || std::memcmp(block, "regf", 4) != 0) {
    return {ErrorCode::kOther, "not a registry hive"};
  }
  // Differing sequence numbers mean Windows stopped before writing its logs into the hive: the
  // hive alone is out of date, and rewriting it would lose what the logs hold.
  if (LittleEndian32(block + kSequence1) != LittleEndian32(block + kSequence2)) {
    return {ErrorCode::kOther,
            "the hive has changes Windows has not saved; shut Windows down fully first"};
  }
  const uint64_t needed = kBaseBlockSize + uint64_t{LittleEndian32(block + kBinsSize)};
  if (static_cast<uint64_t>(st.st_size) < needed) {
    return {ErrorCode::kOther, "the hive is damaged (shorter than its header says)"};
  }
  return Status::Ok();
}

}  // namespace quelix
