// A generator of the smallest valid registry hive, for tests that need a hive file: hivex can
// change a hive but cannot create one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quelix {

// Offsets in the hive's 4 KiB base block.
constexpr size_t kHiveSequence1 = 0x4;
constexpr size_t kHiveSequence2 = 0x8;
constexpr size_t kHiveBinsSize = 0x28;
constexpr size_t kHiveChecksum = 0x1FC;

// Returns an 8192-byte hive: the base block and one 4 KiB bin holding the root key `root_name`
// (no subkeys, no values), its security cell and one free cell filling the rest.
std::string MinimalHive(const std::string& root_name = "ROOT");

uint32_t ReadHiveDword(const std::string& hive, size_t offset);
// Stores `value` at `offset` and recomputes the base block's checksum.
void WriteHiveDword(std::string* hive, size_t offset, uint32_t value);

}  // namespace quelix
