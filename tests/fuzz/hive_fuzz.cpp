// The offline registry repair on damaged hives: a valid SOFTWARE hive holding the virus's value is
// changed in a few 32-bit words the input chooses, then repaired. Whatever the hive library does
// with it (it aborts on some), the program goes on, and a hive it reports nothing about deleting is
// left byte for byte as it was.
#include <hivex.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "engine/registry_repair.h"
#include "platform/posix/hive_registry.h"
#include "tests/fuzz/memory_file.h"
#include "tests/support/test_hive.h"

namespace quelix {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

hive_set_value Sz(const char* name, const std::string& utf16) {
  return {const_cast<char*>(name), hive_t_REG_SZ, utf16.size(), const_cast<char*>(utf16.data())};
}

// A SOFTWARE hive whose Run key holds the virus's value between two of the user's own.
std::string InfectedHive(const fs::path& scratch) {
  WriteAll(scratch, MinimalHive());
  hive_h* hive = hivex_open(scratch.c_str(), HIVEX_OPEN_WRITE);
  hive_node_h node = hivex_root(hive);
  for (const char* part : {"Microsoft", "Windows", "CurrentVersion", "Run"}) {
    node = hivex_node_add_child(hive, node, part);
  }
  const std::string text("c\0:\0\\\0x\0.\0e\0x\0e\0\0\0", 18);
  hive_set_value values[] = {Sz("Antivirus", text), Sz("Kernel32", text), Sz("Zeta", text)};
  hivex_node_set_values(hive, node, 3, values, 0);
  hivex_commit(hive, nullptr, 0);
  hivex_close(hive);
  return ReadAll(scratch);
}

// The places in the bins that hold what looks like the offset of a cell (within the bins, 8-byte
// aligned): the fuzzer's changes go there.
std::vector<size_t> CellOffsetWords(const std::string& hive) {
  std::vector<size_t> places;
  const size_t bins = hive.size() - 0x1000;
  for (size_t at = 0x1000; at + 4 <= hive.size(); at += 4) {
    const uint32_t word = ReadHiveDword(hive, at);
    if (word >= 0x20 && word < bins && word % 8 == 0) places.push_back(at);
  }
  return places;
}

}  // namespace
}  // namespace quelix

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quelix;
  static const fs::path root = [] {
    char pattern[] = "/tmp/quelix-hive-fuzz-XXXXXX";
    return fs::path(mkdtemp(pattern));
  }();
  static const fs::path hive_path = root / "Windows" / "System32" / "config" / "SOFTWARE";
  static const std::string base = [] {
    fs::create_directories(hive_path.parent_path());
    return InfectedHive(hive_path);
  }();
  // Up to eight words of the bins, each set to another word of the hive plus a small step: most
  // words are offsets of cells, so this makes a list or a key point at the wrong cell, which is
  // how hives are damaged in the wild and how the hive library is made to stop.
  static const std::vector<size_t> offsets = CellOffsetWords(base);
  std::string hive = base;
  FuzzInput input(data, size);
  for (int i = 0; i < 8 && size >= 3u * (i + 1); ++i) {
    const size_t to = offsets[input.Byte() % offsets.size()];
    const size_t from = offsets[input.Byte() % offsets.size()];
    const auto step = static_cast<int8_t>(input.Byte());
    WriteHiveDword(&hive, to, ReadHiveDword(hive, from) + static_cast<uint32_t>(step));
  }
  fs::remove_all(root / "Windows");
  fs::create_directories(hive_path.parent_path());
  WriteAll(hive_path, hive);
  std::unique_ptr<Directory> folder;
  if (!CreateNativeFileSystem()->OpenDirectory(root.string() + "/", &folder).ok()) std::abort();
  const RepairReport report = RepairRegistry(*CreateHiveRegistry(*folder));
  if (report.deleted.empty() && ReadAll(hive_path) != hive) std::abort();
  return 0;
}
