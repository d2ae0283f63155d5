// The FileSystem contract, checked on the native backend of whichever platform the tests run on
// (POSIX natively, Windows under Wine), on real temporary directories.
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>

#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

constexpr uint32_t kWindowsReadOnly = 0x1;
constexpr uint32_t kWindowsHidden = 0x2;
constexpr uint32_t kWindowsDirectory = 0x10;

class FileSystemTest : public ::testing::Test {
 protected:
  bool OnWindows() const { return fs_->Separator() == '\\'; }
  std::string P(const std::string& relative) const { return tree_.Path(relative); }

  std::map<std::string, DirEntry> List(const std::string& dir, Status* status = nullptr) {
    std::map<std::string, DirEntry> entries;
    const Status s = fs_->ListDirectory(dir, [&](const DirEntry& e) {
      EXPECT_FALSE(entries.count(e.name)) << "listed twice: " << e.name;
      entries[e.name] = e;
      return true;
    });
    if (status) *status = s;
    EXPECT_TRUE(status || s.ok()) << s.message();
    return entries;
  }

  // Opens `relative` in `mode`, writes `content` and closes it; returns the first failure.
  Status WriteFile(const std::string& relative, OpenMode mode, const std::string& content) {
    std::unique_ptr<File> file;
    Status s = fs_->Open(P(relative), mode, &file);
    if (!s.ok()) return s;
    s = file->Write(content.data(), content.size());
    if (!s.ok()) return s;
    s = file->Sync();
    if (!s.ok()) return s;
    return file->Close();
  }

  // The whole content of `relative` as read through the backend, in small pieces.
  std::string ReadFile(const std::string& relative) {
    std::unique_ptr<File> file;
    const Status s = fs_->Open(P(relative), OpenMode::kRead, &file);
    EXPECT_TRUE(s.ok()) << s.message();
    if (!s.ok()) return "<unreadable>";
    std::string content;
    char buffer[7];
    size_t got = 0;
    do {
      EXPECT_TRUE(file->Read(buffer, sizeof buffer, &got).ok());
      content.append(buffer, got);
    } while (got > 0);
    EXPECT_TRUE(file->Close().ok());
    return content;
  }

  TempTree tree_;
  std::unique_ptr<FileSystem> fs_ = CreateNativeFileSystem();
};

TEST_F(FileSystemTest, SeparatorIsTheNativeOne) {
  EXPECT_EQ(fs_->Separator(), NativeSeparator());
}

TEST_F(FileSystemTest, ListingGivesEveryEntryOnceWithoutDotsAndFlagsDirectories) {
  tree_.Write("page.htm", "x");
  tree_.Write("sub/inner.asp", "y");
  tree_.MakeDirectory("empty");
  const auto entries = List(tree_.Root());
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_FALSE(entries.at("page.htm").is_directory);
  EXPECT_TRUE(entries.at("sub").is_directory);
  EXPECT_TRUE(entries.at("empty").is_directory);
  if (OnWindows()) {
    EXPECT_TRUE(entries.at("sub").attributes & kWindowsDirectory);
    EXPECT_FALSE(entries.at("page.htm").attributes & kWindowsDirectory);
  }
  EXPECT_TRUE(List(P("empty") + fs_->Separator()).empty());
  const auto inner = List(P("sub") + fs_->Separator());
  ASSERT_EQ(inner.size(), 1u);
  EXPECT_EQ(inner.begin()->first, "inner.asp");
}

TEST_F(FileSystemTest, ListingStopsWhenTheVisitorSaysSo) {
  for (const char* name : {"a", "b", "c", "d"}) tree_.Write(name, "");
  int visited = 0;
  const Status s = fs_->ListDirectory(tree_.Root(), [&](const DirEntry&) { return ++visited < 2; });
  EXPECT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(visited, 2);
}

TEST_F(FileSystemTest, ListingAMissingDirectoryFailsWithNotFound) {
  Status s;
  const auto entries = List(P("missing") + fs_->Separator(), &s);
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(s.code(), ErrorCode::kNotFound) << s.message();
  EXPECT_NE(s.message().find("missing"), std::string::npos) << s.message();
}

TEST_F(FileSystemTest, LinkToADirectoryIsListedButNeverEntered) {
  tree_.Write("real/page.htm", "");
  std::error_code error;
  std::filesystem::create_directory_symlink(tree_.root() / "real", tree_.root() / "link", error);
  if (error) GTEST_SKIP() << "no directory links here: " << error.message();
  const auto entries = List(tree_.Root());
  ASSERT_EQ(entries.count("link"), 1u);
  EXPECT_FALSE(entries.at("link").is_directory);
  EXPECT_TRUE(entries.at("real").is_directory);
  FileInfo info;
  ASSERT_TRUE(fs_->GetInfo(P("link"), &info).ok());
  EXPECT_TRUE(info.is_link);
  EXPECT_FALSE(info.is_directory);
  EXPECT_FALSE(info.is_regular);
}

TEST_F(FileSystemTest, WriteNewCreatesButNeverTouchesAnExistingFile) {
  ASSERT_TRUE(WriteFile("new.txt", OpenMode::kWriteNew, "fresh").ok());
  EXPECT_EQ(tree_.Read("new.txt"), "fresh");
  tree_.Write("taken.htm", "original content");
  std::unique_ptr<File> file;
  const Status s = fs_->Open(P("taken.htm"), OpenMode::kWriteNew, &file);
  EXPECT_EQ(s.code(), ErrorCode::kAlreadyExists) << s.message();
  EXPECT_FALSE(file);
  EXPECT_EQ(tree_.Read("taken.htm"), "original content");
}

TEST_F(FileSystemTest, WriteTruncateEmptiesAndAppendKeeps) {
  tree_.Write("out.txt", "a long earlier content");
  ASSERT_TRUE(WriteFile("out.txt", OpenMode::kWriteTruncate, "short").ok());
  EXPECT_EQ(tree_.Read("out.txt"), "short");
  ASSERT_TRUE(WriteFile("out.txt", OpenMode::kAppend, "+more").ok());
  ASSERT_TRUE(WriteFile("out.txt", OpenMode::kAppend, "+end").ok());
  EXPECT_EQ(tree_.Read("out.txt"), "short+more+end");
  ASSERT_TRUE(WriteFile("log.txt", OpenMode::kAppend, "first").ok());
  EXPECT_EQ(tree_.Read("log.txt"), "first");
  ASSERT_TRUE(WriteFile("made.txt", OpenMode::kWriteTruncate, "").ok());
  EXPECT_TRUE(tree_.Exists("made.txt"));
}

TEST_F(FileSystemTest, AppendLandsAtTheEndEvenAfterAnotherWriter) {
  std::unique_ptr<File> log;
  ASSERT_TRUE(fs_->Open(P("log.txt"), OpenMode::kAppend, &log).ok());
  ASSERT_TRUE(log->Write("one ", 4).ok());
  ASSERT_TRUE(WriteFile("log.txt", OpenMode::kAppend, "two ").ok());
  ASSERT_TRUE(log->Write("three", 5).ok());
  ASSERT_TRUE(log->Close().ok());
  EXPECT_EQ(tree_.Read("log.txt"), "one two three");
}

TEST_F(FileSystemTest, ReadGivesZeroAtTheEndAndRewindStartsOver) {
  tree_.Write("page.htm", "0123456789abcdef");
  EXPECT_EQ(ReadFile("page.htm"), "0123456789abcdef");
  std::unique_ptr<File> file;
  ASSERT_TRUE(fs_->Open(P("page.htm"), OpenMode::kRead, &file).ok());
  char buffer[64];
  size_t got = 99;
  ASSERT_TRUE(file->Read(buffer, sizeof buffer, &got).ok());
  EXPECT_EQ(got, 16u);
  ASSERT_TRUE(file->Read(buffer, sizeof buffer, &got).ok());
  EXPECT_EQ(got, 0u);
  ASSERT_TRUE(file->Read(buffer, sizeof buffer, &got).ok());
  EXPECT_EQ(got, 0u);
  ASSERT_TRUE(file->Rewind().ok());
  ASSERT_TRUE(file->Read(buffer, 4, &got).ok());
  EXPECT_EQ(std::string(buffer, got), "0123");
  EXPECT_TRUE(file->Close().ok());
  EXPECT_TRUE(file->Close().ok()) << "a second Close is harmless";
}

TEST_F(FileSystemTest, ReadingWhatIsNoFileFails) {
  tree_.MakeDirectory("dir.htm");
  std::unique_ptr<File> file;
  Status s = fs_->Open(P("dir.htm"), OpenMode::kRead, &file);
  EXPECT_EQ(s.code(), ErrorCode::kNotAFile) << s.message();
  s = fs_->Open(P("dir.htm"), OpenMode::kWriteTruncate, &file);
  EXPECT_FALSE(s.ok());
  EXPECT_FALSE(file);
  s = fs_->Open(P("absent.htm"), OpenMode::kRead, &file);
  EXPECT_EQ(s.code(), ErrorCode::kNotFound) << s.message();
  EXPECT_NE(s.message().find("absent.htm"), std::string::npos) << s.message();
  s = fs_->Open(P("no/such/dir/x.htm"), OpenMode::kWriteNew, &file);
  EXPECT_EQ(s.code(), ErrorCode::kNotFound) << s.message();
}

TEST_F(FileSystemTest, GetInfoDescribesFilesAndDirectories) {
  tree_.Write("page.htm", "12345");
  tree_.Write("other.htm", "");
  tree_.MakeDirectory("sub");
  FileInfo page, other, sub;
  ASSERT_TRUE(fs_->GetInfo(P("page.htm"), &page).ok());
  ASSERT_TRUE(fs_->GetInfo(P("other.htm"), &other).ok());
  ASSERT_TRUE(fs_->GetInfo(P("sub"), &sub).ok());
  EXPECT_TRUE(page.is_regular);
  EXPECT_FALSE(page.is_directory);
  EXPECT_FALSE(page.is_link);
  EXPECT_EQ(page.size, 5u);
  EXPECT_TRUE(sub.is_directory);
  EXPECT_FALSE(sub.is_regular);
  EXPECT_EQ(page.volume, other.volume);
  EXPECT_NE(page.file_id, other.file_id);
  const auto now_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  EXPECT_LT(std::llabs(page.modified_ns - now_ns), int64_t{3600} * 1000000000) << "Unix time";
  FileInfo missing;
  const Status s = fs_->GetInfo(P("missing.htm"), &missing);
  EXPECT_EQ(s.code(), ErrorCode::kNotFound) << s.message();
}

TEST_F(FileSystemTest, AttributesComeBackAsTheyWereSet) {
  tree_.Write("page.htm", "x");
  FileAttributes wanted;
  wanted.word = OnWindows() ? kWindowsHidden | kWindowsReadOnly : 0640;
  ASSERT_TRUE(fs_->SetAttributes(P("page.htm"), wanted).ok());
  FileInfo info;
  ASSERT_TRUE(fs_->GetInfo(P("page.htm"), &info).ok());
  const uint32_t mask = OnWindows() ? kWindowsHidden | kWindowsReadOnly : 07777;
  EXPECT_EQ(info.attributes.word & mask, wanted.word);
  if (OnWindows()) {
    EXPECT_EQ(List(tree_.Root()).at("page.htm").attributes & mask, wanted.word);
  }
  wanted.word = OnWindows() ? 0x20 : 0644;
  ASSERT_TRUE(fs_->SetAttributes(P("page.htm"), wanted).ok());
  ASSERT_TRUE(fs_->GetInfo(P("page.htm"), &info).ok());
  EXPECT_EQ(info.attributes.word & mask, wanted.word & mask);
}

TEST_F(FileSystemTest, ReplacePutsTheCopyInPlaceOfAReadOnlyTarget) {
  tree_.Write("page.htm", "infected page");
  tree_.Write("page.htmtemp", "clean page");
  FileInfo before;
  ASSERT_TRUE(fs_->GetInfo(P("page.htm"), &before).ok());
  FileAttributes read_only = before.attributes;
  read_only.word = OnWindows() ? (before.attributes.word | kWindowsReadOnly) & 0x27 : 0444;
  ASSERT_TRUE(fs_->SetAttributes(P("page.htm"), read_only).ok());
  const Status s = fs_->Replace(P("page.htmtemp"), P("page.htm"));
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(tree_.Read("page.htm"), "clean page");
  EXPECT_FALSE(tree_.Exists("page.htmtemp"));
  EXPECT_EQ(List(tree_.Root()).size(), 1u);
}

TEST_F(FileSystemTest, ReplaceWithAMissingSourceLeavesTheTargetAlone) {
  tree_.Write("page.htm", "original");
  const Status s = fs_->Replace(P("page.htmtemp"), P("page.htm"));
  EXPECT_EQ(s.code(), ErrorCode::kNotFound) << s.message();
  EXPECT_EQ(tree_.Read("page.htm"), "original");
}

TEST_F(FileSystemTest, RemoveDeletesAFileAndReportsAMissingOne) {
  tree_.Write("page.htmtemp", "copy");
  ASSERT_TRUE(fs_->Remove(P("page.htmtemp")).ok());
  EXPECT_FALSE(tree_.Exists("page.htmtemp"));
  const Status s = fs_->Remove(P("page.htmtemp"));
  EXPECT_EQ(s.code(), ErrorCode::kNotFound) << s.message();
}

TEST_F(FileSystemTest, RemoveDeletesAReadOnlyCopy) {
  tree_.Write("page.htmtemp", "copy");
  FileAttributes read_only;
  read_only.word = OnWindows() ? kWindowsReadOnly | kWindowsHidden : 0444;
  ASSERT_TRUE(fs_->SetAttributes(P("page.htmtemp"), read_only).ok());
  const Status s = fs_->Remove(P("page.htmtemp"));
  EXPECT_TRUE(s.ok()) << s.message();
  EXPECT_FALSE(tree_.Exists("page.htmtemp"));
}

}  // namespace
}  // namespace quelix
