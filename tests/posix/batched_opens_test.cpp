// Opens and closes the POSIX backend hands to the kernel in batches (io_uring, where the kernel
// offers it): each name of a batch ends as its own open would, failures told alike, and every
// descriptor is closed afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
    ASSERT_TRUE(fs_->OpenDirectory(tree_.Root(), &root_).ok());
  }

  TempTree tree_;
  std::unique_ptr<FileSystem> fs_ = CreateNativeFileSystem();
  std::unique_ptr<Directory> root_;
};

TEST_F(BatchedOpensTest, EachNameEndsAsItsOwnOpenWould) {
  const std::vector<std::string> names = {
      "a.htm",    "sub/b.htm", "dir.htm",  "link.htm",     "linked/b.htm",
      "pipe.htm", "gone.htm",  "../a.htm", "sub/../a.htm", std::string(300, 'x') + ".htm",
      "a.htm"};
  std::vector<OpenedFile> batch;
  root_->OpenListedFiles(names, &batch);
  ASSERT_EQ(batch.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    std::unique_ptr<File> alone;
    const Status status = root_->OpenListedFile(names[i], &alone);
    EXPECT_EQ(batch[i].status.code(), status.code());
    EXPECT_EQ(batch[i].status.message(), status.message());
    ASSERT_EQ(batch[i].file != nullptr, alone != nullptr);
    if (!alone) continue;
    FileInfo in_batch;
    FileInfo own;
    ASSERT_TRUE(batch[i].file->GetInfo(&in_batch).ok() && alone->GetInfo(&own).ok());
    EXPECT_EQ(in_batch.file_id, own.file_id);
    char byte = 0;
    size_t got = 0;
    EXPECT_TRUE(batch[i].file->Read(&byte, 1, &got).ok() && got == 1);
  }
  if (root_->ListedFilesOpenedAtOnce() == 1) {
    std::printf("this kernel took no batch: the names were opened one by one\n");
  }
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
