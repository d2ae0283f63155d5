// Opens and closes the POSIX backend hands to the kernel in batches (io_uring, where the kernel
// offers it): each name of a batch ends as its own open would, failures told alike, and every
// descriptor is closed afterwards.
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

size_t OpenDescriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

class BatchedOpensTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.Write("a.htm", "a");
    tree_.Write("sub/b.htm", "b");
    tree_.MakeDirectory("dir.htm");
    ASSERT_EQ(symlink("a.htm", tree_.Path("link.htm").c_str()), 0);
    ASSERT_EQ(symlink("sub", tree_.Path("linked").c_str()), 0);
    ASSERT_EQ(mkfifo(tree_.Path("pipe.htm").c_str(), 0600), 0);
    // Where root may: a page of a memory volume mounted over a page at the top and one below.
    tree_.Write("mounted.htm", "m");
    tree_.Write("sub/mounted.htm", "m");
    tree_.MakeDirectory("volume");
    mounted_ = mount("tmpfs", tree_.Path("volume").c_str(), "tmpfs", 0, "size=64k") == 0;
    if (mounted_) {
      tree_.Write("volume/page.htm", "v");
      for (const char* over : {"mounted.htm", "sub/mounted.htm"}) {
        ASSERT_EQ(mount(tree_.Path("volume/page.htm").c_str(), tree_.Path(over).c_str(), nullptr,
                        MS_BIND, nullptr),
                  0);
      }
    }
    ASSERT_TRUE(fs_->OpenDirectory(tree_.Root(), &root_).ok());
  }
  void TearDown() override {
    root_.reset();
    for (const char* mount_point : {"mounted.htm", "sub/mounted.htm", "volume"}) {
      if (mounted_) umount2(tree_.Path(mount_point).c_str(), MNT_DETACH);
    }
  }

  TempTree tree_;
  bool mounted_ = false;
  std::unique_ptr<FileSystem> fs_ = CreateNativeFileSystem();
  std::unique_ptr<Directory> root_;
};

// Where a batch's outcome for a name differs from the plain open's: the name and both outcomes.
std::string Differences(Directory& root) {
  const std::vector<std::string> names = {"a.htm",           "sub/b.htm",
                                          "dir.htm",         "link.htm",
                                          "linked/b.htm",    "pipe.htm",
                                          "gone.htm",        "../a.htm",
                                          "sub/../a.htm",    std::string(300, 'x') + ".htm",
                                          "a.htm",           "mounted.htm",
                                          "sub/mounted.htm", "volume/page.htm"};
  std::vector<OpenedFile> batch;
  root.OpenListedFiles(names, &batch);
  if (batch.size() != names.size()) return "outcomes: " + std::to_string(batch.size());
  std::string differences;
  for (size_t i = 0; i < names.size(); ++i) {
    std::unique_ptr<File> alone;
    const Status status = root.OpenListedFile(names[i], &alone);
    FileInfo in_batch;
    FileInfo own;
    char byte = 0;
    size_t got = 0;
    const bool same = batch[i].status.code() == status.code() &&
                      batch[i].status.message() == status.message() &&
                      (batch[i].file != nullptr) == (alone != nullptr) &&
                      (!alone || (batch[i].file->GetInfo(&in_batch).ok() &&
                                  alone->GetInfo(&own).ok() && in_batch.file_id == own.file_id &&
                                  batch[i].file->Read(&byte, 1, &got).ok() && got == 1));
    if (!same)
      differences += names[i] + ": " + batch[i].status.message() + " / " + status.message() + "\n";
  }
  return differences;
}

TEST_F(BatchedOpensTest, EachNameEndsAsItsOwnOpenWould) {
  EXPECT_EQ(Differences(*root_), "");
  // A page of another volume is refused, at the top as below it.
  for (const char* mounted : {"mounted.htm", "sub/mounted.htm", "volume/page.htm"}) {
    std::unique_ptr<File> file;
    const Status status = root_->OpenListedFile(mounted, &file);
    EXPECT_TRUE(!mounted_ || status.code() == ErrorCode::kOtherVolume) << status.message();
  }
  if (root_->ListedFilesOpenedAtOnce() == 1) {
    std::printf("this kernel took no batch: the names were opened one by one\n");
  }
}

// In a sandbox that refuses io_uring (as seccomp profiles do), as the child of a death test:
// 0 where every name is opened the plain way, with the same outcomes.
int OpenWithRingsRefused(FileSystem& fs, const std::string& top) {
  sock_filter refuse[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{4, refuse};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    return 2;
  }
  std::unique_ptr<Directory> root;
  if (!fs.OpenDirectory(top, &root).ok()) return 3;
  const std::string differences = Differences(*root);
  std::fprintf(stderr, "%s", differences.c_str());
  return differences.empty() && root->ListedFilesOpenedAtOnce() == 1 ? 0 : 1;
}

TEST_F(BatchedOpensTest, WhereRingsAreRefusedNamesAreOpenedOneByOne) {
  // The child is a copy of this process, with the fixture's tree, which this process removes.
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(std::_Exit(OpenWithRingsRefused(*fs_, tree_.Root())), ::testing::ExitedWithCode(0),
              "");
}

// Files opened in a batch, one opened alone, one that holds a lease (opened to be replaced) and
// an empty place: none is left open, the lease included.
TEST_F(BatchedOpensTest, ClosingInABatchLeavesNoDescriptorOpen) {
  const size_t before = OpenDescriptors();
  {
    std::unique_ptr<Directory> root;
    ASSERT_TRUE(fs_->OpenDirectory(tree_.Root(), &root).ok());
    std::vector<OpenedFile> batch;
    root->OpenListedFiles(std::vector<std::string>(20, "sub/b.htm"), &batch);
    std::vector<std::unique_ptr<File>> files(1);
    for (OpenedFile& opened : batch) files.push_back(std::move(opened.file));
    files.emplace_back();
    ASSERT_TRUE(root->OpenFile("a.htm", OpenMode::kRead, &files.back()).ok());
    files.emplace_back();
    ASSERT_TRUE(root->OpenFile("a.htm", OpenMode::kReadHeld, &files.back()).ok());
    EXPECT_GE(OpenDescriptors(), before + 23);
    root->CloseReadFiles(&files);
    EXPECT_TRUE(files.empty());
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace quelix
