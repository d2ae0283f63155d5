// What the Windows backend does beyond the shared contract: the attribute word, read-only files,
// sharing, devices, what a copy takes over through the handles, long paths and names outside
// ASCII. Runs on Windows and under Wine.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
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

  Directory& Root() {
    if (!root_) {
      const Status s = fs_->OpenDirectory(tree_.Root(), &root_);
      EXPECT_TRUE(s.ok()) << s.message();
    }
    return *root_;
  }

  std::unique_ptr<File> OpenBelow(Directory& dir, const std::string& relative, OpenMode mode) {
    std::unique_ptr<File> file;
    const Status s = dir.OpenFile(relative, mode, &file);
    EXPECT_TRUE(s.ok()) << s.message();
    return file;
  }

  // A copy of `name` in `dir`, written as `name` + "temp", ready to take its place.
  void PrepareCopy(Directory& dir, const std::string& name, const std::string& content,
                   std::unique_ptr<File>* original, std::unique_ptr<File>* copy) {
    *original = OpenBelow(dir, name, OpenMode::kRead);
    *copy = OpenBelow(dir, name + "temp", OpenMode::kWriteNew);
    ASSERT_TRUE(*original && *copy);
    ASSERT_TRUE((*copy)->Write(content.data(), content.size()).ok());
  }

  std::map<std::string, DirEntry> List(Directory& dir) {
    std::map<std::string, DirEntry> entries;
    const Status s = dir.List([&](const DirEntry& e) {
      entries[e.name] = e;
      return true;
    });
    EXPECT_TRUE(s.ok()) << s.message();
    return entries;
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
  std::unique_ptr<Directory> root_;
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
  EXPECT_EQ(List(Root()).at("page.htm").attributes, info.attributes.word);
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

// The copy gets the original's word through its own handle while it is still open and being
// written, and a copy made read-only so is still deleted through that handle.
TEST_F(Win32FileSystemTest, CopyTakesTheWordThroughItsHandleAndStillGoesAway) {
  constexpr DWORD kWord = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  tree_.Write("page.htm", "infected");
  ASSERT_TRUE(SetWord(P("page.htm"), kWord).ok());
  std::unique_ptr<File> original;
  std::unique_ptr<File> copy;
  PrepareCopy(Root(), "page.htm", "clean", &original, &copy);
  std::vector<std::string> lost;
  ASSERT_TRUE(original->CopyMetadataTo(*copy, &lost).ok());
  EXPECT_TRUE(lost.empty()) << lost.front();
  EXPECT_EQ(AttributesOf(P("page.htmtemp")) & 0x7, kWord);
  FileInfo info;
  ASSERT_TRUE(copy->GetInfo(&info).ok());
  EXPECT_EQ(info.attributes.word & 0x7, kWord);
  EXPECT_TRUE(copy->Write("+", 1).ok()) << "the handle keeps the access it was opened with";
  const Status s = Root().Remove(std::move(copy), "page.htmtemp");
  EXPECT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(AttributesOf(P("page.htmtemp")), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Win32FileSystemTest, ReadOnlyFileIsReplacedWholeAndKeepsItsWord) {
  constexpr DWORD kWord = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  tree_.Write("sub/page.htm", "infected");
  ASSERT_TRUE(SetWord(P("sub/page.htm"), kWord).ok());
  std::unique_ptr<Directory> sub;
  ASSERT_TRUE(Root().OpenDirectory("sub", &sub).ok());
  std::unique_ptr<File> original;
  std::unique_ptr<File> copy;
  PrepareCopy(*sub, "page.htm", "clean", &original, &copy);
  std::vector<std::string> lost;
  ASSERT_TRUE(original->CopyMetadataTo(*copy, &lost).ok());
  const Status s = sub->Replace(std::move(original), "page.htm", std::move(copy), "page.htmtemp");
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(tree_.Read("sub/page.htm"), "clean");
  EXPECT_EQ(AttributesOf(P("sub/page.htm")) & 0x7, kWord);
  EXPECT_EQ(AttributesOf(P("sub/page.htmtemp")), INVALID_FILE_ATTRIBUTES);
}

// Windows renames nothing over a file another program holds open: the original stays as it was,
// with its read-only bit, and the copy goes.
TEST_F(Win32FileSystemTest, ReplaceOfAFileAnotherProgramHoldsFailsAndLeavesItAsItWas) {
  tree_.Write("page.htm", "infected");
  ASSERT_TRUE(SetWord(P("page.htm"), FILE_ATTRIBUTE_READONLY).ok());
  std::unique_ptr<File> original;
  std::unique_ptr<File> copy;
  PrepareCopy(Root(), "page.htm", "clean", &original, &copy);
  const HANDLE other = CreateFileA(P("page.htm").c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  const Status s = Root().Replace(std::move(original), "page.htm", std::move(copy), "page.htmtemp");
  CloseHandle(other);
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(tree_.Read("page.htm"), "infected");
  EXPECT_TRUE(AttributesOf(P("page.htm")) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(AttributesOf(P("page.htmtemp")), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Win32FileSystemTest, NobodyRenamesAHeldFolderOrTheCopyWhileTheProgramWorks) {
  tree_.Write("sub/page.htm", "infected");
  std::unique_ptr<Directory> sub;
  ASSERT_TRUE(Root().OpenDirectory("sub", &sub).ok());
  std::unique_ptr<File> copy = OpenBelow(*sub, "page.htmtemp", OpenMode::kWriteNew);
  ASSERT_TRUE(copy);
  EXPECT_FALSE(MoveFileExA(P("sub/page.htmtemp").c_str(), P("sub/other").c_str(), 0));
  EXPECT_FALSE(MoveFileExA(P("sub").c_str(), P("moved").c_str(), 0));
  EXPECT_FALSE(MoveFileExA(tree_.Root().c_str(), (tree_.root().string() + "-moved").c_str(), 0));
  ASSERT_TRUE(sub->Remove(std::move(copy), "page.htmtemp").ok());
  sub.reset();
  root_.reset();
  EXPECT_TRUE(MoveFileExA(P("sub").c_str(), P("moved").c_str(), 0)) << "free once let go";
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
  std::unique_ptr<File> file = OpenBelow(Root(), "shared.htm", OpenMode::kRead);
  char buffer[64];
  size_t got = 0;
  ASSERT_TRUE(file && file->Read(buffer, sizeof buffer, &got).ok());
  EXPECT_EQ(std::string(buffer, got), "being written");
  const Status s = Root().OpenFile("locked.htm", OpenMode::kRead, &file);
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
  FileInfo info;
  std::unique_ptr<File> file;
  const std::string missing = P("missing.htm");
  const Status by_path = fs_->GetInfo(missing, &info);
  const Status below = Root().OpenFile("missing.htm", OpenMode::kRead, &file);
  for (const Status& s : {by_path, below}) {
    ASSERT_EQ(s.code(), ErrorCode::kNotFound) << s.message();
    ASSERT_EQ(s.message().rfind(missing + ": ", 0), 0u) << s.message();
    const std::string text = s.message().substr(missing.size() + 2);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '.');
  }
}

TEST_F(Win32FileSystemTest, PathsBeyond260CharactersWorkEverywhere) {
  std::string dir = tree_.Root();
  std::string relative;
  while (dir.size() < 400) {
    relative += std::string(40, 'd') + "\\";
    dir = tree_.Root() + relative;
    // Made through the wide entry point with the long-path prefix, which every system accepts.
    const std::wstring wide = L"\\\\?\\" + std::wstring(dir.begin(), dir.end());
    ASSERT_TRUE(CreateDirectoryW(wide.c_str(), nullptr)) << GetLastError();
  }
  std::unique_ptr<Directory> deep;
  Status s = fs_->OpenDirectory(dir, &deep);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(deep->path(), dir);
  std::unique_ptr<File> file = OpenBelow(Root(), relative + "page.htm", OpenMode::kWriteNew);
  ASSERT_TRUE(file && file->Write("deep", 4).ok() && file->Close().ok());
  FileInfo info;
  ASSERT_TRUE(fs_->GetInfo(dir + "page.htm", &info).ok());
  EXPECT_EQ(info.size, 4u);
  ASSERT_TRUE(SetWord(dir + "page.htm", FILE_ATTRIBUTE_READONLY).ok());
  std::unique_ptr<File> original;
  std::unique_ptr<File> copy;
  PrepareCopy(*deep, "page.htm", "deeper", &original, &copy);
  EXPECT_EQ(List(*deep).size(), 2u);
  s = deep->Replace(std::move(original), "page.htm", std::move(copy), "page.htmtemp");
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(ReadAll(dir + "page.htm"), "deeper");
  s = fs_->Remove(dir + "page.htm");
  EXPECT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(fs_->GetInfo(dir + "page.htm", &info).code(), ErrorCode::kNotFound);
}

TEST_F(Win32FileSystemTest, NameBeyond255CharactersIsReportedTooLong) {
  const std::string name = std::string(254, 'n') + ".htm";
  std::unique_ptr<File> file;
  Status s = Root().OpenFile(name, OpenMode::kWriteNew, &file);
  EXPECT_EQ(s.code(), ErrorCode::kNameTooLong) << s.message();
  EXPECT_FALSE(file);
  s = fs_->Open(tree_.Root() + name, OpenMode::kWriteNew, &file);
  EXPECT_EQ(s.code(), ErrorCode::kNameTooLong) << s.message();
  const std::string fits = std::string(251, 'n') + ".htm";
  EXPECT_TRUE(OpenBelow(Root(), fits, OpenMode::kWriteNew));
  FileInfo info;
  EXPECT_EQ(fs_->GetInfo(tree_.Root() + name, &info).code(), ErrorCode::kNameTooLong);
  const std::string missing = std::string(251, 'm') + ".htm";
  EXPECT_EQ(fs_->GetInfo(tree_.Root() + missing, &info).code(), ErrorCode::kNotFound);
}

TEST_F(Win32FileSystemTest, NamesThatLeadElsewhereAreRefused) {
  tree_.Write("sub/page.htm", "x");
  std::unique_ptr<File> file;
  std::unique_ptr<Directory> dir;
  EXPECT_FALSE(Root().OpenFile("sub\\..\\sub\\page.htm", OpenMode::kRead, &file).ok());
  EXPECT_FALSE(Root().OpenDirectory("sub\\..", &dir).ok());
  // A colon names a stream of the file before it, or makes a file of that odd name under Wine.
  EXPECT_FALSE(Root().OpenFile("sub\\page.htm:note", OpenMode::kWriteNew, &file).ok());
  EXPECT_FALSE(Root().OpenFile("sub:note", OpenMode::kWriteNew, &file).ok());
  ASSERT_TRUE(Root().OpenDirectory("sub", &dir).ok());
  EXPECT_EQ(List(*dir).size(), 1u) << "nothing was made";
  EXPECT_EQ(List(Root()).size(), 1u);
}

TEST_F(Win32FileSystemTest, DirectorySymbolicLinkIsNeverEntered) {
  tree_.Write("real/page.htm", "");
  if (!CreateSymbolicLinkA(
          P("link").c_str(), P("real").c_str(),
          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
      AttributesOf(P("link")) == INVALID_FILE_ATTRIBUTES) {
    // Wine answers success without making the link; drive_scan_test.cpp uses a Unix one instead.
    GTEST_SKIP() << "no directory symbolic links here (error " << GetLastError() << ")";
  }
  const DirEntry entry = List(Root()).at("link");
  EXPECT_FALSE(entry.is_directory);
  EXPECT_TRUE(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  std::unique_ptr<Directory> dir;
  EXPECT_EQ(Root().OpenDirectory("link", &dir).code(), ErrorCode::kLink);
  std::unique_ptr<File> file;
  EXPECT_EQ(Root().OpenFile("link\\page.htm", OpenMode::kRead, &file).code(), ErrorCode::kLink);
  FileInfo info;
  ASSERT_TRUE(fs_->GetInfo(P("link"), &info).ok());
  EXPECT_TRUE(info.is_link);
  EXPECT_FALSE(info.is_directory);
  RemoveDirectoryA(P("link").c_str());
}

TEST_F(Win32FileSystemTest, NamesOutsideAsciiRoundTripUnderTheUtf8CodePage) {
  if (GetACP() != CP_UTF8) GTEST_SKIP() << "process code page is " << GetACP() << ", not UTF-8";
  const std::string name = "caf\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC.htm";  // café-日本.htm
  std::unique_ptr<File> file = OpenBelow(Root(), name, OpenMode::kWriteNew);
  ASSERT_TRUE(file && file->Write("utf-8", 5).ok() && file->Close().ok());
  EXPECT_EQ(List(Root()).begin()->first, name);
  EXPECT_EQ(ReadAll(tree_.Root() + name), "utf-8");
}

}  // namespace
}  // namespace quelix
