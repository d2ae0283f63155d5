// The offline registry as the command's held tree and the hive helper's limits make it: a root
// swapped for a link mid-command, every step of a hive's commit failing, hives made to exhaust
// memory, and the helper's rights.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "engine/signature.h"
#include "platform/posix/hive_client.h"
#include "tests/posix/hive_fixture.h"
#include "tests/support/remove_fixture.h"
#include "tests/support/test_hive.h"

namespace quelix {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif
namespace fs = std::filesystem;

constexpr char kSoftware[] = "Windows/System32/config/SOFTWARE";
const std::string kInfected = "page\r\n" + MarkerLine() + "\r\n" + SignatureLine() + "\r\nrest\r\n";

using HiveHeldRootTest = RemoveFixture;

// Once the first file is cleaned, the tree's owner swaps the root for a link to another disk
// holding an infected SOFTWARE hive: the repair works on the tree the command opened.
TEST_F(HiveHeldRootTest, ARootSwappedForALinkLeavesTheOtherDisksHiveAlone) {
  TempTree other;
  WriteHive(other.root() / kSoftware, InfectedSoftware());
  const std::string other_before = ReadBytes(other.root() / kSoftware);
  tree_.Write("a.htm", kInfected);
  tree_.Write("b.htm", kInfected);
  WriteHive(tree_.root() / kSoftware, InfectedSoftware());
  const fs::path root = tree_.root();
  const fs::path moved = root.string() + ".moved";
  CommandController controller(window_, fs_, CreateNativeRegistry);
  ASSERT_EQ(controller.Scan(), CommandResult::kDone);
  bool cleaned_one = false;
  bool swapped = false;
  fs_.before = [&](const FsCall& call) {
    if (!cleaned_one) {
      cleaned_one = call.op == FsOp::kReplace;
    } else if (!swapped) {
      swapped = true;
      fs::rename(root, moved);
      fs::create_directory_symlink(other.root(), root);
    }
  };

  controller.Remove();

  fs::remove(root);
  fs::rename(moved, root);
  ASSERT_TRUE(swapped);
  EXPECT_TRUE(ReadBytes(other.root() / kSoftware) == other_before);
  EXPECT_EQ(DirectoryNames(other.root() / "Windows/System32/config"),
            std::vector<std::string>{"SOFTWARE"});
  EXPECT_EQ(ReadHiveValues(root / kSoftware, kRunInHive), CleanRunValues());
}

class HiveCommitFaultTest : public testing::TestWithParam<std::pair<FsOp, bool>> {
 protected:
  fs::path At(const std::string& relative) const { return tree_.root() / relative; }
  TempTree tree_;
};

// Whatever step of the commit fails, the hive is as it was, the failure is told, nothing is left
// beside the hive, and the next repair repairs it.
TEST_P(HiveCommitFaultTest, AFailedStepLeavesTheHiveAsItWas) {
  // Named, not bound: clang 14 cannot capture a structured binding in the hook below.
  const FsOp op = std::get<0>(GetParam());
  const bool on_temporary = std::get<1>(GetParam());
  WriteHive(At(kSoftware), InfectedSoftware());
  const std::string before = ReadBytes(At(kSoftware));
  const std::string step_path = At(kSoftware).string() + (on_temporary ? ".tmp" : "");
  const std::unique_ptr<FileSystem> native = CreateNativeFileSystem();
  FaultFileSystem faulty(*native);
  bool failed = false;
  faulty.inject = [&](const FsCall& call) -> std::optional<ErrorCode> {
    if (failed || call.op != op || call.path != step_path) return std::nullopt;
    failed = true;
    return ErrorCode::kIoError;
  };

  const RepairReport report = RepairRegistry(*HivesBelow(tree_.root(), &faulty));

  ASSERT_TRUE(failed);
  EXPECT_TRUE(report.deleted.empty());
  ASSERT_EQ(report.not_deleted.size(), 1u);
  EXPECT_EQ(report.not_deleted[0].value.value, "Kernel32");
  EXPECT_FALSE(report.not_deleted[0].status.ok());
  EXPECT_TRUE(ReadBytes(At(kSoftware)) == before);
  EXPECT_EQ(DirectoryNames(At("Windows/System32/config")), std::vector<std::string>{"SOFTWARE"});
  EXPECT_EQ(RepairRegistry(*HivesBelow(tree_.root())).deleted.size(), 1u);
  EXPECT_EQ(ReadHiveValues(At(kSoftware), kRunInHive), CleanRunValues());
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, HiveCommitFaultTest,
    testing::Values(std::pair{FsOp::kOpen, true},  // creating the new file
                    std::pair{FsOp::kWrite, true}, std::pair{FsOp::kSync, true},
                    std::pair{FsOp::kRewind, true},  // reading it back
                    std::pair{FsOp::kRead, true}, std::pair{FsOp::kCopyMetadata, false},
                    std::pair{FsOp::kGetInfo, true}, std::pair{FsOp::kReplace, false}));

// A repair runs after every cleaned file: a hive unchanged since the last one is not read again,
// and one that changed is.
TEST(HiveRepeatTest, OnlyHivesChangedSinceTheLastRepairAreReadAgain) {
  TempTree tree;
  const fs::path software = tree.root() / kSoftware;
  const fs::path user = tree.root() / "Users/bob/NTUSER.DAT";
  WriteHive(software, InfectedSoftware());
  WriteHive(user, {{"Software\\Bob", {Sz("Keep", "1")}}});
  const std::unique_ptr<FileSystem> native = CreateNativeFileSystem();
  FaultFileSystem counting(*native);
  const std::unique_ptr<Registry> registry = HivesBelow(tree.root(), &counting);
  const auto reads = [&counting](const fs::path& path) {
    return std::count_if(counting.calls.begin(), counting.calls.end(), [&](const FsCall& call) {
      return call.op == FsOp::kRead && call.path == path.string();
    });
  };

  EXPECT_EQ(RepairRegistry(*registry).deleted.size(), 1u);
  counting.calls.clear();
  const RepairReport second = RepairRegistry(*registry);
  EXPECT_GT(reads(software), 0) << "rewritten by the first repair";
  EXPECT_EQ(reads(user), 0);
  counting.calls.clear();
  const RepairReport third = RepairRegistry(*registry);
  EXPECT_EQ(reads(software), 0);
  EXPECT_EQ(reads(user), 0);
  WriteHive(user, InfectedUser());
  const RepairReport fourth = RepairRegistry(*registry);

  for (const RepairReport* report : {&second, &third}) {
    EXPECT_TRUE(report->deleted.empty());
    EXPECT_TRUE(report->complete());
  }
  EXPECT_EQ(fourth.deleted.size(), 4u);
  EXPECT_EQ(ReadHiveValues(user, kOfficeMailKey),
            (std::vector<HiveValue>{Sz("Signature", "Regards")}));
}

// Sparse files of a few KiB on the disk that read as hundreds of MiB, under every profile.
void WriteSparseHives(const fs::path& root, uintmax_t length, int count) {
  for (int i = 0; i < count; ++i) {
    const fs::path hive = root / ("Users/user" + std::to_string(i)) / "NTUSER.DAT";
    fs::create_directories(hive.parent_path());
    std::ofstream(hive, std::ios::binary) << MinimalHive();
    fs::resize_file(hive, length);
  }
}

TEST(HiveLimitsTest, HivesNoRegistryCouldBeAreRefusedUnread) {
  const std::vector<std::pair<uintmax_t, std::string>> cases = {
      {uintmax_t{256} << 20, "holes"},
      {(uintmax_t{256} << 20) + 1, "longer than 256 MiB"},
  };
  for (const auto& [length, reason] : cases) {
    TempTree tree;
    WriteSparseHives(tree.root(), length, 2);

    const RepairReport report = RepairRegistry(*HivesBelow(tree.root()));

    ASSERT_EQ(report.not_opened.size(), 2u) << reason;
    for (const RegistryOpenFailure& failure : report.not_opened) {
      EXPECT_NE(failure.status.message().find(reason), std::string::npos)
          << failure.status.message();
      EXPECT_EQ(fs::file_size(failure.store), length);
    }
  }
}

// What a user notices: a plain scan of a tree with eight such hives stays small.
TEST(HiveLimitsTest, AScanOverEightSparseHivesStaysSmall) {
  TempTree tree;
  WriteSparseHives(tree.root(), uintmax_t{256} << 20, 8);
  tree.Write("index.htm", "<p>page</p>\r\n");
  std::string root = tree.root().string() + "/";
  char* argv[] = {const_cast<char*>("quelix"),
                  const_cast<char*>("scan"),
                  const_cast<char*>("-q"),
                  const_cast<char*>("--no-log"),
                  root.data(),
                  nullptr};
  posix_spawn_file_actions_t quiet;
  ::posix_spawn_file_actions_init(&quiet);
  ::posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = -1;
  const int spawned = ::posix_spawn(&child, QUELIX_CLI, &quiet, nullptr, argv, environ);
  ::posix_spawn_file_actions_destroy(&quiet);
  ASSERT_EQ(spawned, 0);
  int status = 0;
  rusage usage{};
  ASSERT_EQ(::wait4(child, &status, 0, &usage), child);

  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_LT(usage.ru_maxrss, 64 * 1024) << "KiB at the peak";
}

// The helper started by root runs as nobody, with no groups, no way to gain rights, and limits.
TEST(HiveHelperTest, RunsWithoutRootsRights) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  TempTree tree;
  WriteHive(tree.root() / kSoftware, InfectedSoftware());
  const int fd = ::open((tree.root() / kSoftware).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  HiveClient client;
  ASSERT_TRUE(client.Load(0, fd).ok());
  ::close(fd);
  const std::string proc = "/proc/" + std::to_string(client.helper());

  // A program of its own, not a fork of this one.
  std::ifstream comm(proc + "/comm");
  std::string name;
  std::getline(comm, name);
  EXPECT_EQ(name, "quelix-hive");
  std::map<std::string, std::string> fields;
  std::ifstream status(proc + "/status");
  for (std::string line; std::getline(status, line);) {
    const size_t colon = line.find(':');
    if (colon != std::string::npos) fields[line.substr(0, colon)] = line.substr(colon + 1);
  }
  EXPECT_EQ(fields["Uid"], "\t65534\t65534\t65534\t65534");
  EXPECT_EQ(fields["Gid"], "\t65534\t65534\t65534\t65534");
  EXPECT_EQ(fields["Groups"].find_first_not_of(" \t"), std::string::npos) << fields["Groups"];
  EXPECT_EQ(fields["NoNewPrivs"], "\t1");
  std::ifstream limits_file(proc + "/limits");
  const std::string limits((std::istreambuf_iterator<char>(limits_file)), {});
  // A sanitizer build's helper reserves terabytes of address space and goes without that limit.
  if (!kSanitized) {
    EXPECT_NE(limits.find("Max address space         1073741824"), std::string::npos) << limits;
  }
  EXPECT_NE(limits.find("Max cpu time              60"), std::string::npos) << limits;
}

}  // namespace
}  // namespace quelix
