// The offline hive registry: finding the hives of a Windows installation on a drive, and the
// repair of the three rows in them.
#include "platform/posix/hive_registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "engine/backup_store.h"
#include "engine/beside_keeper.h"
#include "engine/registry_repair.h"
#include "engine/restore.h"
#include "engine/tree.h"
#include "tests/posix/hive_fixture.h"
#include "tests/support/temp_tree.h"
#include "tests/support/test_hive.h"

namespace quelix {
namespace {
namespace fs = std::filesystem;

constexpr char kSoftware[] = "Windows/System32/config/SOFTWARE";

class HiveRegistryTest : public testing::Test {
 protected:
  fs::path At(const std::string& relative) const { return tree_.root() / relative; }

  RepairReport Repair() {
    std::unique_ptr<Registry> registry = HivesBelow(tree_.root());
    return RepairKeepingBeside(*registry, tree_.root());
  }

  TempTree tree_;
};

std::vector<std::string> StoreNames(const Registry& registry, RegistryRoot root) {
  std::vector<std::string> names;
  for (const RegistryStoreInfo& store : registry.Stores()) {
    if (store.root == root) names.push_back(store.name);
  }
  return names;
}

TEST_F(HiveRegistryTest, FindsTheHivesWhateverTheCaseOfTheirPaths) {
  WriteHive(At("windows/SYSTEM32/Config/software"), {});
  WriteHive(At("WINNT/system32/CONFIG/Software"), {});
  WriteHive(At("USERS/alice/ntuser.dat"), {});
  WriteHive(At("Documents and Settings/bob/NTUSER.DAT"), {});
  WriteHive(At("winnt/profiles/carol/NtUser.Dat"), {});
  tree_.Write("Users/dave/NTUSER.DAT.LOG1", "log");  // a profile without a hive
  tree_.Write("Windows/System32/config/SOFTWARE.LOG1", "log");
  // A second name for a profile (as a junction appears) is not a second hive.
  fs::create_directory_symlink(At("USERS/alice"), At("USERS/alias"));

  const std::unique_ptr<Registry> registry = HivesBelow(tree_.root());

  EXPECT_EQ(StoreNames(*registry, RegistryRoot::kLocalMachine),
            (std::vector<std::string>{At("windows/SYSTEM32/Config/software").string(),
                                      At("WINNT/system32/CONFIG/Software").string()}));
  EXPECT_EQ(StoreNames(*registry, RegistryRoot::kCurrentUser),
            (std::vector<std::string>{At("USERS/alice/ntuser.dat").string(),
                                      At("Documents and Settings/bob/NTUSER.DAT").string(),
                                      At("winnt/profiles/carol/NtUser.Dat").string()}));
  ASSERT_EQ(registry->Stores().size(), 5u);
  EXPECT_EQ(registry->Stores()[0].root, RegistryRoot::kLocalMachine);
}

TEST_F(HiveRegistryTest, ADriveWithoutWindowsHasNothingToRepair) {
  tree_.Write("web/index.htm", "<html></html>");
  tree_.Write("Users/readme.txt", "not a profile");
  tree_.MakeDirectory("Windows/System32/config");

  const std::unique_ptr<Registry> registry = HivesBelow(tree_.root());
  const RepairReport report = RepairRegistry(*registry);

  EXPECT_TRUE(registry->Stores().empty());
  EXPECT_TRUE(report.deleted.empty());
  EXPECT_TRUE(report.complete());
}

TEST_F(HiveRegistryTest, WithABackupStoreTheHiveIsKeptThereAndRestoredWhole) {
  WriteHive(At(kSoftware), InfectedSoftware());
  const std::string before = ReadBytes(At(kSoftware));
  TempTree state;
  const std::unique_ptr<FileSystem> fs = CreateNativeFileSystem();
  BackupStore store(*fs, state.Path("backups"));
  SearchedTree held(*fs);
  ASSERT_TRUE(held.Open(tree_.Root()).ok());
  ASSERT_TRUE(store.SetRoot(held.identity()).ok());
  const std::unique_ptr<Registry> registry = HivesBelow(tree_.root());
  ASSERT_TRUE(RepairRegistry(*registry, &store).complete());
  ASSERT_EQ(ReadHiveValues(At(kSoftware), kRunInHive), CleanRunValues());
  EXPECT_EQ(DirectoryNames(At("Windows/System32/config")), std::vector<std::string>{"SOFTWARE"})
      << "no copy beside it, where a Windows installation would keep it";
  EXPECT_EQ(ReadBytes(fs::path(store.run()) / "000001.orig"), before);

  RestoreReport report;
  ASSERT_TRUE(RestoreRun(*fs, store.run(), CreateNativeRegistry, &report).ok());
  ASSERT_EQ(report.files.size(), 1u);
  EXPECT_EQ(report.files[0].outcome, RestoreOutcome::kRestored) << report.files[0].reason;
  EXPECT_EQ(ReadBytes(At(kSoftware)), before);
}

TEST_F(HiveRegistryTest, RemovesOnlyTheVirusValuesAndKeepsEverythingElse) {
  WriteHive(At(kSoftware), InfectedSoftware());
  WriteHive(At("Users/alice/NTUSER.DAT"), InfectedUser());
  ASSERT_EQ(::chmod(At(kSoftware).c_str(), 0640), 0);
  const std::string software_before = ReadBytes(At(kSoftware));
  const std::string user_before = ReadBytes(At("Users/alice/NTUSER.DAT"));

  const RepairReport report = Repair();

  EXPECT_TRUE(report.complete());
  const std::string software = At(kSoftware).string();
  const std::string user = At("Users/alice/NTUSER.DAT").string();
  const std::string mail = MailKey(kTestIdentity, "5.0");
  EXPECT_EQ(report.deleted, (std::vector<RegistryValueRef>{
                                {software, kRunKeyPath, "Kernel32"},
                                {user, mail, "Compose Use Stationery"},
                                {user, mail, "Stationery Name"},
                                {user, mail, "Wide Stationery Name"},
                                {user, kOfficeMailKey, "EditorPreference"},
                            }));
  EXPECT_EQ(ReadHiveValues(At(kSoftware), kRunInHive), CleanRunValues());
  EXPECT_EQ(ReadHiveValues(At(kSoftware), "Classes\\.htm"),
            (std::vector<HiveValue>{Sz("", "htmlfile")}));
  EXPECT_EQ(ReadHiveValues(At("Users/alice/NTUSER.DAT"), mail),
            (std::vector<HiveValue>{Dword("Check Mail", 30)}));
  EXPECT_EQ(ReadHiveValues(At("Users/alice/NTUSER.DAT"), kOfficeMailKey),
            (std::vector<HiveValue>{Sz("Signature", "Regards")}));
  // Each hive was kept beside itself before it changed, and nothing else is left there.
  EXPECT_EQ(ReadBytes(At(std::string(kSoftware) + ".bak")), software_before);
  EXPECT_EQ(ReadBytes(At("Users/alice/NTUSER.DAT.bak")), user_before);
  EXPECT_EQ(DirectoryNames(At("Windows/System32/config")),
            (std::vector<std::string>{"SOFTWARE", "SOFTWARE.bak"}));
  // The written hive is one Windows accepts as cleanly closed, with its mode kept.
  const std::string written = ReadBytes(At(kSoftware));
  EXPECT_EQ(ReadHiveDword(written, kHiveSequence1), ReadHiveDword(written, kHiveSequence2));
  struct stat st;
  ASSERT_EQ(::stat(At(kSoftware).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(HiveRegistryTest, CleanHivesAreNeitherWrittenNorGivenKeys) {
  WriteHive(At(kSoftware), {{"Microsoft\\Windows", {Sz("Keep", "1")}}});
  WriteHive(At("Users/alice/NTUSER.DAT"), {{"Identities\\" + std::string(kTestIdentity), {}}});
  const std::string software_before = ReadBytes(At(kSoftware));
  const std::string user_before = ReadBytes(At("Users/alice/NTUSER.DAT"));

  const RepairReport report = Repair();

  EXPECT_TRUE(report.deleted.empty());
  EXPECT_TRUE(report.complete());
  EXPECT_EQ(ReadBytes(At(kSoftware)), software_before);
  EXPECT_EQ(ReadBytes(At("Users/alice/NTUSER.DAT")), user_before);
  EXPECT_EQ(DirectoryNames(At("Windows/System32/config")), std::vector<std::string>{"SOFTWARE"});
  EXPECT_EQ(DirectoryNames(At("Users/alice")), std::vector<std::string>{"NTUSER.DAT"});
}

TEST_F(HiveRegistryTest, RunningTwiceHasTheEffectOfRunningOnce) {
  WriteHive(At(kSoftware), InfectedSoftware());
  WriteHive(At("Users/alice/NTUSER.DAT"), InfectedUser());
  std::unique_ptr<Registry> registry = HivesBelow(tree_.root());
  EXPECT_EQ(RepairKeepingBeside(*registry, tree_.root()).deleted.size(), 5u);
  const std::string software_once = ReadBytes(At(kSoftware));
  const std::string user_once = ReadBytes(At("Users/alice/NTUSER.DAT"));

  const RepairReport again = RepairKeepingBeside(*registry, tree_.root());
  const RepairReport fresh = Repair();

  for (const RepairReport* report : {&again, &fresh}) {
    EXPECT_TRUE(report->deleted.empty());
    EXPECT_TRUE(report->complete());
  }
  EXPECT_EQ(ReadBytes(At(kSoftware)), software_once);
  EXPECT_EQ(ReadBytes(At("Users/alice/NTUSER.DAT")), user_once);
  EXPECT_EQ(DirectoryNames(At("Windows/System32/config")),
            (std::vector<std::string>{"SOFTWARE", "SOFTWARE.bak"}));
}

TEST_F(HiveRegistryTest, RowTwoCoversEveryIdentityAndVersion) {
  const std::string first = "{11111111-2222-3333-4444-555555555555}";
  const std::string second = "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}";
  std::vector<HiveKeySpec> keys;
  for (const auto& [identity, version] : std::vector<std::pair<std::string, std::string>>{
           {first, "5.0"}, {first, "6.0"}, {second, "6.0"}}) {
    keys.push_back({MailKey(identity, version), {Sz("Stationery Name", "x"), Dword("Keep", 1)}});
  }
  keys.push_back({MailKey(second, "6.1"), {Sz("Stationery Name", "not a version key")}});
  WriteHive(At("Users/alice/NTUSER.DAT"), keys);

  const RepairReport report = Repair();

  ASSERT_EQ(report.deleted.size(), 3u);
  EXPECT_EQ(report.deleted[0].key, MailKey(first, "5.0"));
  EXPECT_EQ(report.deleted[1].key, MailKey(first, "6.0"));
  EXPECT_EQ(report.deleted[2].key, MailKey(second, "6.0"));
  for (const std::string& key :
       {MailKey(first, "5.0"), MailKey(first, "6.0"), MailKey(second, "6.0")}) {
    EXPECT_EQ(ReadHiveValues(At("Users/alice/NTUSER.DAT"), key),
              (std::vector<HiveValue>{Dword("Keep", 1)}));
  }
  EXPECT_EQ(ReadHiveValues(At("Users/alice/NTUSER.DAT"), MailKey(second, "6.1")).size(), 1u);
}

TEST_F(HiveRegistryTest, EveryProfileIsRepairedAndOnlyChangedHivesAreWritten) {
  WriteHive(At("Users/alice/NTUSER.DAT"), InfectedUser());
  WriteHive(At("Users/bob/NTUSER.DAT"), {{"Software\\Bob", {Sz("Keep", "1")}}});
  WriteHive(At("Documents and Settings/carol/NTUSER.DAT"), InfectedUser("{C}", "6.0"));
  const std::string bob_before = ReadBytes(At("Users/bob/NTUSER.DAT"));

  const RepairReport report = Repair();

  // No SOFTWARE hive: the user hives are repaired all the same.
  EXPECT_TRUE(report.complete());
  EXPECT_EQ(report.deleted.size(), 8u);
  EXPECT_EQ(ReadHiveValues(At("Users/alice/NTUSER.DAT"), kOfficeMailKey).size(), 1u);
  EXPECT_EQ(ReadHiveValues(At("Documents and Settings/carol/NTUSER.DAT"), MailKey("{C}", "6.0")),
            (std::vector<HiveValue>{Dword("Check Mail", 30)}));
  EXPECT_EQ(ReadBytes(At("Users/bob/NTUSER.DAT")), bob_before);
  EXPECT_EQ(DirectoryNames(At("Users/bob")), std::vector<std::string>{"NTUSER.DAT"});
}

TEST_F(HiveRegistryTest, AnExistingBackupNameIsNeverReused) {
  WriteHive(At(kSoftware), InfectedSoftware());
  tree_.Write("Windows/System32/config/SOFTWARE.bak", "the user's own file");
  const std::string before = ReadBytes(At(kSoftware));

  EXPECT_EQ(Repair().deleted.size(), 1u);

  EXPECT_EQ(tree_.Read("Windows/System32/config/SOFTWARE.bak"), "the user's own file");
  EXPECT_EQ(ReadBytes(At("Windows/System32/config/SOFTWARE.bak1")), before);
}

TEST_F(HiveRegistryTest, AHiveChangedOnDiskIsReadAgainAndKeptOncePerCommand) {
  WriteHive(At(kSoftware), InfectedSoftware());
  const std::string original = ReadBytes(At(kSoftware));
  std::unique_ptr<Registry> registry = HivesBelow(tree_.root());
  // One removal command repairs the registry after each file, always with the same keeper.
  const std::unique_ptr<FileSystem> native = CreateNativeFileSystem();
  SearchedTree held(*native);
  ASSERT_TRUE(held.Open(tree_.root().string() + "/").ok());
  BesideKeeper keeper(held);
  EXPECT_EQ(RepairRegistry(*registry, &keeper).deleted.size(), 1u);

  WriteHive(At(kSoftware), InfectedSoftware());
  const RepairReport report = RepairRegistry(*registry, &keeper);

  EXPECT_EQ(report.deleted.size(), 1u);
  EXPECT_EQ(ReadHiveValues(At(kSoftware), kRunInHive), CleanRunValues());
  // The hive is kept as the command found it, once: no second backup beside it.
  EXPECT_EQ(DirectoryNames(At("Windows/System32/config")),
            (std::vector<std::string>{"SOFTWARE", "SOFTWARE.bak"}));
  EXPECT_EQ(ReadBytes(At(std::string(kSoftware) + ".bak")), original);
}

}  // namespace
}  // namespace quelix
