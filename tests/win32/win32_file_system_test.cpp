// What the Windows backend does beyond the shared contract: the attribute word, read-only files,
// sharing, devices, long paths and names outside ASCII. Runs on Windows and under Wine.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

class Win32FileSystemTest : public ::testing::Test {
 protected:
  std::string P(const std::string& relative) const { return tree_.Path(relative); }

  DWORD AttributesOf(const std::string& path) { return GetFileAttributesA(path.c_str()); }

  Status SetWord(const std::string& path, uint32_t word) {
    FileAttributes attributes;
    attributes.word = word;
    return fs_->SetAttributes(path, attributes);
  }

  Status WriteNew(const std::string& path, const std::string& content) {
    std::unique_ptr<File> file;
    Status s = fs_->Open(path, OpenMode::kWriteNew, &file);
    if (s.ok()) s = file->Write(content.data(), content.size());
    if (s.ok()) s = file->Close();
    return s;
  }

  std::string ReadAll(const std::string& path) {
    std::unique_ptr<File> file;
    const Status s = fs_->Open(path, OpenMode::kRead, &file);
    EXPECT_TRUE(s.ok()) << s.message();
    if (!s.ok()) return "<unreadable>";
    std::string content(4096, '\0');
    size_t got = 0;
    EXPECT_TRUE(file->Read(content.data(), content.size(), &got).ok());
    content.resize(got);
    return content;
  }

  TempTree tree_;
  std::unique_ptr<FileSystem> fs_ = CreateNativeFileSystem();
};

TEST_F(Win32FileSystemTest, AttributeWordIsTheWindowsOneInInfoAndListing) {
  tree_.Write("page.htm", "x");
  ASSERT_TRUE(
      SetWord(P("page.htm"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE)
          .ok());
  EXPECT_EQ(AttributesOf(P("page.htm")) & 0x27, 0x26u);
  FileInfo info;
  ASSERT_TRUE(fs_->GetInfo(P("page.htm"), &info).ok());
  EXPECT_EQ(info.attributes.word, AttributesOf(P("page.htm")));
  EXPECT_EQ(info.attributes.owner, -1);
  uint32_t listed = 0;
  ASSERT_TRUE(fs_->ListDirectory(tree_.Root(),
                                 [&](const DirEntry& e) {
                                   listed = e.attributes;
                                   return true;
                                 })
                  .ok());
  EXPECT_EQ(listed, info.attributes.word);
}

TEST_F(Win32FileSystemTest, SetAttributesTakesAWordWithBitsThatOnlyDescribeTheFile) {
  tree_.Write("page.htm", "x");
  // A word as GetInfo reports it for a compressed file; only the settable bits are applied.
  ASSERT_TRUE(SetWord(P("page.htm"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_COMPRESSED |
                                         FILE_ATTRIBUTE_DIRECTORY)
                  .ok());
  EXPECT_TRUE(AttributesOf(P("page.htm")) & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(AttributesOf(P("page.htm")) & FILE_ATTRIBUTE_DIRECTORY);
  ASSERT_TRUE(SetWord(P("page.htm"), 0).ok());
  EXPECT_FALSE(AttributesOf(P("page.htm")) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(Win32FileSystemTest, ReadOnlyFileIsReplacedWhole) {
  tree_.Write("page.htm", "infected");
  tree_.Write("page.htmtemp", "clean");
  constexpr DWORD kWord = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  ASSERT_TRUE(SetWord(P("page.htm"), kWord).ok());
  // The cleaner gives the copy the original's word before it takes the file's place.
  ASSERT_TRUE(SetWord(P("page.htmtemp"), kWord).ok());
  const Status s = fs_->Replace(P("page.htmtemp"), P("page.htm"));
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(tree_.Read("page.htm"), "clean");
  EXPECT_EQ(AttributesOf(P("page.htm")) & 0x7, kWord);
  EXPECT_EQ(AttributesOf(P("page.htmtemp")), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Win32FileSystemTest, ReadOnlyFileRefusesWrites) {
  // Wine running as root lets the owner write to a read-only file.
  if (UnderWine()) GTEST_SKIP() << "Wine does not enforce the read-only attribute here";
  tree_.Write("page.htm", "infected");
  ASSERT_TRUE(SetWord(P("page.htm"), FILE_ATTRIBUTE_READONLY).ok());
  std::unique_ptr<File> file;
  const Status s = fs_->Open(P("page.htm"), OpenMode::kWriteTruncate, &file);
  EXPECT_EQ(s.code(), ErrorCode::kAccessDenied) << s.message();
  file.reset();
  EXPECT_EQ(tree_.Read("page.htm"), "infected");
}

TEST_F(Win32FileSystemTest, RemoveOfAFileInUseFailsAndKeepsItsReadOnlyBit) {
  tree_.Write("page.htmtemp", "copy");
  ASSERT_TRUE(SetWord(P("page.htmtemp"), FILE_ATTRIBUTE_READONLY).ok());
  const HANDLE holder = CreateFileA(P("page.htmtemp").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const Status s = fs_->Remove(P("page.htmtemp"));
  EXPECT_FALSE(s.ok());
  CloseHandle(holder);
  EXPECT_TRUE(AttributesOf(P("page.htmtemp")) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(tree_.Read("page.htmtemp"), "copy");
}

TEST_F(Win32FileSystemTest, ReplaceOfAFileStillOpenFailsAndLeavesBothAsTheyWere) {
  tree_.Write("page.htm", "infected");
  tree_.Write("page.htmtemp", "clean");
  std::unique_ptr<File> reading;
  ASSERT_TRUE(fs_->Open(P("page.htm"), OpenMode::kRead, &reading).ok());
  const Status s = fs_->Replace(P("page.htmtemp"), P("page.htm"));
  ASSERT_TRUE(reading->Close().ok());
  if (s.ok()) GTEST_SKIP() << "this system replaces open files (POSIX rename semantics)";
  EXPECT_EQ(tree_.Read("page.htm"), "infected");
  EXPECT_EQ(tree_.Read("page.htmtemp"), "clean");
  ASSERT_TRUE(fs_->Replace(P("page.htmtemp"), P("page.htm")).ok());
  EXPECT_EQ(tree_.Read("page.htm"), "clean");
}

TEST_F(Win32FileSystemTest, FailedReplaceGivesTheTargetItsReadOnlyBitBack) {
  tree_.Write("page.htm", "original");
  ASSERT_TRUE(SetWord(P("page.htm"), FILE_ATTRIBUTE_READONLY).ok());
  const Status s = fs_->Replace(P("page.htmtemp"), P("page.htm"));
  EXPECT_EQ(s.code(), ErrorCode::kNotFound) << s.message();
  EXPECT_TRUE(AttributesOf(P("page.htm")) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(tree_.Read("page.htm"), "original");
}

TEST_F(Win32FileSystemTest, ReadsAFileAnotherProgramIsWritingButNotOneItLocked) {
  tree_.Write("shared.htm", "being written");
  tree_.Write("locked.htm", "exclusive");
  const HANDLE writer =
      CreateFileA(P("shared.htm").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const HANDLE exclusive = CreateFileA(P("locked.htm").c_str(), GENERIC_READ, 0, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadAll(P("shared.htm")), "being written");
  std::unique_ptr<File> file;
  const Status s = fs_->Open(P("locked.htm"), OpenMode::kRead, &file);
  EXPECT_EQ(s.code(), ErrorCode::kSharingViolation) << s.message();
  CloseHandle(writer);
  CloseHandle(exclusive);
}

TEST_F(Win32FileSystemTest, DevicesAreNotFiles) {
  std::unique_ptr<File> file;
  Status s = fs_->Open("NUL", OpenMode::kRead, &file);
  EXPECT_EQ(s.code(), ErrorCode::kNotAFile) << s.message();
  s = fs_->Open("NUL", OpenMode::kWriteTruncate, &file);
  EXPECT_EQ(s.code(), ErrorCode::kNotAFile) << s.message();
  EXPECT_FALSE(file);
}

TEST_F(Win32FileSystemTest, MessagesCarryThePathAndTheSystemText) {
  const std::string missing = P("missing.htm");
  FileInfo info;
  const Status s = fs_->GetInfo(missing, &info);
  ASSERT_EQ(s.code(), ErrorCode::kNotFound);
  ASSERT_EQ(s.message().rfind(missing + ": ", 0), 0u) << s.message();
  const std::string text = s.message().substr(missing.size() + 2);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.back(), '.');
}

TEST_F(Win32FileSystemTest, PathsBeyond260CharactersWorkEverywhere) {
  std::string dir = tree_.Root();
  while (dir.size() < 400) {
    dir += std::string(40, 'd') + "\\";
    // Made through the wide entry point with the long-path prefix, which every system accepts.
    const std::wstring wide = L"\\\\?\\" + std::wstring(dir.begin(), dir.end());
    ASSERT_TRUE(CreateDirectoryW(wide.c_str(), nullptr)) << GetLastError();
  }
  const std::string page = dir + "page.htm";
  ASSERT_TRUE(WriteNew(page, "deep").ok());
  ASSERT_TRUE(WriteNew(page + "temp", "deeper").ok());
  std::vector<std::string> names;
  ASSERT_TRUE(fs_->ListDirectory(dir,
                                 [&](const DirEntry& e) {
                                   names.push_back(e.name);
                                   return true;
                                 })
                  .ok());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"page.htm", "page.htmtemp"}));
  FileInfo info;
  ASSERT_TRUE(fs_->GetInfo(page, &info).ok());
  EXPECT_EQ(info.size, 4u);
  EXPECT_TRUE(info.is_regular);
  ASSERT_TRUE(SetWord(page, FILE_ATTRIBUTE_READONLY).ok());
  ASSERT_TRUE(SetWord(page + "temp", FILE_ATTRIBUTE_READONLY).ok());
  const Status replaced = fs_->Replace(page + "temp", page);
  ASSERT_TRUE(replaced.ok()) << replaced.message();
  EXPECT_EQ(ReadAll(page), "deeper");
  const Status removed = fs_->Remove(page);
  EXPECT_TRUE(removed.ok()) << removed.message();
  EXPECT_EQ(fs_->GetInfo(page, &info).code(), ErrorCode::kNotFound);
}

TEST_F(Win32FileSystemTest, NameBeyond255CharactersIsReportedTooLong) {
  const std::string name = std::string(254, 'n') + ".htm";
  std::unique_ptr<File> file;
  const Status s = fs_->Open(tree_.Root() + name, OpenMode::kWriteNew, &file);
  EXPECT_EQ(s.code(), ErrorCode::kNameTooLong) << s.message();
  EXPECT_FALSE(file);
  const std::string fits = std::string(251, 'n') + ".htm";
  EXPECT_TRUE(WriteNew(tree_.Root() + fits, "x").ok());
  FileInfo info;
  EXPECT_EQ(fs_->GetInfo(tree_.Root() + name, &info).code(), ErrorCode::kNameTooLong);
  const std::string missing = std::string(251, 'm') + ".htm";
  EXPECT_EQ(fs_->GetInfo(tree_.Root() + missing, &info).code(), ErrorCode::kNotFound);
}

TEST_F(Win32FileSystemTest, DirectorySymbolicLinkIsNeverEntered) {
  tree_.Write("real/page.htm", "");
  if (!CreateSymbolicLinkA(
          P("link").c_str(), P("real").c_str(),
          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
      AttributesOf(P("link")) == INVALID_FILE_ATTRIBUTES) {
    // Wine answers success without making the link.
    GTEST_SKIP() << "no directory symbolic links here (error " << GetLastError() << ")";
  }
  bool link_is_directory = true;
  bool listed = false;
  ASSERT_TRUE(fs_->ListDirectory(tree_.Root(),
                                 [&](const DirEntry& e) {
                                   if (e.name == "link") {
                                     listed = true;
                                     link_is_directory = e.is_directory;
                                     EXPECT_TRUE(e.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
                                   }
                                   return true;
                                 })
                  .ok());
  EXPECT_TRUE(listed);
  EXPECT_FALSE(link_is_directory);
  FileInfo info;
  ASSERT_TRUE(fs_->GetInfo(P("link"), &info).ok());
  EXPECT_TRUE(info.is_link);
  EXPECT_FALSE(info.is_directory);
  RemoveDirectoryA(P("link").c_str());
}

TEST_F(Win32FileSystemTest, NamesOutsideAsciiRoundTripUnderTheUtf8CodePage) {
  if (GetACP() != CP_UTF8) GTEST_SKIP() << "process code page is " << GetACP() << ", not UTF-8";
  const std::string name = "caf\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC.htm";  // café-日本.htm
  ASSERT_TRUE(WriteNew(tree_.Root() + name, "utf-8").ok());
  std::string listed;
  ASSERT_TRUE(fs_->ListDirectory(tree_.Root(),
                                 [&](const DirEntry& e) {
                                   listed = e.name;
                                   return true;
                                 })
                  .ok());
  EXPECT_EQ(listed, name);
  EXPECT_EQ(ReadAll(tree_.Root() + name), "utf-8");
}

}  // namespace
}  // namespace quelix
