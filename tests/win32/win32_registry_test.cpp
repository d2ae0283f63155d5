// The live registry backend, run under Wine: the repair on keys of the test's own that stand in
// for HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER.
#include "platform/win32/win32_registry.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "engine/registry_repair.h"
#include "platform/file_system.h"

namespace quelix {
namespace {

constexpr char kRun[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kOfficeMail[] = "Software\\Microsoft\\Office\\9.0\\Outlook\\Options\\Mail";
constexpr char kIdentity[] = "{5E1D2A3B-0000-4000-8000-00AA00BB00CC}";
constexpr char kTestRoot[] = "Software\\QuelixTest";

struct LiveValue {
  std::string name;
  DWORD type = REG_SZ;
  std::string data;
  bool operator==(const LiveValue&) const = default;
};

LiveValue Sz(const std::string& name, const std::string& text) {
  return {name, REG_SZ, text + '\0'};
}

LiveValue Dword(const std::string& name, DWORD number) {
  return {name, REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof number)};
}

std::string MailKey(const std::string& identity, const std::string& version) {
  return "Identities\\" + identity + "\\Software\\Microsoft\\Outlook Express\\" + version +
         "\\Mail";
}

// Two keys under HKEY_CURRENT_USER\Software\QuelixTest\<test> that play the two roots.
class LiveRegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    base_ = std::string(kTestRoot) + "\\" + test->name();
    RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str());
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, (base_ + "\\Machine").c_str(), &machine_), 0);
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, (base_ + "\\User").c_str(), &user_), 0);
  }
  void TearDown() override {
    if (machine_ != nullptr) RegCloseKey(machine_);
    if (user_ != nullptr) RegCloseKey(user_);
    RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, kTestRoot);  // only once no other test's key is left
  }

  RepairReport Repair() {
    std::unique_ptr<Registry> registry = CreateLiveRegistry(machine_, user_, "HKLM", "HKCU");
    return RepairRegistry(*registry);
  }

  static void Set(HKEY root, const std::string& key, const std::vector<LiveValue>& values) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyA(root, key.c_str(), &handle), 0) << key;
    for (const LiveValue& value : values) {
      ASSERT_EQ(RegSetValueExA(handle, value.name.c_str(), 0, value.type,
                               reinterpret_cast<const BYTE*>(value.data.data()),
                               static_cast<DWORD>(value.data.size())),
                0);
    }
    RegCloseKey(handle);
  }

  static bool Exists(HKEY root, const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != 0) return false;
    RegCloseKey(handle);
    return true;
  }

  // The values of `key` in the order the registry lists them.
  static std::vector<LiveValue> Values(HKEY root, const std::string& key) {
    std::vector<LiveValue> values;
    HKEY handle = nullptr;
    EXPECT_EQ(RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle), 0) << key;
    if (handle == nullptr) return values;
    for (DWORD index = 0;; ++index) {
      char name[256];
      DWORD name_length = sizeof name;
      BYTE data[1024];
      DWORD data_length = sizeof data;
      LiveValue value;
      if (RegEnumValueA(handle, index, name, &name_length, nullptr, &value.type, data,
                        &data_length) != 0) {
        break;
      }
      value.name.assign(name, name_length);
      value.data.assign(reinterpret_cast<const char*>(data), data_length);
      values.push_back(value);
    }
    RegCloseKey(handle);
    return values;
  }

  void Infect(const std::string& identity = kIdentity, const std::string& version = "5.0") {
    Set(machine_, kRun,
        {Sz("Antivirus", "C:\\av\\av.exe"), Sz("Kernel32", "wscript.exe kernel.vbs"),
         Dword("Zeta", 7)});
    Set(user_, MailKey(identity, version),
        {Dword("Check Mail", 30), Dword("Compose Use Stationery", 1),
         Sz("Stationery Name", "help.htm"), Sz("Wide Stationery Name", "help.htm")});
    Set(user_, kOfficeMail, {Dword("EditorPreference", 131072), Sz("Signature", "Regards")});
  }

  std::string base_;
  HKEY machine_ = nullptr;
  HKEY user_ = nullptr;
};

TEST_F(LiveRegistryTest, RemovesOnlyTheVirusValuesAndKeepsEverythingElse) {
  Infect();

  const RepairReport report = Repair();

  const std::string mail = MailKey(kIdentity, "5.0");
  EXPECT_EQ(report.deleted, (std::vector<RegistryValueRef>{
                                {"HKLM", kRun, "Kernel32"},
                                {"HKCU", mail, "Compose Use Stationery"},
                                {"HKCU", mail, "Stationery Name"},
                                {"HKCU", mail, "Wide Stationery Name"},
                                {"HKCU", kOfficeMail, "EditorPreference"},
                            }));
  EXPECT_TRUE(report.complete());
  EXPECT_EQ(Values(machine_, kRun),
            (std::vector<LiveValue>{Sz("Antivirus", "C:\\av\\av.exe"), Dword("Zeta", 7)}));
  EXPECT_EQ(Values(user_, mail), (std::vector<LiveValue>{Dword("Check Mail", 30)}));
  EXPECT_EQ(Values(user_, kOfficeMail), (std::vector<LiveValue>{Sz("Signature", "Regards")}));
}

TEST_F(LiveRegistryTest, ACleanRegistryGetsTheKeysOfRowsOneAndThreeCreated) {
  Set(user_, "Software\\Other", {Sz("Keep", "1")});

  const RepairReport report = Repair();

  EXPECT_TRUE(report.deleted.empty());
  EXPECT_TRUE(report.complete());
  EXPECT_TRUE(Exists(machine_, kRun));
  EXPECT_TRUE(Values(machine_, kRun).empty());
  EXPECT_TRUE(Exists(user_, kOfficeMail));
  EXPECT_FALSE(Exists(user_, "Identities"));
  EXPECT_EQ(Values(user_, "Software\\Other"), (std::vector<LiveValue>{Sz("Keep", "1")}));
}

TEST_F(LiveRegistryTest, RunningTwiceHasTheEffectOfRunningOnce) {
  Infect();
  EXPECT_EQ(Repair().deleted.size(), 5u);

  const RepairReport again = Repair();

  EXPECT_TRUE(again.deleted.empty());
  EXPECT_TRUE(again.complete());
  EXPECT_EQ(Values(machine_, kRun).size(), 2u);
  EXPECT_EQ(Values(user_, MailKey(kIdentity, "5.0")).size(), 1u);
  EXPECT_EQ(Values(user_, kOfficeMail).size(), 1u);
}

TEST_F(LiveRegistryTest, RowTwoCoversEveryIdentityAndVersionAndCreatesNothing) {
  const std::string first = "{11111111-2222-3333-4444-555555555555}";
  const std::string second = "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}";
  for (const auto& [identity, version] : std::vector<std::pair<std::string, std::string>>{
           {first, "5.0"}, {first, "6.0"}, {second, "6.0"}}) {
    Set(user_, MailKey(identity, version), {Dword("Keep", 1), Sz("Stationery Name", "x")});
  }
  Set(user_, MailKey(second, "Options"), {Sz("Stationery Name", "not a version key")});
  Set(user_, "Identities\\{33333333}\\Software", {});

  const RepairReport report = Repair();

  ASSERT_EQ(report.deleted.size(), 3u);
  for (const std::string& key :
       {MailKey(first, "5.0"), MailKey(first, "6.0"), MailKey(second, "6.0")}) {
    EXPECT_EQ(Values(user_, key), (std::vector<LiveValue>{Dword("Keep", 1)})) << key;
  }
  EXPECT_EQ(Values(user_, MailKey(second, "Options")).size(), 1u);
  EXPECT_FALSE(Exists(user_, "Identities\\{33333333}\\Software\\Microsoft"));
}

// Lets everyone read `key` and nothing else, as HKEY_LOCAL_MACHINE is for a user who is not an
// administrator. Returns false where the registry does not take the descriptor.
bool MakeReadOnly(HKEY root, const std::string& key) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return false;
  }
  HKEY handle = nullptr;
  bool done = RegOpenKeyExA(root, key.c_str(), 0, WRITE_DAC, &handle) == 0;
  done = done && RegSetKeySecurity(handle, DACL_SECURITY_INFORMATION, descriptor) == 0;
  if (handle != nullptr) RegCloseKey(handle);
  LocalFree(descriptor);
  return done;
}

TEST_F(LiveRegistryTest, AValueThatCannotBeDeletedIsReportedAndStays) {
  Infect();
  ASSERT_TRUE(MakeReadOnly(machine_, kRun));
  HKEY probe = nullptr;
  const LONG writable = RegOpenKeyExA(machine_, kRun, 0, KEY_SET_VALUE, &probe);
  if (probe != nullptr) RegCloseKey(probe);
  if (writable == 0) GTEST_SKIP() << "this registry does not enforce key security";

  const RepairReport report = Repair();

  ASSERT_EQ(report.not_deleted.size(), 1u);
  EXPECT_EQ(report.not_deleted[0].value, (RegistryValueRef{"HKLM", kRun, "Kernel32"}));
  EXPECT_EQ(report.not_deleted[0].status.code(), ErrorCode::kAccessDenied);
  EXPECT_EQ(report.deleted.size(), 4u);
  EXPECT_EQ(Values(machine_, kRun).size(), 3u);
}

TEST(LiveRegistry, TheNativeRegistryIsTheMachineAndTheCurrentUser) {
  std::unique_ptr<Directory> root;
  ASSERT_TRUE(CreateNativeFileSystem()->OpenDirectory("C:\\", &root).ok());
  const std::unique_ptr<Registry> registry = CreateNativeRegistry(*root);
  const std::vector<RegistryStoreInfo> stores = registry->Stores();
  ASSERT_EQ(stores.size(), 2u);
  EXPECT_EQ(stores[0].root, RegistryRoot::kLocalMachine);
  EXPECT_EQ(stores[0].name, "HKEY_LOCAL_MACHINE");
  EXPECT_EQ(stores[1].root, RegistryRoot::kCurrentUser);
  EXPECT_EQ(stores[1].name, "HKEY_CURRENT_USER");
}

}  // namespace
}  // namespace quelix
