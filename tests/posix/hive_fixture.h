// Offline hives for tests: minimal hive files populated through hivex, and ways to read them back.
#pragma once

#include <hivex.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/registry_repair.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace quelix {

// The hives below the folder `root`, opened once through `fs` (the native file services where
// null), as the offline registry.
std::unique_ptr<Registry> HivesBelow(const std::filesystem::path& root, FileSystem* fs = nullptr);

// Repairs `registry` as the engine does without a backup store: each hive it rewrites is first
// kept beside itself as "<hive>.bak", reached through `root` held open through `fs`.
RepairReport RepairKeepingBeside(Registry& registry, const std::filesystem::path& root,
                                 FileSystem* fs = nullptr);

struct HiveValue {
  std::string name;
  hive_type type = hive_t_REG_SZ;
  std::string data;
  bool operator==(const HiveValue&) const = default;
};

// A REG_SZ value holding `text` (ASCII) as Windows stores it: UTF-16LE with a terminating null.
HiveValue Sz(const std::string& name, const std::string& text);
HiveValue Dword(const std::string& name, uint32_t number);

// A key path under the hive's root ("Microsoft\Windows\CurrentVersion\Run") and its values.
using HiveKeySpec = std::pair<std::string, std::vector<HiveValue>>;

// Writes a hive at `path`, creating its directories, holding `keys` (created in the order given,
// with their parents).
void WriteHive(const std::filesystem::path& path, const std::vector<HiveKeySpec>& keys);

// The values of `key` in the hive at `path`, in order; fails the test where the hive cannot be
// read or the key is absent.
std::vector<HiveValue> ReadHiveValues(const std::filesystem::path& path, const std::string& key);
bool HiveHasKey(const std::filesystem::path& path, const std::string& key);

// File offsets in a hive, for tests that damage it on purpose: entry `index` of the value list of
// `key`, and the first byte of the name of the key's value `index` (stored one byte a character).
size_t ValueListEntryOffset(const std::filesystem::path& path, const std::string& key,
                            size_t index);
size_t ValueNameOffset(const std::filesystem::path& path, const std::string& key, size_t index);

std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);
// The names of the entries of `dir`, sorted.
std::vector<std::string> DirectoryNames(const std::filesystem::path& dir);

}  // namespace quelix

namespace quelix {

// The repair's keys as they lie in the hives: the SOFTWARE hive is HKEY_LOCAL_MACHINE\SOFTWARE.
constexpr char kRunInHive[] = "Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunKeyPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kOfficeMailKey[] = "Software\\Microsoft\\Office\\9.0\\Outlook\\Options\\Mail";
constexpr char kTestIdentity[] = "{8E2E6C0B-1D0A-4E0F-9A4B-3C2D1E0F9A8B}";

std::string MailKey(const std::string& identity, const std::string& version);

// A SOFTWARE hive holding the virus's Run value between two of the user's own, and another key.
std::vector<HiveKeySpec> InfectedSoftware();
// The values the SOFTWARE hive keeps once repaired.
std::vector<HiveValue> CleanRunValues();
// An NTUSER.DAT holding the virus's mail values for `identity` and `version` beside the user's
// own, and the Office editor preference.
std::vector<HiveKeySpec> InfectedUser(const std::string& identity = kTestIdentity,
                                      const std::string& version = "5.0");

}  // namespace quelix
