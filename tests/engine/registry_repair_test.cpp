#include "engine/registry_repair.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/fake_registry.h"

namespace quelix {
namespace {

constexpr char kRun[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kOfficeMail[] = "Software\\Microsoft\\Office\\9.0\\Outlook\\Options\\Mail";
constexpr char kIdentity[] = "{1A2B3C4D-0000-1111-2222-333344445555}";

std::string MailKey(const std::string& identity, const std::string& version) {
  return "Identities\\" + identity + "\\Software\\Microsoft\\Outlook Express\\" + version +
         "\\Mail";
}

std::vector<std::string> Names(const std::vector<FakeValue>& values) {
  std::vector<std::string> names;
  for (const FakeValue& value : values) names.push_back(value.name);
  return names;
}

// A machine store and a user store as the virus leaves them, with unrelated values around the
// virus's own.
class RegistryRepairTest : public testing::Test {
 protected:
  void Infect(size_t machine, size_t user, const std::string& identity = kIdentity,
              const std::string& version = "5.0") {
    registry_.SetValue(machine, kRun, "Antivirus", "av.exe");
    registry_.SetValue(machine, kRun, "Kernel32", "wscript.exe quelix.vbs");
    registry_.SetValue(machine, kRun, "Zeta", "z.exe");
    const std::string mail = MailKey(identity, version);
    registry_.SetValue(user, mail, "Compose Use Stationery", "1");
    registry_.SetValue(user, mail, "Check Mail", "30");
    registry_.SetValue(user, mail, "Stationery Name", "quelix.htm");
    registry_.SetValue(user, mail, "Wide Stationery Name", "quelix.htm");
    registry_.SetValue(user, kOfficeMail, "EditorPreference", "131072");
    registry_.SetValue(user, kOfficeMail, "Signature", "Regards");
  }

  FakeRegistry registry_;
};

TEST_F(RegistryRepairTest, DeletesOnlyTheVirusValuesRowByRow) {
  const size_t machine = registry_.AddStore(RegistryRoot::kLocalMachine, "HKLM", true);
  const size_t user = registry_.AddStore(RegistryRoot::kCurrentUser, "HKCU", true);
  Infect(machine, user);

  const RepairReport report = RepairRegistry(registry_);

  EXPECT_EQ(registry_.Values(machine, kRun),
            (std::vector<FakeValue>{{"Antivirus", "av.exe"}, {"Zeta", "z.exe"}}));
  EXPECT_EQ(registry_.Values(user, MailKey(kIdentity, "5.0")),
            (std::vector<FakeValue>{{"Check Mail", "30"}}));
  EXPECT_EQ(registry_.Values(user, kOfficeMail),
            (std::vector<FakeValue>{{"Signature", "Regards"}}));
  const std::string mail = MailKey(kIdentity, "5.0");
  EXPECT_EQ(report.deleted, (std::vector<RegistryValueRef>{
                                {"HKLM", kRun, "Kernel32"},
                                {"HKCU", mail, "Compose Use Stationery"},
                                {"HKCU", mail, "Stationery Name"},
                                {"HKCU", mail, "Wide Stationery Name"},
                                {"HKCU", kOfficeMail, "EditorPreference"},
                            }));
  EXPECT_TRUE(report.complete());
}

TEST_F(RegistryRepairTest, EachKeyIsClosedBeforeTheNextRowAndTheStoreCommitsLast) {
  const size_t machine = registry_.AddStore(RegistryRoot::kLocalMachine, "HKLM", true);
  const size_t user = registry_.AddStore(RegistryRoot::kCurrentUser, "HKCU", true);
  Infect(machine, user);
  const std::string mail = MailKey(kIdentity, "5.0");
  const std::string express =
      "Identities\\" + std::string(kIdentity) + "\\Software\\Microsoft\\Outlook Express";

  RepairRegistry(registry_);

  const std::vector<std::string> expected = {
      "open store 0",
      "open " + std::string(kRun),
      "delete " + std::string(kRun) + "|Kernel32",
      "close " + std::string(kRun),
      "commit 0",
      "close store 0",
      "open store 1",
      "open Identities",
      "list Identities",
      "close Identities",
      "open " + express,
      "list " + express,
      "close " + express,
      "open " + mail,
      "delete " + mail + "|Compose Use Stationery",
      "delete " + mail + "|Stationery Name",
      "delete " + mail + "|Wide Stationery Name",
      "close " + mail,
      "open " + std::string(kOfficeMail),
      "delete " + std::string(kOfficeMail) + "|EditorPreference",
      "close " + std::string(kOfficeMail),
      "commit 1",
      "close store 1"};
  EXPECT_EQ(registry_.events, expected);
}

TEST_F(RegistryRepairTest, CleanLiveRegistryGetsRowsOneAndThreeKeysCreatedAndNothingElse) {
  const size_t machine = registry_.AddStore(RegistryRoot::kLocalMachine, "HKLM", true);
  const size_t user = registry_.AddStore(RegistryRoot::kCurrentUser, "HKCU", true);
  registry_.SetValue(user, "Software\\Other", "Keep", "1");

  const RepairReport report = RepairRegistry(registry_);

  EXPECT_TRUE(report.deleted.empty());
  EXPECT_TRUE(report.complete());
  EXPECT_TRUE(registry_.HasKey(machine, kRun));
  EXPECT_TRUE(registry_.HasKey(user, kOfficeMail));
  EXPECT_FALSE(registry_.HasKey(user, "Identities"));
  EXPECT_EQ(registry_.Values(user, "Software\\Other"), (std::vector<FakeValue>{{"Keep", "1"}}));
}

TEST_F(RegistryRepairTest, CleanOfflineHivesGetNothingCreated) {
  const size_t machine = registry_.AddStore(RegistryRoot::kLocalMachine, "SOFTWARE", false);
  const size_t user = registry_.AddStore(RegistryRoot::kCurrentUser, "NTUSER.DAT", false);
  registry_.AddKey(user, "Identities\\" + std::string(kIdentity));

  const RepairReport report = RepairRegistry(registry_);

  EXPECT_TRUE(report.deleted.empty());
  EXPECT_TRUE(report.complete());
  EXPECT_TRUE(registry_.Keys(machine).empty());
  ASSERT_EQ(registry_.Keys(user).size(), 2u);  // Identities and the identity, nothing more
}

TEST_F(RegistryRepairTest, RunningTwiceHasTheEffectOfRunningOnce) {
  const size_t machine = registry_.AddStore(RegistryRoot::kLocalMachine, "HKLM", true);
  const size_t user = registry_.AddStore(RegistryRoot::kCurrentUser, "HKCU", true);
  Infect(machine, user);
  RepairRegistry(registry_);
  const std::vector<FakeKey> machine_after = registry_.Keys(machine);
  const std::vector<FakeKey> user_after = registry_.Keys(user);

  const RepairReport second = RepairRegistry(registry_);

  EXPECT_TRUE(second.deleted.empty());
  EXPECT_TRUE(second.complete());
  ASSERT_EQ(registry_.Keys(machine).size(), machine_after.size());
  ASSERT_EQ(registry_.Keys(user).size(), user_after.size());
  for (size_t i = 0; i < user_after.size(); ++i) {
    EXPECT_EQ(registry_.Keys(user)[i].path, user_after[i].path);
    EXPECT_EQ(registry_.Keys(user)[i].values, user_after[i].values);
  }
}

TEST_F(RegistryRepairTest, RowTwoCoversEveryIdentityAndVersionPresent) {
  const size_t user = registry_.AddStore(RegistryRoot::kCurrentUser, "HKCU", true);
  const std::string first = "{11111111-0000-0000-0000-000000000000}";
  const std::string second = "{22222222-0000-0000-0000-000000000000}";
  for (const auto& [identity, version] : std::vector<std::pair<std::string, std::string>>{
           {first, "5.0"}, {first, "6.0"}, {second, "6.0"}, {second, "10.0"}}) {
    registry_.SetValue(user, MailKey(identity, version), "Stationery Name", "quelix.htm");
  }
  // Keys that are not version keys, and an identity without the mail program, are left alone.
  for (const char* other : {"5.1", "x.0", ".0", "Options"}) {
    registry_.SetValue(user, MailKey(first, other), "Stationery Name", "keep.htm");
  }
  registry_.SetValue(user, "Identities\\{33333333}\\Software\\Other", "Stationery Name", "keep");

  const RepairReport report = RepairRegistry(registry_);

  std::vector<std::string> deleted_keys;
  for (const RegistryValueRef& value : report.deleted) deleted_keys.push_back(value.key);
  EXPECT_EQ(deleted_keys,
            (std::vector<std::string>{MailKey(first, "5.0"), MailKey(first, "6.0"),
                                      MailKey(second, "6.0"), MailKey(second, "10.0")}));
  for (const char* other : {"5.1", "x.0", ".0", "Options"}) {
    EXPECT_EQ(Names(registry_.Values(user, MailKey(first, other))),
              std::vector<std::string>{"Stationery Name"})
        << other;
  }
  EXPECT_EQ(registry_.Values(user, "Identities\\{33333333}\\Software\\Other").size(), 1u);
  EXPECT_FALSE(registry_.HasKey(user, MailKey("{33333333}", "5.0")));
}

TEST_F(RegistryRepairTest, MachineRowOnlyInMachineStoresUserRowsInEveryUserStore) {
  const size_t machine = registry_.AddStore(RegistryRoot::kLocalMachine, "SOFTWARE", false);
  const size_t alice = registry_.AddStore(RegistryRoot::kCurrentUser, "alice", false);
  const size_t bob = registry_.AddStore(RegistryRoot::kCurrentUser, "bob", false);
  Infect(machine, alice);
  Infect(machine, bob);
  // The same paths in the other kind of store are not the virus's values.
  registry_.SetValue(alice, kRun, "Kernel32", "user's own");
  registry_.SetValue(machine, kOfficeMail, "EditorPreference", "machine's own");

  const RepairReport report = RepairRegistry(registry_);

  EXPECT_EQ(report.deleted.size(), 9u);
  EXPECT_EQ(Names(registry_.Values(alice, kRun)), std::vector<std::string>{"Kernel32"});
  EXPECT_EQ(Names(registry_.Values(machine, kOfficeMail)),
            std::vector<std::string>{"EditorPreference"});
  for (size_t user : {alice, bob}) {
    EXPECT_EQ(Names(registry_.Values(user, kOfficeMail)), std::vector<std::string>{"Signature"});
    EXPECT_EQ(Names(registry_.Values(user, MailKey(kIdentity, "5.0"))),
              std::vector<std::string>{"Check Mail"});
  }
}

TEST_F(RegistryRepairTest, ReportsValuesThatStayAndGoesOn) {
  const size_t machine = registry_.AddStore(RegistryRoot::kLocalMachine, "HKLM", true);
  const size_t user = registry_.AddStore(RegistryRoot::kCurrentUser, "HKCU", true);
  Infect(machine, user);
  registry_.FailDelete(machine, kRun, "Kernel32", {ErrorCode::kAccessDenied, "denied"});

  const RepairReport report = RepairRegistry(registry_);

  EXPECT_FALSE(report.complete());
  ASSERT_EQ(report.not_deleted.size(), 1u);
  EXPECT_EQ(report.not_deleted[0].value, (RegistryValueRef{"HKLM", kRun, "Kernel32"}));
  EXPECT_EQ(report.not_deleted[0].status.code(), ErrorCode::kAccessDenied);
  EXPECT_EQ(Names(registry_.Values(machine, kRun)),
            (std::vector<std::string>{"Antivirus", "Kernel32", "Zeta"}));
  EXPECT_EQ(report.deleted.size(), 4u);
  EXPECT_TRUE(report.not_opened.empty());
}

TEST_F(RegistryRepairTest, AFailedCommitReportsItsDeletionsAsNotDone) {
  const size_t machine = registry_.AddStore(RegistryRoot::kLocalMachine, "SOFTWARE", false);
  const size_t user = registry_.AddStore(RegistryRoot::kCurrentUser, "NTUSER.DAT", false);
  Infect(machine, user);
  registry_.FailCommit(user, {ErrorCode::kAccessDenied, "read-only volume"});

  const RepairReport report = RepairRegistry(registry_);

  EXPECT_EQ(report.deleted, (std::vector<RegistryValueRef>{{"SOFTWARE", kRun, "Kernel32"}}));
  ASSERT_EQ(report.not_deleted.size(), 4u);
  for (const RegistryValueFailure& failure : report.not_deleted) {
    EXPECT_EQ(failure.value.store, "NTUSER.DAT");
    EXPECT_EQ(failure.status.message(), "read-only volume");
  }
  EXPECT_EQ(registry_.Values(user, kOfficeMail).size(), 2u);
  EXPECT_EQ(registry_.Values(user, MailKey(kIdentity, "5.0")).size(), 4u);
}

TEST_F(RegistryRepairTest, ReportsStoresAndKeysThatCannotBeOpenedAndGoesOn) {
  const size_t damaged = registry_.AddStore(RegistryRoot::kLocalMachine, "SOFTWARE", false);
  const size_t machine = registry_.AddStore(RegistryRoot::kLocalMachine, "HKLM", true);
  const size_t user = registry_.AddStore(RegistryRoot::kCurrentUser, "HKCU", true);
  Infect(machine, user);
  registry_.SetValue(damaged, kRun, "Kernel32", "x");
  registry_.FailOpenStore(damaged, {ErrorCode::kOther, "damaged hive"});
  registry_.FailOpenKey(machine, kRun, {ErrorCode::kAccessDenied, "denied"});
  registry_.FailListSubkeys(user, "Identities", {ErrorCode::kIoError, "bad cell"});

  const RepairReport report = RepairRegistry(registry_);

  ASSERT_EQ(report.not_opened.size(), 3u);
  EXPECT_EQ(report.not_opened[0].store, "SOFTWARE");
  EXPECT_EQ(report.not_opened[0].key, "");
  EXPECT_EQ(report.not_opened[0].status.message(), "damaged hive");
  EXPECT_EQ(report.not_opened[1].key, kRun);
  EXPECT_EQ(report.not_opened[1].status.code(), ErrorCode::kAccessDenied);
  EXPECT_EQ(report.not_opened[2].key, "Identities");
  EXPECT_EQ(report.deleted,
            (std::vector<RegistryValueRef>{{"HKCU", kOfficeMail, "EditorPreference"}}));
  EXPECT_EQ(registry_.Values(damaged, kRun).size(), 1u);
}

TEST_F(RegistryRepairTest, ValueNamesAreMatchedWithoutRegardToCase) {
  const size_t machine = registry_.AddStore(RegistryRoot::kLocalMachine, "HKLM", true);
  registry_.SetValue(machine, "software\\microsoft\\windows\\currentversion\\run", "KERNEL32", "x");

  const RepairReport report = RepairRegistry(registry_);

  EXPECT_EQ(report.deleted.size(), 1u);
  EXPECT_TRUE(registry_.Values(machine, kRun).empty());
}

TEST_F(RegistryRepairTest, NothingToRepairWithoutStores) {
  const RepairReport report = RepairRegistry(registry_);
  EXPECT_TRUE(report.deleted.empty());
  EXPECT_TRUE(report.complete());
  EXPECT_TRUE(registry_.events.empty());
}

}  // namespace
}  // namespace quelix
