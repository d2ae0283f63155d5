#include "tests/posix/hive_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "engine/beside_keeper.h"
#include "engine/tree.h"
#include "platform/posix/hive_registry.h"
#include "tests/support/test_hive.h"

namespace quelix {

namespace {

FileSystem& Native() {
  static const std::unique_ptr<FileSystem> native = CreateNativeFileSystem();
  return *native;
}

std::string FolderPath(const std::filesystem::path& root) {
  const std::string path = root.string();
  return path.back() == '/' ? path : path + '/';
}

}  // namespace

std::unique_ptr<Registry> HivesBelow(const std::filesystem::path& root, FileSystem* fs) {
  std::unique_ptr<Directory> dir;
  const Status status = (fs != nullptr ? *fs : Native()).OpenDirectory(FolderPath(root), &dir);
  EXPECT_TRUE(status.ok()) << status.message();
  if (!status.ok()) return nullptr;
  return CreateHiveRegistry(*dir);
}

RepairReport RepairKeepingBeside(Registry& registry, const std::filesystem::path& root,
                                 FileSystem* fs) {
  SearchedTree tree(fs != nullptr ? *fs : Native());
  EXPECT_TRUE(tree.Open(FolderPath(root)).ok());
  BesideKeeper keeper(tree);
  return RepairRegistry(registry, &keeper);
}
namespace fs = std::filesystem;
namespace {

struct HiveCloser {
  void operator()(hive_h* hive) const { hivex_close(hive); }
};
using HivePtr = std::unique_ptr<hive_h, HiveCloser>;

std::vector<std::string> Split(const std::string& key) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < key.size()) {
    size_t end = key.find('\\', start);
    if (end == std::string::npos) end = key.size();
    if (end > start) parts.push_back(key.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// The node of `key`, created with its parents when `create` is set; 0 when absent.
hive_node_h Walk(hive_h* hive, const std::string& key, bool create) {
  hive_node_h node = hivex_root(hive);
  for (const std::string& part : Split(key)) {
    hive_node_h child = hivex_node_get_child(hive, node, part.c_str());
    if (child == 0 && create) child = hivex_node_add_child(hive, node, part.c_str());
    if (child == 0) return 0;
    node = child;
  }
  return node;
}

// Where a key cell keeps the offset of its value list, and a value cell its name, from the start of
// the cell; cell offsets are counted from the first bin, which follows the 4 KiB base block.
constexpr size_t kKeyValueList = 0x2C;
constexpr size_t kValueName = 0x18;
constexpr size_t kFirstBin = 0x1000;

}  // namespace

HiveValue Sz(const std::string& name, const std::string& text) {
  std::string data;
  for (char c : text + '\0') {
    data += c;
    data += '\0';
  }
  return {name, hive_t_REG_SZ, data};
}

HiveValue Dword(const std::string& name, uint32_t number) {
  std::string data(4, '\0');
  for (size_t i = 0; i < 4; ++i) data[i] = static_cast<char>(number >> (8 * i));
  return {name, hive_t_REG_DWORD, data};
}

void WriteHive(const fs::path& path, const std::vector<HiveKeySpec>& keys) {
  fs::create_directories(path.parent_path());
  WriteBytes(path, MinimalHive());
  HivePtr hive(hivex_open(path.c_str(), HIVEX_OPEN_WRITE));
  ASSERT_NE(hive, nullptr) << path;
  for (const auto& [key, values] : keys) {
    const hive_node_h node = Walk(hive.get(), key, true);
    ASSERT_NE(node, 0u) << key;
    std::vector<hive_set_value> set;
    for (const HiveValue& value : values) {
      set.push_back({const_cast<char*>(value.name.c_str()), value.type, value.data.size(),
                     const_cast<char*>(value.data.data())});
    }
    ASSERT_EQ(hivex_node_set_values(hive.get(), node, set.size(), set.data(), 0), 0) << key;
  }
  ASSERT_EQ(hivex_commit(hive.get(), path.c_str(), 0), 0) << path;
}

std::vector<HiveValue> ReadHiveValues(const fs::path& path, const std::string& key) {
  std::vector<HiveValue> values;
  HivePtr hive(hivex_open(path.c_str(), 0));
  EXPECT_NE(hive, nullptr) << path;
  if (hive == nullptr) return values;
  const hive_node_h node = Walk(hive.get(), key, false);
  EXPECT_NE(node, 0u) << key;
  if (node == 0) return values;
  hive_value_h* handles = hivex_node_values(hive.get(), node);
  for (hive_value_h* handle = handles; *handle != 0; ++handle) {
    HiveValue value;
    char* name = hivex_value_key(hive.get(), *handle);
    size_t size = 0;
    char* data = hivex_value_value(hive.get(), *handle, &value.type, &size);
    value.name = name;
    value.data.assign(data, size);
    std::free(name);
    std::free(data);
    values.push_back(value);
  }
  std::free(handles);
  return values;
}

bool HiveHasKey(const fs::path& path, const std::string& key) {
  HivePtr hive(hivex_open(path.c_str(), 0));
  EXPECT_NE(hive, nullptr) << path;
  return hive != nullptr && Walk(hive.get(), key, false) != 0;
}

size_t ValueListEntryOffset(const fs::path& path, const std::string& key, size_t index) {
  HivePtr hive(hivex_open(path.c_str(), 0));
  EXPECT_NE(hive, nullptr) << path;
  const hive_node_h node = hive == nullptr ? 0 : Walk(hive.get(), key, false);
  EXPECT_NE(node, 0u) << key;
  if (node == 0) return 0;
  const size_t list = ReadHiveDword(ReadBytes(path), node + kKeyValueList);
  return kFirstBin + list + 4 + 4 * index;  // past the cell's size
}

size_t ValueNameOffset(const fs::path& path, const std::string& key, size_t index) {
  HivePtr hive(hivex_open(path.c_str(), 0));
  EXPECT_NE(hive, nullptr) << path;
  const hive_node_h node = hive == nullptr ? 0 : Walk(hive.get(), key, false);
  EXPECT_NE(node, 0u) << key;
  if (node == 0) return 0;
  hive_value_h* values = hivex_node_values(hive.get(), node);
  const size_t offset = values[index] + kValueName;
  std::free(values);
  return offset;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

std::vector<std::string> DirectoryNames(const fs::path& dir) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace quelix

namespace quelix {

std::string MailKey(const std::string& identity, const std::string& version) {
  return "Identities\\" + identity + "\\Software\\Microsoft\\Outlook Express\\" + version +
         "\\Mail";
}

std::vector<HiveKeySpec> InfectedSoftware() {
  return {
      {"Classes\\.htm", {Sz("", "htmlfile")}},
      {kRunInHive,
       {Sz("Antivirus", "C:\\av\\av.exe"), Sz("Kernel32", "wscript.exe C:\\WINDOWS\\kernel.vbs"),
        Dword("Zeta", 7)}},
  };
}

std::vector<HiveValue> CleanRunValues() {
  return {Sz("Antivirus", "C:\\av\\av.exe"), Dword("Zeta", 7)};
}

std::vector<HiveKeySpec> InfectedUser(const std::string& identity, const std::string& version) {
  return {
      {MailKey(identity, version),
       {Dword("Compose Use Stationery", 1), Dword("Check Mail", 30),
        Sz("Stationery Name", "C:\\WINDOWS\\help.htm"),
        Sz("Wide Stationery Name", "C:\\WINDOWS\\help.htm")}},
      {kOfficeMailKey, {Dword("EditorPreference", 131072), Sz("Signature", "Regards")}},
  };
}

}  // namespace quelix
