// What a cleaned copy takes over on Windows besides the attribute word: the security descriptor
// and the alternate data streams, copied handle to handle.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it relies on.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

class Win32MetadataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.Write("page.htm", "infected");
    ASSERT_TRUE(fs_->OpenDirectory(tree_.Root(), &root_).ok());
  }

  // Gives page.htm's content and metadata to a new page.htmtemp; returns what was lost.
  std::vector<std::string> CopyPage() {
    std::unique_ptr<File> original;
    std::unique_ptr<File> copy;
    EXPECT_TRUE(root_->OpenFile("page.htm", OpenMode::kRead, &original).ok());
    EXPECT_TRUE(root_->OpenFile("page.htmtemp", OpenMode::kWriteNew, &copy).ok());
    std::vector<std::string> lost;
    if (!original || !copy) return {"<not opened>"};
    const Status s = original->CopyMetadataTo(*copy, &lost);
    EXPECT_TRUE(s.ok()) << s.message();
    return lost;
  }

  TempTree tree_;
  std::unique_ptr<FileSystem> fs_ = CreateNativeFileSystem();
  std::unique_ptr<Directory> root_;
};

struct Dacl {
  bool is_protected = false;
  std::vector<std::pair<std::string, DWORD>> entries;  // SID as text, access mask
};

Dacl DaclOf(const std::string& path) {
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  Dacl dacl;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS) {
    ADD_FAILURE() << "no security descriptor for " << path;
    return dacl;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  dacl.is_protected = control & SE_DACL_PROTECTED;
  for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) continue;
    char* sid = nullptr;
    ConvertSidToStringSidA(&ace->SidStart, &sid);
    dacl.entries.emplace_back(sid ? sid : "?", ace->Mask);
    LocalFree(sid);
  }
  LocalFree(descriptor);
  return dacl;
}

// A DACL that inherits nothing from the folder, as a user could give a page of theirs.
void Protect(const std::string& path) {
  EXPLICIT_ACCESSA access[2] = {};
  char everyone[] = "EVERYONE";
  char anonymous[] = "ANONYMOUS LOGON";
  BuildExplicitAccessWithNameA(&access[0], everyone, FILE_ALL_ACCESS, GRANT_ACCESS, NO_INHERITANCE);
  BuildExplicitAccessWithNameA(&access[1], anonymous, FILE_GENERIC_READ, GRANT_ACCESS,
                               NO_INHERITANCE);
  PACL acl = nullptr;
  ASSERT_EQ(SetEntriesInAclA(2, access, nullptr, &acl), static_cast<DWORD>(ERROR_SUCCESS));
  const DWORD set =
      SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, acl, nullptr);
  LocalFree(acl);
  ASSERT_EQ(set, static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(Win32MetadataTest, CopyTakesTheSecurityDescriptor) {
  Protect(tree_.Path("page.htm"));
  const Dacl wanted = DaclOf(tree_.Path("page.htm"));
  constexpr char kAnonymous[] = "S-1-5-7";  // which no file here gets otherwise
  if (std::none_of(wanted.entries.begin(), wanted.entries.end(),
                   [&](const auto& entry) { return entry.first == kAnonymous; })) {
    // Wine answers success and derives the DACL from the Unix mode bits.
    GTEST_SKIP() << "this system keeps no DACL it is given";
  }
  const std::vector<std::string> lost = CopyPage();
  EXPECT_TRUE(lost.empty()) << lost.front();
  const Dacl got = DaclOf(tree_.Path("page.htmtemp"));
  // Wine keeps no "protected" flag; Windows does.
  EXPECT_EQ(got.is_protected, wanted.is_protected);
  EXPECT_EQ(got.entries, wanted.entries);
}

// The backup store's folders: the user and the administrators, nobody else, nothing inherited.
TEST_F(Win32MetadataTest, TheProgramsOwnFoldersAreForTheUserAndTheAdministratorsAlone) {
  const std::string folder = tree_.Path("state\\backups");
  ASSERT_TRUE(fs_->CreateDirectories(folder).ok());
  const Dacl dacl = DaclOf(folder);
  constexpr char kAdministrators[] = "S-1-5-32-544";
  if (dacl.entries.size() != 2 || dacl.entries[1].first != kAdministrators) {
    GTEST_SKIP() << "this system keeps no DACL it is given";  // Wine: see above
  }
  EXPECT_TRUE(dacl.is_protected);
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string user(size, '\0');
  char* sid = nullptr;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user.data(), size, &size));
  ASSERT_TRUE(ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid));
  EXPECT_EQ(dacl.entries[0].first, sid);
  LocalFree(sid);
  CloseHandle(token);
}

TEST_F(Win32MetadataTest, CopyTakesTheAlternateDataStreams) {
  DWORD flags = 0;
  const std::string volume = tree_.root().root_path().string();
  if (!GetVolumeInformationA(volume.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) ||
      !(flags & FILE_NAMED_STREAMS)) {
    // Wine keeps no streams: a name with a colon makes a file of that name there.
    GTEST_SKIP() << "the volume of " << tree_.Root() << " keeps no alternate data streams";
  }
  const HANDLE stream = CreateFileA(tree_.Path("page.htm:note").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(stream, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(stream, "remark", 6, &written, nullptr));
  CloseHandle(stream);
  const std::vector<std::string> lost = CopyPage();
  EXPECT_TRUE(lost.empty()) << lost.front();
  EXPECT_EQ(tree_.Read("page.htmtemp:note"), "remark");
}

}  // namespace
}  // namespace quelix
