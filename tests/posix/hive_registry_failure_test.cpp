// The offline hive registry where hives cannot be read or written: damaged, truncated, Windows
// 9x, not cleanly closed, read-only, on a read-only volume, or the program stopped mid-commit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/registry_repair.h"
#include "tests/posix/hive_fixture.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/temp_tree.h"
#include "tests/support/test_hive.h"

namespace quelix {
namespace {
namespace fs = std::filesystem;

constexpr char kConfig[] = "Windows/System32/config";
constexpr char kSoftware[] = "Windows/System32/config/SOFTWARE";
constexpr char kUser[] = "Users/alice/NTUSER.DAT";

class HiveFailureTest : public testing::Test {
 protected:
  fs::path At(const std::string& relative) const { return tree_.root() / relative; }
  // Repairs as the engine does without a backup store, through `fs` where given.
  RepairReport Repair(FileSystem* fs = nullptr) {
    std::unique_ptr<Registry> registry = HivesBelow(tree_.root(), fs);
    return RepairKeepingBeside(*registry, tree_.root(), fs);
  }
  // An infected machine and user hive.
  void Infect() {
    WriteHive(At(kSoftware), InfectedSoftware());
    WriteHive(At(kUser), InfectedUser());
  }

  TempTree tree_;
};

// A SOFTWARE hive that cannot be used is reported and left as it is; the user hive is repaired.
void ExpectSoftwareUntouched(const RepairReport& report, const fs::path& software,
                             const std::string& before, const std::string& reason) {
  ASSERT_EQ(report.not_opened.size(), 1u);
  EXPECT_EQ(report.not_opened[0].store, software.string());
  EXPECT_EQ(report.not_opened[0].key, "");
  EXPECT_NE(report.not_opened[0].status.message().find(reason), std::string::npos)
      << report.not_opened[0].status.message();
  EXPECT_EQ(ReadBytes(software), before);
  EXPECT_EQ(DirectoryNames(software.parent_path()), std::vector<std::string>{"SOFTWARE"});
  EXPECT_EQ(report.deleted.size(), 4u);  // the user hive's values
}

TEST_F(HiveFailureTest, DamagedHivesAreReportedAndLeftAlone) {
  std::string smashed_bin = MinimalHive();
  smashed_bin.replace(0x1000, 4, "xxxx");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"not a registry hive", "regf but nothing else"},
      {"not a registry hive", std::string(8192, '\xff')},
      {"damaged", smashed_bin},
  };
  for (const auto& [reason, bytes] : cases) {
    Infect();
    WriteBytes(At(kSoftware), bytes);
    fs::remove(At(std::string(kUser) + ".bak"));
    ExpectSoftwareUntouched(Repair(), At(kSoftware), bytes, reason);
  }
}

TEST_F(HiveFailureTest, ATruncatedHiveIsReportedAndLeftAlone) {
  Infect();
  const std::string whole = ReadBytes(At(kSoftware));
  for (size_t size : {whole.size() - 4096, whole.size() - 1, size_t{5000}, size_t{100}}) {
    const std::string truncated = whole.substr(0, size);
    WriteBytes(At(kSoftware), truncated);
    fs::remove(At(std::string(kUser) + ".bak"));
    WriteHive(At(kUser), InfectedUser());
    ExpectSoftwareUntouched(Repair(), At(kSoftware), truncated, At(kSoftware).string() + ": ");
  }
}

TEST_F(HiveFailureTest, AHiveWindowsHasNotClosedIsNotWritten) {
  Infect();
  std::string dirty = ReadBytes(At(kSoftware));
  WriteHiveDword(&dirty, kHiveSequence2, ReadHiveDword(dirty, kHiveSequence1) + 1);
  WriteBytes(At(kSoftware), dirty);
  ExpectSoftwareUntouched(Repair(), At(kSoftware), dirty, "not saved");
}

TEST_F(HiveFailureTest, Windows9xHivesAreReportedAsNotRepaired) {
  const std::string registry = std::string("CREG") + std::string(60, '\0');
  tree_.Write("WINDOWS/SYSTEM.DAT", registry);
  tree_.Write("WINDOWS/USER.DAT", registry);
  tree_.Write("WINDOWS/Profiles/ann/USER.DAT", registry);
  tree_.Write("WINDOWS/Profiles/ann/USER.DA0", registry);  // 9x's own backup: not a store
  tree_.Write("Windows/readme/USER.DAT", "not a registry");

  const RepairReport report = Repair();

  ASSERT_EQ(report.not_opened.size(), 3u);
  EXPECT_EQ(report.not_opened[0].store, At("WINDOWS/SYSTEM.DAT").string());
  EXPECT_EQ(report.not_opened[1].store, At("WINDOWS/USER.DAT").string());
  EXPECT_EQ(report.not_opened[2].store, At("WINDOWS/Profiles/ann/USER.DAT").string());
  for (const RegistryOpenFailure& failure : report.not_opened) {
    EXPECT_NE(failure.status.message().find("Windows 9x"), std::string::npos);
    EXPECT_EQ(ReadBytes(failure.store), registry);
  }
}

// Sets or clears the immutable flag (chattr +i): not even root may change or replace the file.
bool SetImmutable(const fs::path& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return done;
}

void ExpectValuesStay(const RepairReport& report, const std::string& store, size_t count,
                      ErrorCode code) {
  size_t found = 0;
  for (const RegistryValueFailure& failure : report.not_deleted) {
    if (failure.value.store != store) continue;
    ++found;
    EXPECT_EQ(failure.status.code(), code) << failure.status.message();
  }
  EXPECT_EQ(found, count) << store;
  for (const RegistryValueRef& value : report.deleted) EXPECT_NE(value.store, store);
}

TEST_F(HiveFailureTest, AnImmutableHiveIsReportedAndLeftAlone) {
  Infect();
  const std::string before = ReadBytes(At(kSoftware));
  if (!SetImmutable(At(kSoftware), true)) GTEST_SKIP() << "chattr +i not possible here";

  // The same registry again: what failed to be written is still there and is told again.
  std::unique_ptr<Registry> registry = HivesBelow(tree_.root());
  const RepairReport report = RepairRegistry(*registry);
  const RepairReport again = RepairRegistry(*registry);
  SetImmutable(At(kSoftware), false);

  ExpectValuesStay(report, At(kSoftware).string(), 1, ErrorCode::kAccessDenied);
  ExpectValuesStay(again, At(kSoftware).string(), 1, ErrorCode::kAccessDenied);
  EXPECT_EQ(ReadBytes(At(kSoftware)), before);
  EXPECT_EQ(DirectoryNames(At(kConfig)), std::vector<std::string>{"SOFTWARE"});
  EXPECT_EQ(report.deleted.size(), 4u);
  EXPECT_TRUE(again.deleted.empty());
}

TEST_F(HiveFailureTest, AReadOnlyHiveIsLeftAloneForAUserWithoutRootsPowers) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to switch to another user";
  Infect();
  // Everything open to the other user but the SOFTWARE hive, which is only readable.
  fs::permissions(tree_.root(), fs::perms::all);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(tree_.root())) {
    fs::permissions(entry.path(), fs::perms::all);
  }
  fs::permissions(At(kSoftware),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const std::string before = ReadBytes(At(kSoftware));

  // The child runs as nobody; its exit code says whether the report told the truth.
  EXPECT_EXIT(
      {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) {
          ::_exit(2);
        }
        const RepairReport report = Repair();
        const bool truthful = report.deleted.size() == 4 && report.not_deleted.size() == 1 &&
                              report.not_deleted[0].value.value == "Kernel32" &&
                              report.not_deleted[0].status.code() == ErrorCode::kAccessDenied;
        ::_exit(truthful ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadBytes(At(kSoftware)), before);
  EXPECT_EQ(DirectoryNames(At(kConfig)), std::vector<std::string>{"SOFTWARE"});
  EXPECT_EQ(ReadHiveValues(At(kUser), kOfficeMailKey).size(), 1u);
}

TEST_F(HiveFailureTest, HivesOnAReadOnlyVolumeAreReportedAndLeftAlone) {
  const fs::path volume = At("volume");
  fs::create_directories(volume);
  if (::mount("quelix-test", volume.c_str(), "tmpfs", 0, "size=4m") != 0) {
    GTEST_SKIP() << "cannot mount a volume here: " << std::strerror(errno);
  }
  WriteHive(volume / kSoftware, InfectedSoftware());
  WriteHive(volume / kUser, InfectedUser());
  const std::string software_before = ReadBytes(volume / kSoftware);
  const std::string user_before = ReadBytes(volume / kUser);
  const bool read_only =
      ::mount(nullptr, volume.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;

  RepairReport report;
  if (read_only) {
    std::unique_ptr<Registry> registry = HivesBelow(volume);
    report = RepairRegistry(*registry);
  }
  const std::string software_after = ReadBytes(volume / kSoftware);
  const std::string user_after = ReadBytes(volume / kUser);
  ::umount2(volume.c_str(), MNT_DETACH);

  ASSERT_TRUE(read_only);
  ExpectValuesStay(report, (volume / kSoftware).string(), 1, ErrorCode::kAccessDenied);
  ExpectValuesStay(report, (volume / kUser).string(), 4, ErrorCode::kAccessDenied);
  EXPECT_EQ(software_after, software_before);
  EXPECT_EQ(user_after, user_before);
}

TEST_F(HiveFailureTest, AKeyWithAValueTooLargeToRewriteKeepsItsValues) {
  WriteHive(
      At(kSoftware),
      {{kRunInHive, {Sz("Kernel32", "x"), {"Blob", hive_t_REG_BINARY, std::string(20000, 'b')}}}});
  const std::string before = ReadBytes(At(kSoftware));

  const RepairReport report = Repair();

  ExpectValuesStay(report, At(kSoftware).string(), 1, ErrorCode::kOther);
  EXPECT_NE(report.not_deleted[0].status.message().find("too large"), std::string::npos);
  EXPECT_EQ(ReadBytes(At(kSoftware)), before);
}

// Hides /proc from this process alone: a mount namespace of its own, with an empty /proc.
bool HideProc() {
  return ::unshare(CLONE_NEWNS) == 0 &&
         ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         ::mount("quelix-test", "/proc", "tmpfs", 0, "size=1m") == 0;
}

bool CanHideProc() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(HideProc() ? 0 : 1);
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

using HiveCrashDeathTest = HiveFailureTest;

TEST_F(HiveCrashDeathTest, WithoutProcNoHiveIsReadOrWrittenByName) {
  if (!CanHideProc()) GTEST_SKIP() << "cannot make a mount namespace here";
  Infect();
  const std::string software = ReadBytes(At(kSoftware));
  const std::string user = ReadBytes(At(kUser));

  // The child's exit code says whether both hives were refused, with the reason.
  EXPECT_EXIT(
      {
        if (!HideProc()) ::_exit(2);
        const RepairReport report = Repair();
        bool refused = report.deleted.empty() && report.not_opened.size() == 2;
        for (const RegistryOpenFailure& failure : report.not_opened) {
          refused =
              refused && failure.status.message().find("/proc is not mounted") != std::string::npos;
        }
        ::_exit(refused ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_TRUE(ReadBytes(At(kSoftware)) == software);
  EXPECT_TRUE(ReadBytes(At(kUser)) == user);
  EXPECT_EQ(DirectoryNames(At(kConfig)), std::vector<std::string>{"SOFTWARE"});
}

TEST_F(HiveCrashDeathTest, AStopBetweenCommitAndRenameLeavesTheHiveAsItWas) {
  WriteHive(At(kSoftware), InfectedSoftware());
  const std::string before = ReadBytes(At(kSoftware));

  const std::unique_ptr<FileSystem> native = CreateNativeFileSystem();
  FaultFileSystem crash(*native);
  crash.before = [](const FsCall& call) {
    if (call.op == FsOp::kReplace) ::_exit(7);
  };
  EXPECT_EXIT(Repair(&crash), testing::ExitedWithCode(7), "");

  EXPECT_EQ(ReadBytes(At(kSoftware)), before);
  EXPECT_EQ(DirectoryNames(At(kConfig)),
            (std::vector<std::string>{"SOFTWARE", "SOFTWARE.bak", "SOFTWARE.tmp"}));
  EXPECT_EQ(ReadBytes(At(std::string(kSoftware) + ".bak")), before);
  EXPECT_EQ(ReadHiveValues(At(std::string(kSoftware) + ".tmp"), kRunInHive), CleanRunValues());

  // The next run repairs the hive beside the files the stopped one left, which it never touches.
  const std::string left_temp = ReadBytes(At(std::string(kSoftware) + ".tmp"));
  EXPECT_EQ(Repair().deleted.size(), 1u);
  EXPECT_EQ(ReadHiveValues(At(kSoftware), kRunInHive), CleanRunValues());
  EXPECT_EQ(ReadBytes(At(std::string(kSoftware) + ".tmp")), left_temp);
  EXPECT_EQ(ReadBytes(At(std::string(kSoftware) + ".bak1")), before);
}

}  // namespace
}  // namespace quelix
