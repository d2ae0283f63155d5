// How the backup store writes down what it keeps: one folder per Remove command, named after the
// UTC time it began ("20261207T140512Z-1"), holding each original under a numbered name
// ("000001.orig"), `manifest.tsv` (one line per file kept, and a "withdrawn" line naming the copy
// of each one whose file was then not replaced after all), `registry.tsv` (one line per live
// registry value kept) and `run.tsv` (the folders that were cleaned, and when). UTF-8 text, fields
// separated by tabs; a tab, line break or backslash inside a field is written \t, \n, \r or \\.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quelix {

inline constexpr char kManifestName[] = "manifest.tsv";
inline constexpr char kRegistryName[] = "registry.tsv";
inline constexpr char kRunName[] = "run.tsv";

// One file kept: where it was, its size and SHA-256, its owner ("uid:gid", "-" where none) and
// mode (octal) or attribute word (0x...), the SHA-256 of the cleaned file that replaced it, when,
// and the name of its copy in the run's folder; then which file the cleaned one is (its volume and
// file id) and its owner, so that a restore writes onto that file alone. Lines written before
// these last three fields were recorded have none.
struct ManifestEntry {
  std::string path;
  uint64_t size = 0;
  std::string sha256;
  std::string owner;
  std::string mode;
  std::string cleaned_sha256;
  std::string time;
  std::string copy;
  bool identified = false;  // the cleaned file's identity was recorded
  uint64_t cleaned_volume = 0;
  uint64_t cleaned_file_id = 0;
  std::string cleaned_owner;
};

// One registry value kept: its store, key and name, its type and its data (hexadecimal).
struct RegistryEntry {
  std::string store;
  std::string key;
  std::string name;
  uint32_t type = 0;
  std::string data;  // the bytes, not their hexadecimal form
  std::string time;
};

std::string ManifestLine(const ManifestEntry& entry);
bool ParseManifestLine(std::string_view line, ManifestEntry* entry);
// The line that withdraws the entry whose copy is `copy`: the file it was kept for was not
// replaced. A reader that does not know it refuses the whole manifest, so that no version ever
// puts back a withdrawn entry.
std::string WithdrawnLine(std::string_view copy);
// The entries of the manifest `text` in the order they were written, without those withdrawn;
// false where a line cannot be read.
bool ParseManifest(std::string_view text, std::vector<ManifestEntry>* entries);
std::string RegistryLine(const RegistryEntry& entry);
bool ParseRegistryLine(std::string_view line, RegistryEntry* entry);

// A folder cleaned in the run: its absolute path and, in runs that recorded it, which folder it
// was (volume and file id).
struct RunRoot {
  std::string path;
  bool identified = false;
  uint64_t volume = 0;
  uint64_t file_id = 0;
};

// What `run.tsv` holds: the folders cleaned in the run (a "root" line each: the path, then the
// volume and file id) and when it began ("started").
struct RunRecord {
  std::vector<RunRoot> roots;
  std::string started;
};
std::string RunLine(std::string_view key, std::string_view value);
std::string RootLine(const RunRoot& root);
RunRecord ParseRun(std::string_view text);

// The complete lines of `text`, each without its line feed.
std::vector<std::string> SplitLines(std::string_view text);

// "2026-12-07T14:05:12Z" and "20261207T140512Z" for `time`.
std::string IsoTime(std::chrono::system_clock::time_point time);
std::string RunStamp(std::chrono::system_clock::time_point time);
// The time in a run folder's name as the store writes it ("20261207T140512Z-1"); false for any
// other name.
bool ParseRunStamp(std::string_view name, std::chrono::system_clock::time_point* time);

}  // namespace quelix
