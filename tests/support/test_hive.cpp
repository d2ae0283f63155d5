#include "tests/support/test_hive.h"

namespace quelix {
namespace {

constexpr size_t kBaseBlock = 0x1000;
constexpr size_t kBinSize = 0x1000;
constexpr size_t kBinHeader = 0x20;
constexpr size_t kRootCell = kBinHeader;  // offsets of cells are relative to the first bin
constexpr uint32_t kNone = 0xFFFFFFFF;
// Root key flags: hive entry, cannot be deleted, name stored in ASCII.
constexpr uint16_t kRootFlags = 0x2C;
// A self-relative security descriptor with no owner, group or access lists.
constexpr uint32_t kDescriptorSize = 20;

size_t RoundUp8(size_t size) {
  return (size + 7) / 8 * 8;
}

void Put16(std::string* bytes, size_t offset, uint16_t value) {
  (*bytes)[offset] = static_cast<char>(value & 0xFF);
  (*bytes)[offset + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string* bytes, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) (*bytes)[offset + i] = static_cast<char>(value >> (8 * i));
}

void PutText(std::string* bytes, size_t offset, const std::string& text) {
  bytes->replace(offset, text.size(), text);
}

// A cell's size field: negative while the cell is in use.
uint32_t UsedCell(size_t size) {
  return static_cast<uint32_t>(-static_cast<int64_t>(size));
}

void StampChecksum(std::string* hive) {
  uint32_t sum = 0;
  for (size_t offset = 0; offset < kHiveChecksum; offset += 4) sum ^= ReadHiveDword(*hive, offset);
  Put32(hive, kHiveChecksum, sum);
}

void WriteBaseBlock(std::string* hive) {
  PutText(hive, 0x0, "regf");
  Put32(hive, kHiveSequence1, 1);
  Put32(hive, kHiveSequence2, 1);
  Put32(hive, 0x14, 1);  // major version
  Put32(hive, 0x18, 3);  // minor version
  Put32(hive, 0x1C, 0);  // primary file
  Put32(hive, 0x20, 1);  // direct memory load format
  Put32(hive, 0x24, kRootCell);
  Put32(hive, kHiveBinsSize, kBinSize);
  Put32(hive, 0x2C, 1);  // clustering factor
  StampChecksum(hive);
}

// Writes the root key cell at bin offset `at`, pointing at the security cell `security`.
size_t WriteRootKey(std::string* hive, size_t at, size_t security, const std::string& name) {
  const size_t cell = kBaseBlock + at;
  const size_t size = RoundUp8(4 + 0x4C + name.size());
  Put32(hive, cell, UsedCell(size));
  const size_t nk = cell + 4;
  PutText(hive, nk, "nk");
  Put16(hive, nk + 0x02, kRootFlags);
  Put32(hive, nk + 0x1C, kNone);  // subkey list
  Put32(hive, nk + 0x20, kNone);  // volatile subkey list
  Put32(hive, nk + 0x28, kNone);  // value list
  Put32(hive, nk + 0x2C, static_cast<uint32_t>(security));
  Put32(hive, nk + 0x30, kNone);  // class name
  Put16(hive, nk + 0x48, static_cast<uint16_t>(name.size()));
  PutText(hive, nk + 0x4C, name);
  return size;
}

// Writes a security cell at bin offset `at` that is the only one: linked to itself.
size_t WriteSecurity(std::string* hive, size_t at) {
  const size_t cell = kBaseBlock + at;
  const size_t size = RoundUp8(4 + 0x14 + kDescriptorSize);
  Put32(hive, cell, UsedCell(size));
  const size_t sk = cell + 4;
  PutText(hive, sk, "sk");
  Put32(hive, sk + 0x04, static_cast<uint32_t>(at));  // next
  Put32(hive, sk + 0x08, static_cast<uint32_t>(at));  // previous
  Put32(hive, sk + 0x0C, 1);                          // references: the root key
  Put32(hive, sk + 0x10, kDescriptorSize);
  (*hive)[sk + 0x14] = 1;          // descriptor revision
  Put16(hive, sk + 0x16, 0x8000);  // self-relative
  return size;
}

}  // namespace

std::string MinimalHive(const std::string& root_name) {
  std::string hive(kBaseBlock + kBinSize, '\0');
  WriteBaseBlock(&hive);
  const size_t bin = kBaseBlock;
  PutText(&hive, bin, "hbin");
  Put32(&hive, bin + 0x4, 0);  // this bin's offset
  Put32(&hive, bin + 0x8, kBinSize);
  const size_t root_size = RoundUp8(4 + 0x4C + root_name.size());
  const size_t security = kRootCell + root_size;
  WriteRootKey(&hive, kRootCell, security, root_name);
  const size_t free_cell = security + WriteSecurity(&hive, security);
  Put32(&hive, kBaseBlock + free_cell, static_cast<uint32_t>(kBinSize - free_cell));
  return hive;
}

uint32_t ReadHiveDword(const std::string& hive, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) {
    value |= static_cast<uint32_t>(static_cast<unsigned char>(hive.at(offset + i))) << (8 * i);
  }
  return value;
}

void WriteHiveDword(std::string* hive, size_t offset, uint32_t value) {
  Put32(hive, offset, value);
  StampChecksum(hive);
}

}  // namespace quelix
