// A restore puts things back only where the run's own records lead: a file only below a folder the
// run cleaned, a registry value only into the live store of the name it was kept from.
#include "engine/restore.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/backup_format.h"
#include "engine/backup_store.h"
#include "engine/tree.h"
#include "tests/support/fake_registry.h"
#include "tests/support/remove_fixture.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

class RestoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    top_.MakeDirectory("tree");
    top_.MakeDirectory("run");
    SearchedTree held(*fs_);
    ASSERT_TRUE(held.Open(top_.Path("tree")).ok());
    const TreeIdentity& root = held.identity();
    top_.Write("run/" + std::string(kRunName),
               RootLine({root.path, true, root.volume, root.file_id}) + "\n");
  }

  RestoreReport Restore() {
    RestoreReport report;
    EXPECT_TRUE(RestoreRun(
                    *fs_, top_.Path("run"),
                    [this](Directory&) { return std::make_unique<BorrowedRegistry>(registry_); },
                    &report)
                    .ok());
    return report;
  }

  TempTree top_;
  const std::unique_ptr<FileSystem> fs_ = CreateNativeFileSystem();
  FakeRegistry registry_;
};

// A manifest line naming a file outside every folder the run cleaned (a damaged or forged record)
// is refused before anything is opened, however long its path is.
TEST_F(RestoreTest, AFileOutsideTheFoldersTheRunCleanedIsNotTouched) {
  const char sep = fs_->Separator();
  for (const std::string& path : {top_.Path("other") + sep + "deeper" + sep + "page.htm",
                                  top_.Path("tree-old") + sep + "a"}) {
    SCOPED_TRACE(path);
    ManifestEntry entry;
    entry.path = path;
    entry.sha256 = std::string(64, 'a');
    entry.cleaned_sha256 = std::string(64, 'b');
    entry.copy = "000001.orig";
    entry.identified = true;
    top_.Write("run/" + std::string(kManifestName), ManifestLine(entry) + "\n");
    const RestoreReport report = Restore();
    ASSERT_EQ(report.files.size(), 1u);
    EXPECT_EQ(report.files[0].outcome, RestoreOutcome::kFailed);
    EXPECT_EQ(report.files[0].reason, "it is not in a folder this run cleaned");
  }
}

// A value goes back only into a live store of the name it was kept from: never into another
// store, nor into an offline hive of that name (whose values are kept with the whole hive).
TEST_F(RestoreTest, AValueGoesBackOnlyIntoTheLiveStoreItWasKeptFrom) {
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, bool>> stores;  // name, live
    int holder;                                        // the store that gets the value, or -1
  };
  const Case cases[] = {
      {"only another store is here", {{"HKEY_CURRENT_USER", true}}, -1},
      {"a hive of that name comes first",
       {{"HKEY_LOCAL_MACHINE", false}, {"HKEY_LOCAL_MACHINE", true}},
       1},
  };
  RegistryEntry entry{"HKEY_LOCAL_MACHINE", "Software\\Run", "quelix", 1, "x", ""};
  top_.Write("run/" + std::string(kRegistryName), RegistryLine(entry) + "\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    registry_ = FakeRegistry();
    for (const auto& [name, live] : c.stores) {
      registry_.AddKey(registry_.AddStore(RegistryRoot::kLocalMachine, name, live), "Software");
    }
    const RestoreReport report = Restore();
    ASSERT_EQ(report.values.size(), 1u);
    EXPECT_EQ(report.values[0].outcome,
              c.holder < 0 ? RestoreOutcome::kFailed : RestoreOutcome::kRestored);
    for (size_t store = 0; store < c.stores.size(); ++store) {
      const bool holds = !registry_.Values(store, "Software\\Run").empty();
      EXPECT_EQ(holds, static_cast<int>(store) == c.holder) << "store " << store;
    }
  }
}

}  // namespace
}  // namespace quelix
