// The offline hive registry against hives made to hurt it: names swapped while it writes, a hive
// the hive library stops the process on, a value name that hides behind a null character.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "engine/registry_repair.h"
#include "platform/posix/hive_client.h"
#include "tests/posix/hive_fixture.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/temp_tree.h"
#include "tests/support/test_hive.h"

namespace quelix {
namespace {
namespace fs = std::filesystem;

constexpr char kConfig[] = "Windows/System32/config";
constexpr char kSoftware[] = "Windows/System32/config/SOFTWARE";
constexpr char kProfile[] = "Users/alice";
constexpr char kUser[] = "Users/alice/NTUSER.DAT";
// The user who owns the profile and works against the program.
constexpr uid_t kOwner = 1000;

class HiveHostileTest : public testing::Test {
 protected:
  fs::path At(const std::string& relative) const { return tree_.root() / relative; }
  RepairReport Repair(FileSystem* fs = nullptr) {
    std::unique_ptr<Registry> registry = HivesBelow(tree_.root(), fs);
    return RepairRegistry(*registry);
  }

  TempTree tree_;
};

TEST_F(HiveHostileTest, ATemporaryNameSwappedForALinkIsNeitherFollowedNorPutInPlace) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the profile to another user";
  const fs::path secret = At("secret");
  tree_.Write("secret", "root's own file");
  ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
  // The owner of the profile swaps the name of the file the program writes for a link to a file of
  // root's: once the hive library has written it, and again just before it is renamed.
  for (const bool at_rename : {false, true}) {
    fs::remove_all(At("Users"));
    WriteHive(At(kUser), InfectedUser());
    ASSERT_EQ(::chown(At(kProfile).c_str(), kOwner, kOwner), 0);
    ASSERT_EQ(::chown(At(kUser).c_str(), kOwner, kOwner), 0);
    ASSERT_EQ(::chmod(At(kUser).c_str(), 0666), 0);
    const std::string before = ReadBytes(At(kUser));
    const std::unique_ptr<FileSystem> native = CreateNativeFileSystem();
    FaultFileSystem swapping(*native);
    const std::string temp = At(kUser).string() + ".tmp";
    swapping.before = [&](const FsCall& call) {
      // Once the written hive is in the temporary file (its first flush), or at the rename.
      const bool now =
          at_rename ? call.op == FsOp::kReplace : call.op == FsOp::kSync && call.path == temp;
      if (now && !fs::is_symlink(temp)) {
        fs::remove(temp);
        fs::create_symlink(secret, temp);
      }
    };

    const RepairReport report = Repair(&swapping);

    struct stat st;
    ASSERT_EQ(::stat(secret.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u) << at_rename;
    EXPECT_EQ(st.st_mode & 07777, 0600u) << at_rename;
    EXPECT_EQ(ReadBytes(secret), "root's own file") << at_rename;
    EXPECT_FALSE(fs::is_symlink(At(kUser))) << at_rename;
    EXPECT_TRUE(ReadBytes(At(kUser)) == before) << at_rename;
    EXPECT_TRUE(report.deleted.empty()) << at_rename;
    ASSERT_EQ(report.not_deleted.size(), 4u) << at_rename;
    for (const RegistryValueFailure& failure : report.not_deleted) {
      EXPECT_EQ(failure.status.code(), ErrorCode::kChanged) << failure.status.message();
    }
  }
}

TEST_F(HiveHostileTest, AHiveTheLibraryStopsOnIsReportedDamagedAndTheRunGoesOn) {
  WriteHive(At(kSoftware), InfectedSoftware());
  WriteHive(At(kUser), InfectedUser());
  // The Run key's value list names its first value a second time, in place of its third: hivex
  // frees that value twice as it rewrites the key, and an assertion of its stops the process.
  std::string bytes = ReadBytes(At(kSoftware));
  WriteHiveDword(&bytes, ValueListEntryOffset(At(kSoftware), kRunInHive, 2),
                 ReadHiveDword(bytes, ValueListEntryOffset(At(kSoftware), kRunInHive, 0)));
  WriteBytes(At(kSoftware), bytes);

  std::unique_ptr<Registry> registry = HivesBelow(tree_.root());
  const RepairReport report = RepairRegistry(*registry);
  const RepairReport again = RepairRegistry(*registry);

  ASSERT_EQ(report.not_deleted.size(), 1u);
  EXPECT_EQ(report.not_deleted[0].value.store, At(kSoftware).string());
  EXPECT_NE(report.not_deleted[0].status.message().find("the hive is damaged"), std::string::npos)
      << report.not_deleted[0].status.message();
  EXPECT_EQ(report.deleted.size(), 4u);  // the user hive's values
  EXPECT_EQ(ReadHiveValues(At(kUser), kOfficeMailKey),
            (std::vector<HiveValue>{Sz("Signature", "Regards")}));
  // Not tried again in this registry's life.
  ASSERT_EQ(again.not_opened.size(), 1u);
  EXPECT_NE(again.not_opened[0].status.message().find("the hive is damaged"), std::string::npos);
  EXPECT_TRUE(ReadBytes(At(kSoftware)) == bytes);
  EXPECT_EQ(DirectoryNames(At(kConfig)), std::vector<std::string>{"SOFTWARE"});
}

// A helper that stops answering (a loop in the hive library) is killed once its time is up; that
// hive is damaged, and the next one is served by a new helper.
TEST_F(HiveHostileTest, AHelperThatDoesNotAnswerInTimeIsKilledAndTheNextHiveGoesOn) {
  WriteHive(At(kSoftware), InfectedSoftware());
  const int fd = ::open(At(kSoftware).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  HiveClient client(std::chrono::milliseconds(300));
  ASSERT_TRUE(client.Load(0, fd).ok());
  const pid_t stuck = client.helper();
  ASSERT_EQ(::kill(stuck, SIGSTOP), 0);
  uint64_t node = 0;
  const Status status = client.OpenKey(0, {"Microsoft"}, &node);
  EXPECT_EQ(status.message(),
            "the hive is damaged: the hive library did not finish with it within 300 ms");
  EXPECT_NE(client.Damaged(0), nullptr);
  EXPECT_NE(::kill(stuck, 0), 0) << "the stuck helper is gone";
  EXPECT_TRUE(client.Load(1, fd).ok());
  EXPECT_TRUE(client.OpenKey(1, {"Microsoft"}, &node).ok());
  ::close(fd);
}

TEST_F(HiveHostileTest, AKeyWithAValueNameHoldingANullIsNotRewritten) {
  WriteHive(At(kSoftware),
            {{kRunInHive, {Sz("Kernel32", "x"), Dword("ZetaXHidden", 7), Dword("Zeta", 1)}}});
  std::string bytes = ReadBytes(At(kSoftware));
  bytes[ValueNameOffset(At(kSoftware), kRunInHive, 1) + 4] = '\0';
  WriteBytes(At(kSoftware), bytes);
  // Read as C strings, the hidden value passes for the one after it.
  ASSERT_EQ(ReadHiveValues(At(kSoftware), kRunInHive)[1].name, "Zeta");

  const RepairReport report = Repair();

  EXPECT_TRUE(report.deleted.empty());
  ASSERT_EQ(report.not_deleted.size(), 1u);
  EXPECT_EQ(report.not_deleted[0].value.value, "Kernel32");
  EXPECT_NE(report.not_deleted[0].status.message().find("null character"), std::string::npos)
      << report.not_deleted[0].status.message();
  EXPECT_TRUE(ReadBytes(At(kSoftware)) == bytes);
  EXPECT_EQ(DirectoryNames(At(kConfig)), std::vector<std::string>{"SOFTWARE"});
}

}  // namespace
}  // namespace quelix
