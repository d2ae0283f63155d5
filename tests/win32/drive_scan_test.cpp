// The Scan and Remove commands on a whole drive, started from "q:" the way the program starts from
// the drive chooser's designation. scripts/test-windows maps q: to an empty scratch folder and
// leaves in it a marker file, a link "loop" back to the root, a folder "victim" and folders that
// hold links to it and to a file in it, which the tests swap in while the program works (Wine
// cannot move a link itself); anywhere else (a real q: drive) the tests do nothing.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/signature.h"
#include "platform/file_system.h"
#include "tests/support/remove_fixture.h"

namespace quelix {
namespace {

namespace fs = std::filesystem;

constexpr char kMarker[] = "q:\\quelix-test-drive.txt";
constexpr char kRemoved[] =
    "The HTML.Quelix.A Virus has been removed successfully from your system.";
constexpr char kVictimFile[] = "q:\\victim\\victim.txt";
// Each holds "folder.htttemp", a link to the folder victim or to victim.txt; the first also holds
// "sub", a link to the folder victim.
constexpr char kFolderLinks[] = "q:\\swap-folder";
constexpr char kFileLinks[] = "q:\\swap-file";

class DriveScanTest : public RemoveFixture {
 protected:
  void SetUp() override {
    RemoveFixture::SetUp();
    window_.root = "q:";
    std::error_code error;
    if (!fs::is_regular_file(kMarker, error)) {
      GTEST_SKIP() << "drive q: is not the scratch drive of scripts/test-windows";
    }
    victim_content_ = Read(kVictimFile);
  }

  void TearDown() override {
    RemoveFixture::TearDown();
    // Links first: a clean-up that met one would go on through it.
    for (auto it = moved_.rbegin(); it != moved_.rend(); ++it) {
      MoveFileExA(it->first.c_str(), it->second.c_str(), 0);
    }
    moved_.clear();
    std::error_code ignored;
    for (const char* top :
         {"q:\\page.htm", "q:\\web", "q:\\old.asp", "q:\\deep", "q:\\victim\\page.htm"})
      fs::remove_all(top, ignored);
  }

  static void Write(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }

  // Moves `from` to `to`, as the owner of the folder could; moved back when the test ends.
  bool Move(const std::string& from, const std::string& to) {
    if (!MoveFileExA(from.c_str(), to.c_str(), 0)) return false;
    moved_.emplace_back(to, from);
    return true;
  }

  // Scans q: and removes what was found, running `swap` right before the call of kind `op` on
  // `path` that the removal makes.
  void ScanAndRemove(FsOp op, const std::string& path, const std::function<void()>& swap) {
    Scan();
    bool swapped = false;
    fs_.before = [&](const FsCall& call) {
      if (swapped || call.op != op || call.path != path) return;
      swapped = true;
      swap();
    };
    Remove();
    fs_.before = nullptr;
    EXPECT_TRUE(swapped) << "no " << path << " on the way";
  }

  std::string victim_content_;
  std::vector<std::pair<std::string, std::string>> moved_;  // where a folder is, where it was
};

TEST_F(DriveScanTest, ScansAndCleansTheWholeDriveFromItsDesignation) {
  const std::string infected = "<html>\r\n" + SignatureLine() + "\r\n</html>\r\n";
  // Deeper than the 260 characters a classic path may have.
  std::string deep = "q:\\deep\\";
  while (deep.size() < 300) deep += std::string(40, 'd') + "\\";
  deep += "deep.vbs";
  Write("q:\\page.htm", infected);
  Write("q:\\web\\index.htm", "<html>clean</html>\r\n");
  Write("q:\\web\\sub\\FOLDER.HTT", infected);
  Write(deep, infected);
  fs::create_directories("q:\\old.asp");
  FileAttributes hidden_read_only;
  hidden_read_only.word = 0x1 | 0x2 | 0x20;
  ASSERT_TRUE(native_->SetAttributes("q:\\web\\sub\\FOLDER.HTT", hidden_read_only).ok());

  Scan();

  EXPECT_EQ(window_.candidates,
            (std::vector<std::string>{"q:\\page.htm", "q:\\web\\index.htm", "q:\\old.asp", deep,
                                      "q:\\web\\sub\\FOLDER.HTT"}));
  EXPECT_EQ(window_.infected,
            (std::vector<std::string>{"q:\\page.htm", deep, "q:\\web\\sub\\FOLDER.HTT"}));
  const std::vector<std::string> log = LogLines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0] + "\r\n" + log[1], "Searching \r\nq:\\");
  EXPECT_EQ(window_.statuses.back(), "Scan complete. The list of infected files is given above.");

  Remove();

  EXPECT_EQ(window_.messages, std::vector<std::string>{kRemoved});
  FileInfo info;
  ASSERT_TRUE(native_->GetInfo("q:\\web\\sub\\FOLDER.HTT", &info).ok());
  EXPECT_EQ(info.attributes.word & 0x27, hidden_read_only.word);
  for (const std::string& path : {std::string("q:\\page.htm"), deep}) {
    EXPECT_EQ(Read(path), "<html>\r\n") << path;
  }
}

TEST_F(DriveScanTest, LinkBackToTheRootIsListedAsNoDirectoryAndNeverEntered) {
  std::unique_ptr<Directory> root;
  ASSERT_TRUE(native_->OpenDirectory("q:", &root).ok());
  EXPECT_EQ(root->path(), "q:\\");
  bool seen = false;
  const Status s = root->List([&](const DirEntry& e) {
    if (e.name == "loop") {
      seen = true;
      EXPECT_FALSE(e.is_directory) << "attributes " << e.attributes;
    }
    return true;
  });
  ASSERT_TRUE(s.ok()) << s.message();
  if (!seen) GTEST_SKIP() << "scripts/test-windows made no link q:\\loop";
  std::unique_ptr<Directory> loop;
  EXPECT_EQ(root->OpenDirectory("loop", &loop).code(), ErrorCode::kLink);
  std::unique_ptr<File> file;
  EXPECT_EQ(root->OpenFile("loop\\quelix-test-drive.txt", OpenMode::kRead, &file).code(),
            ErrorCode::kLink);
  FileInfo info;
  ASSERT_TRUE(native_->GetInfo("q:\\loop", &info).ok());
  EXPECT_TRUE(info.is_link);
  EXPECT_FALSE(info.is_directory);
}

// The owner of a folder swaps it for a link to another folder right before the removal looks it
// up, and puts the very file the scan found there: what the link leads to is still not the
// program's to change.
TEST_F(DriveScanTest, RemovalNeverFollowsAFolderSwappedForALink) {
  if (!fs::exists(kFolderLinks)) GTEST_SKIP() << "scripts/test-windows made no " << kFolderLinks;
  const std::string infected = "<html>\r\n" + SignatureLine() + "\r\n";
  Write("q:\\web\\sub\\page.htm", infected);
  ScanAndRemove(FsOp::kOpenDirectory, "q:\\web\\sub", [&] {
    ASSERT_TRUE(MoveFileExA("q:\\web\\sub\\page.htm", "q:\\victim\\page.htm", 0));
    ASSERT_TRUE(Move("q:\\web", "q:\\web.real"));
    ASSERT_TRUE(Move(kFolderLinks, "q:\\web"));  // q:\web\sub is now the link
  });
  EXPECT_EQ(window_.infected, std::vector<std::string>{"q:\\web\\sub\\page.htm"});
  EXPECT_EQ(Read("q:\\victim\\page.htm"), infected);
  EXPECT_EQ(Logged("Could not remove the virus from q:\\web\\sub\\page.htm").size(), 1u);
}

// A link to a folder or to a file stands where the cleaned copy would be made, put there right
// before the removal looks the folder up: the copy goes elsewhere, nothing is written through it.
TEST_F(DriveScanTest, CopyIsNeverMadeThroughALinkInItsPlace) {
  if (!fs::exists(kFolderLinks)) GTEST_SKIP() << "scripts/test-windows made no " << kFolderLinks;
  const std::string infected = "<html>\r\n" + SignatureLine() + "\r\n";
  for (const std::string links : {kFolderLinks, kFileLinks}) {
    SCOPED_TRACE(links);
    window_.messages.clear();
    Write("q:\\web\\folder.htt", infected);
    ScanAndRemove(FsOp::kOpenDirectory, "q:\\web", [&] {
      // The file scanned moves along, so it is still the one the scan found.
      ASSERT_TRUE(MoveFileExA("q:\\web\\folder.htt", (links + "\\folder.htt").c_str(), 0));
      ASSERT_TRUE(Move("q:\\web", "q:\\web.real"));
      ASSERT_TRUE(Move(links, "q:\\web"));
    });
    EXPECT_EQ(window_.messages, std::vector<std::string>{kRemoved});
    EXPECT_EQ(Read("q:\\web\\folder.htt"), "<html>\r\n");
    EXPECT_EQ(Read(kVictimFile), victim_content_);
    EXPECT_EQ(std::distance(fs::directory_iterator("q:\\victim"), fs::directory_iterator()), 1);
    DeleteFileA("q:\\web\\folder.htt");
    TearDown();
  }
}

}  // namespace
}  // namespace quelix
