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
#include <vector>

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
  // `relative` with the native separator, as the program names parts below a directory.
  std::string R(std::string relative) const {
    std::replace(relative.begin(), relative.end(), '/', fs_->Separator());
    return relative;
  }

  Directory& Root() {
    if (!root_) {
      const Status s = fs_->OpenDirectory(tree_.Root(), &root_);
      EXPECT_TRUE(s.ok()) << s.message();
    }
    return *root_;
  }

  std::map<std::string, DirEntry> List(Directory& dir, Status* status = nullptr) {
    std::map<std::string, DirEntry> entries;
    const Status s = dir.List([&](const DirEntry& e) {
      EXPECT_FALSE(entries.count(e.name)) << "listed twice: " << e.name;
      entries[e.name] = e;
      return true;
    });
    if (status) *status = s;
    EXPECT_TRUE(status || s.ok()) << s.message();
    return entries;
  }
  std::map<std::string, DirEntry> List(const std::string& relative) {
    std::unique_ptr<Directory> dir;
    const Status s = Root().OpenDirectory(R(relative), &dir);
    EXPECT_TRUE(s.ok()) << s.message();
    return dir ? List(*dir) : std::map<std::string, DirEntry>{};
  }

  // Opens `relative` below the root in `mode`, writes `content` and closes it.
  Status WriteFile(const std::string& relative, OpenMode mode, const std::string& content) {
    std::unique_ptr<File> file;
    Status s = Root().OpenFile(R(relative), mode, &file);
    if (!s.ok()) return s;
    s = file->Write(content.data(), content.size());
    if (!s.ok()) return s;
    s = file->Sync();
    if (!s.ok()) return s;
    return file->Close();
  }

  std::unique_ptr<File> Open(const std::string& relative, OpenMode mode) {
    std::unique_ptr<File> file;
    const Status s = Root().OpenFile(R(relative), mode, &file);
    EXPECT_TRUE(s.ok()) << s.message();
    return file;
  }

  Status OpenStatus(const std::string& relative, OpenMode mode = OpenMode::kRead) {
    std::unique_ptr<File> file;
    const Status s = Root().OpenFile(R(relative), mode, &file);
    EXPECT_EQ(s.ok(), file != nullptr);
    return s;
  }

  // A copy of `name` written beside it as `name` + "temp", ready to take its place.
  void PrepareCopy(const std::string& name, const std::string& content,
                   std::unique_ptr<File>* original, std::unique_ptr<File>* copy) {
    *original = Open(name, OpenMode::kRead);
    *copy = Open(name + "temp", OpenMode::kWriteNew);
    ASSERT_TRUE(*original && *copy);
    ASSERT_TRUE((*copy)->Write(content.data(), content.size()).ok());
    ASSERT_TRUE((*copy)->Sync().ok());
  }

  TempTree tree_;
  std::unique_ptr<FileSystem> fs_ = CreateNativeFileSystem();
  std::unique_ptr<Directory> root_;
};

TEST(JoinPathTest, PutsOneSeparatorBetweenAndNoneBeforeANameWithoutFolder) {
  struct Case {
    const char* folder;
    char separator;
    const char* joined;
  };
  for (const Case& c :
       {Case{"/home/u", '/', "/home/u/log.txt"}, Case{"/", '/', "/log.txt"},
        Case{"", '/', "log.txt"}, Case{"c:\\Quelix\\", '\\', "c:\\Quelix\\log.txt"},
        Case{"c:\\Quelix", '\\', "c:\\Quelix\\log.txt"}, Case{"", '\\', "log.txt"}}) {
    EXPECT_EQ(JoinPath(c.folder, "log.txt", c.separator), c.joined) << c.folder;
  }
}

TEST_F(FileSystemTest, SeparatorIsTheNativeOne) {
  EXPECT_EQ(fs_->Separator(), NativeSeparator());
}

TEST_F(FileSystemTest, ListingGivesEveryEntryOnceWithoutDotsAndFlagsDirectories) {
  tree_.Write("page.htm", "x");
  tree_.Write("sub/inner.asp", "y");
  tree_.MakeDirectory("empty");
  const auto entries = List(Root());
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_FALSE(entries.at("page.htm").is_directory);
  EXPECT_TRUE(entries.at("sub").is_directory);
  EXPECT_TRUE(entries.at("empty").is_directory);
  if (OnWindows()) {
    EXPECT_TRUE(entries.at("sub").attributes & kWindowsDirectory);
    EXPECT_FALSE(entries.at("page.htm").attributes & kWindowsDirectory);
  }
  EXPECT_TRUE(List("empty").empty());
  const auto inner = List("sub");
  ASSERT_EQ(inner.size(), 1u);
  EXPECT_EQ(inner.begin()->first, "inner.asp");
  int visited = 0;
  EXPECT_TRUE(Root().List([&](const DirEntry&) { return ++visited < 2; }).ok());
  EXPECT_EQ(visited, 2) << "the listing stops when the visitor says so";
}

TEST_F(FileSystemTest, OpeningWhatIsMissingOrNoFileFails) {
  tree_.MakeDirectory("dir.htm");
  std::unique_ptr<Directory> dir;
  Status s = fs_->OpenDirectory(P("missing"), &dir);
  EXPECT_EQ(s.code(), ErrorCode::kNotFound) << s.message();
  EXPECT_NE(s.message().find("missing"), std::string::npos) << s.message();
  EXPECT_EQ(Root().OpenDirectory(R("no/such"), &dir).code(), ErrorCode::kNotFound);
  EXPECT_EQ(OpenStatus("dir.htm").code(), ErrorCode::kNotAFile);
  EXPECT_FALSE(OpenStatus("dir.htm", OpenMode::kWriteTruncate).ok());
  s = OpenStatus("absent.htm");
  EXPECT_EQ(s.code(), ErrorCode::kNotFound) << s.message();
  EXPECT_NE(s.message().find("absent.htm"), std::string::npos) << s.message();
  EXPECT_EQ(OpenStatus("no/such/dir/x.htm", OpenMode::kWriteNew).code(), ErrorCode::kNotFound);
  EXPECT_FALSE(OpenStatus("sub/../dir.htm").ok()) << "never upwards";
}

TEST_F(FileSystemTest, LinksAreListedButNeverEnteredOpenedOrFollowed) {
  tree_.Write("real/page.htm", "");
  std::error_code error;
  std::filesystem::create_directory_symlink(tree_.root() / "real", tree_.root() / "link", error);
  if (error) GTEST_SKIP() << "no directory links here: " << error.message();
  std::filesystem::create_symlink(tree_.root() / "real" / "page.htm", tree_.root() / "file.htm",
                                  error);
  const auto entries = List(Root());
  ASSERT_EQ(entries.count("link"), 1u);
  EXPECT_FALSE(entries.at("link").is_directory);
  EXPECT_TRUE(entries.at("real").is_directory);
  std::unique_ptr<Directory> dir;
  EXPECT_EQ(Root().OpenDirectory("link", &dir).code(), ErrorCode::kLink);
  EXPECT_EQ(OpenStatus("link/page.htm").code(), ErrorCode::kLink);
  EXPECT_EQ(OpenStatus("link/new.htm", OpenMode::kWriteNew).code(), ErrorCode::kLink);
  EXPECT_FALSE(tree_.Exists("real/new.htm"));
  if (!error) {
    EXPECT_EQ(OpenStatus("file.htm").code(), ErrorCode::kLink);
    std::unique_ptr<File> file;
    EXPECT_EQ(fs_->Open(P("file.htm"), OpenMode::kAppend, &file).code(), ErrorCode::kLink);
  }
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
  EXPECT_EQ(OpenStatus("taken.htm", OpenMode::kWriteNew).code(), ErrorCode::kAlreadyExists);
  EXPECT_EQ(tree_.Read("taken.htm"), "original content");
}

TEST_F(FileSystemTest, WriteTruncateEmptiesAndAppendKeepsAlsoAfterAnotherWriter) {
  tree_.Write("out.txt", "a long earlier content");
  ASSERT_TRUE(WriteFile("out.txt", OpenMode::kWriteTruncate, "short").ok());
  EXPECT_EQ(tree_.Read("out.txt"), "short");
  std::unique_ptr<File> log;
  ASSERT_TRUE(fs_->Open(P("out.txt"), OpenMode::kAppend, &log).ok());
  ASSERT_TRUE(log->Write("+one", 4).ok());
  ASSERT_TRUE(WriteFile("out.txt", OpenMode::kAppend, "+two").ok());
  ASSERT_TRUE(log->Write("+three", 6).ok());
  ASSERT_TRUE(log->Close().ok());
  EXPECT_EQ(tree_.Read("out.txt"), "short+one+two+three");
}

TEST_F(FileSystemTest, ReadGivesZeroAtTheEndAndRewindStartsOver) {
  tree_.Write("sub/page.htm", "0123456789abcdef");
  std::unique_ptr<File> file = Open("sub/page.htm", OpenMode::kRead);
  ASSERT_TRUE(file);
  char buffer[64];
  size_t got = 99;
  ASSERT_TRUE(file->Read(buffer, sizeof buffer, &got).ok());
  EXPECT_EQ(got, 16u);
  ASSERT_TRUE(file->Read(buffer, sizeof buffer, &got).ok());
  EXPECT_EQ(got, 0u);
  ASSERT_TRUE(file->Rewind().ok());
  ASSERT_TRUE(file->Read(buffer, 4, &got).ok());
  EXPECT_EQ(std::string(buffer, got), "0123");
  EXPECT_TRUE(file->Close().ok());
  EXPECT_TRUE(file->Close().ok()) << "a second Close is harmless";
}

// Holes written where the volume can leave them (else zeros) read back as zeros, whether the
// reader passes over them or reads them, and the file ends where its last hole ends.
TEST_F(FileSystemTest, HolesWrittenReadBackAsZerosPassedOverOrRead) {
  constexpr uint64_t kHole = 3 << 20;
  std::unique_ptr<File> file;
  ASSERT_TRUE(Root().OpenFile("holes.htm", OpenMode::kWriteNew, &file).ok());
  ASSERT_TRUE(file->Write("ab", 2).ok());
  ASSERT_TRUE(file->WriteHole(kHole).ok());
  ASSERT_TRUE(file->Write("cd", 2).ok());
  ASSERT_TRUE(file->WriteHole(kHole).ok());
  ASSERT_TRUE(file->Close().ok());
  const std::string expected = "ab" + std::string(kHole, '\0') + "cd" + std::string(kHole, '\0');
  for (const bool pass_over : {true, false}) {
    std::unique_ptr<File> read = Open("holes.htm", OpenMode::kReadHeld);
    ASSERT_TRUE(read);
    std::string content;
    std::vector<char> block(1 << 16);
    for (size_t got = 1; got > 0;) {
      uint64_t hole = 0;
      ASSERT_TRUE(!pass_over || read->SkipHole(&hole).ok());
      content.append(hole, '\0');
      const Status status = read->Read(block.data(), block.size(), &got);
      ASSERT_TRUE(status.ok()) << status.message();
      content.append(block.data(), got);
    }
    EXPECT_TRUE(content == expected) << "passed over: " << pass_over << ", " << content.size();
  }
}

TEST_F(FileSystemTest, InfoByNameAndThroughTheOpenFileAgree) {
  tree_.Write("page.htm", "12345");
  tree_.Write("other.htm", "");
  tree_.MakeDirectory("sub");
  FileInfo page, other, sub, opened;
  ASSERT_TRUE(fs_->GetInfo(P("page.htm"), &page).ok());
  ASSERT_TRUE(fs_->GetInfo(P("other.htm"), &other).ok());
  ASSERT_TRUE(fs_->GetInfo(P("sub"), &sub).ok());
  ASSERT_TRUE(Open("page.htm", OpenMode::kRead)->GetInfo(&opened).ok());
  EXPECT_TRUE(page.is_regular && opened.is_regular);
  EXPECT_FALSE(page.is_directory || page.is_link);
  EXPECT_EQ(page.size, 5u);
  EXPECT_TRUE(SameFileUnchanged(page, opened));
  EXPECT_EQ(opened.links, 1u);
  EXPECT_TRUE(sub.is_directory);
  EXPECT_FALSE(sub.is_regular);
  EXPECT_EQ(page.volume, other.volume);
  EXPECT_NE(page.file_id, other.file_id);
  const auto now_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  EXPECT_LT(std::llabs(page.modified_ns - now_ns), int64_t{3600} * 1000000000) << "Unix time";
  FileInfo missing;
  EXPECT_EQ(fs_->GetInfo(P("missing.htm"), &missing).code(), ErrorCode::kNotFound);
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
    EXPECT_EQ(List(Root()).at("page.htm").attributes & mask, wanted.word);
  }
  // The same word is what a copy is given through the open files.
  std::unique_ptr<File> original;
  std::unique_ptr<File> copy;
  PrepareCopy("page.htm", "y", &original, &copy);
  std::vector<std::string> lost;
  ASSERT_TRUE(original->CopyMetadataTo(*copy, &lost).ok());
  EXPECT_TRUE(lost.empty());
  ASSERT_TRUE(copy->GetInfo(&info).ok());
  EXPECT_EQ(info.attributes.word & mask, wanted.word);
}

TEST_F(FileSystemTest, ReplacePutsTheCopyInPlaceOfAReadOnlyTarget) {
  tree_.Write("page.htm", "infected page");
  FileInfo before;
  ASSERT_TRUE(fs_->GetInfo(P("page.htm"), &before).ok());
  FileAttributes read_only = before.attributes;
  read_only.word = OnWindows() ? (before.attributes.word | kWindowsReadOnly) & 0x27 : 0444;
  ASSERT_TRUE(fs_->SetAttributes(P("page.htm"), read_only).ok());
  std::unique_ptr<File> original;
  std::unique_ptr<File> copy;
  PrepareCopy("page.htm", "clean page", &original, &copy);
  const Status s = Root().Replace(std::move(original), "page.htm", std::move(copy), "page.htmtemp");
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(tree_.Read("page.htm"), "clean page");
  EXPECT_EQ(List(Root()).size(), 1u);
}

// Someone who may write in the folder swaps a name between the reading and the replacing.
TEST_F(FileSystemTest, ReplaceRefusesANameThatNoLongerNamesWhatWasRead) {
  tree_.Write("page.htm", "infected page");
  std::unique_ptr<File> original;
  std::unique_ptr<File> copy;
  PrepareCopy("page.htm", "clean page", &original, &copy);
  EXPECT_TRUE(original->Close().ok());  // Windows renames nothing over an open file
  std::filesystem::rename(tree_.root() / "page.htm", tree_.root() / "moved.htm");
  tree_.Write("page.htm", "someone else's page");
  original = Open("moved.htm", OpenMode::kRead);
  const Status s = Root().Replace(std::move(original), "page.htm", std::move(copy), "page.htmtemp");
  EXPECT_EQ(s.code(), ErrorCode::kChanged) << s.message();
  EXPECT_EQ(tree_.Read("page.htm"), "someone else's page");
  EXPECT_FALSE(tree_.Exists("page.htmtemp")) << "the copy is removed";
}

TEST_F(FileSystemTest, RemoveDeletesOnlyTheProgramsOwnFile) {
  std::unique_ptr<File> copy = Open("page.htmtemp", OpenMode::kWriteNew);
  ASSERT_TRUE(copy);
  FileAttributes read_only;
  read_only.word = OnWindows() ? kWindowsReadOnly | kWindowsHidden : 0444;
  ASSERT_TRUE(fs_->SetAttributes(P("page.htmtemp"), read_only).ok());
  Status s = Root().Remove(std::move(copy), "page.htmtemp");
  EXPECT_TRUE(s.ok()) << s.message();
  EXPECT_FALSE(tree_.Exists("page.htmtemp"));
  copy = Open("other.htmtemp", OpenMode::kWriteNew);
  EXPECT_TRUE(copy->Close().ok());
  std::filesystem::rename(tree_.root() / "other.htmtemp", tree_.root() / "kept.htm");
  tree_.Write("other.htmtemp", "someone else's");
  copy = Open("kept.htm", OpenMode::kRead);
  s = Root().Remove(std::move(copy), "other.htmtemp");
  EXPECT_EQ(s.code(), ErrorCode::kChanged) << s.message();
  EXPECT_EQ(tree_.Read("other.htmtemp"), "someone else's");
  ASSERT_TRUE(fs_->Remove(P("kept.htm")).ok());
  EXPECT_EQ(fs_->Remove(P("kept.htm")).code(), ErrorCode::kNotFound);
}

}  // namespace
}  // namespace quelix
