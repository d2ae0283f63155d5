// What the backup store writes must read back exactly, whatever a path holds; a hash must be the
// standard SHA-256; runs are found and pruned by the time in their names.
#include "engine/backup_format.h"

#include <gtest/gtest.h>

#include "engine/backups.h"
#include "runtime/sha256.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

TEST(BackupFormatTest, LinesReadBackExactlyAndAnUnfinishedLineDoesNotCount) {
  for (const std::string path : {"c:\\web\\index.htm", "/srv/a\tb\nc\\\\d\r.htm", "ü 𝄞"}) {
    const ManifestEntry kept{path,          12,   "ab", "0:0", "0644", "cd", "2026-12-07T14:05:12Z",
                             "000001.orig", true, 2049, 131,   "33:33"};
    ManifestEntry read;
    ASSERT_TRUE(ParseManifestLine(ManifestLine(kept), &read)) << path;
    EXPECT_EQ(read.path, path);
    EXPECT_EQ(ManifestLine(read), ManifestLine(kept));
    // A line of an older run, without the cleaned file's identity, reads as one without it.
    ManifestEntry older = kept;
    older.identified = false;
    ASSERT_TRUE(ParseManifestLine(ManifestLine(older), &read));
    EXPECT_FALSE(read.identified);
    const RegistryEntry value{
        "HKEY_CURRENT_USER", "Software\\x", path, 7, std::string("a\0\n", 3), "t"};
    RegistryEntry back;
    ASSERT_TRUE(ParseRegistryLine(RegistryLine(value), &back));
    EXPECT_EQ(back.name, path);
    EXPECT_EQ(back.data, value.data);
    EXPECT_EQ(back.type, 7u);
  }
  ManifestEntry entry;
  EXPECT_FALSE(ParseManifestLine("a\t12\tab", &entry));
  // A withdrawn entry is gone for this version, and a version that knows no withdrawal reads no
  // entry from that line: it refuses the manifest rather than put the entry back.
  ManifestEntry first;
  first.path = "/srv/a.htm";
  first.copy = "000001.orig";
  ManifestEntry second = first;
  second.copy = "000002.orig";
  std::vector<ManifestEntry> entries;
  ASSERT_TRUE(ParseManifest(ManifestLine(first) + "\n" + ManifestLine(second) + "\n" +
                                WithdrawnLine("000001.orig") + "\n",
                            &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].copy, "000002.orig");
  EXPECT_FALSE(ParseManifestLine(WithdrawnLine("000001.orig"), &entry));
  EXPECT_EQ(SplitLines("one\ntwo\nthr"), (std::vector<std::string>{"one", "two"}));
}

TEST(BackupFormatTest, Sha256OfKnownInputs) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [input, digest] : cases) {
    Sha256 whole;
    whole.Update(input);
    EXPECT_EQ(whole.Hex(), digest);
    Sha256 parts;  // fed in uneven pieces, as a file is read
    for (size_t at = 0; at < input.size(); at += 333) parts.Update(input.substr(at, 333));
    EXPECT_EQ(parts.Hex(), digest);
  }
}

TEST(BackupFormatTest, RunsAreListedOldestFirstAndPrunedByTheTimeInTheirNames) {
  TempTree store;
  const auto now = std::chrono::sys_days(std::chrono::year(2026) / 12 / 7) + std::chrono::hours(12);
  // The number after the stamp orders only runs of the same second: an earlier run may have
  // counted further.
  for (const char* name : {"20261207T100000Z-10", "20261207T100000Z-9", "20261207T090000Z-12",
                           "20261101T000000Z-1", "not-a-run"}) {
    store.Write(std::string(name) + "/run.tsv", "root\t/srv/\n");
  }
  store.Write("20261207T100000Z-9/manifest.tsv", "line\nline\n");
  const std::unique_ptr<FileSystem> fs = CreateNativeFileSystem();
  std::vector<RunSummary> runs;
  ASSERT_TRUE(ListRuns(*fs, store.root().string(), &runs).ok());
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].name, "20261101T000000Z-1");
  EXPECT_EQ(runs[1].name, "20261207T090000Z-12");
  EXPECT_EQ(runs[2].name, "20261207T100000Z-9");
  EXPECT_EQ(runs[2].files, 2u);
  EXPECT_EQ(runs[3].name, "20261207T100000Z-10");
  EXPECT_EQ(runs[3].roots, std::vector<std::string>{"/srv/"});
  EXPECT_EQ(IsoTime(runs[3].time), "2026-12-07T10:00:00Z");
  std::string latest;
  ASSERT_TRUE(FindRun(*fs, store.root().string(), "", &latest).ok());
  EXPECT_EQ(latest, runs[3].path);

  std::vector<std::string> removed;
  ASSERT_TRUE(PruneRuns(*fs, store.root().string(), 30, now, &removed).ok());
  EXPECT_EQ(removed, std::vector<std::string>{"20261101T000000Z-1"});
  EXPECT_FALSE(store.Exists("20261101T000000Z-1"));
  EXPECT_TRUE(store.Exists("not-a-run/run.tsv"));
}

// A folder someone else named almost like a run is not one: restore, list and prune pass it by.
TEST(BackupFormatTest, OnlyARunFolderNameAsTheStoreWritesItIsARun) {
  const struct {
    const char* name;
    const char* time;  // nullptr: not a run
  } cases[] = {
      {"20261207T140512Z-1", "2026-12-07T14:05:12Z"},
      {"20240229T235959Z-1000", "2024-02-29T23:59:59Z"},
      {"20261207T140512Z", nullptr},
      {"20261207T140512Z-0", nullptr},
      {"20261207T140512Z-01", nullptr},
      {"20261207T140512Z-1.old", nullptr},
      {"20261207T240000Z-1", nullptr},
      {"20261207T146000Z-1", nullptr},
      {"20261207T140560Z-1", nullptr},
      {"20261307T140512Z-1", nullptr},
      {"20250229T140512Z-1", nullptr},
      {"2026 207T140512Z-1", nullptr},
      {"20261207T+40512Z-1", nullptr},
      {"20261207t140512Z-1", nullptr},
  };
  for (const auto& c : cases) {
    std::chrono::system_clock::time_point time;
    EXPECT_EQ(ParseRunStamp(c.name, &time), c.time != nullptr) << c.name;
    if (c.time) {
      EXPECT_EQ(IsoTime(time), c.time) << c.name;
    }
  }
}

}  // namespace
}  // namespace quelix
