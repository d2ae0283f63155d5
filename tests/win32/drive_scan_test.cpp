// The Scan command on a whole drive, started from "q:" the way the program starts from the drive
// chooser's designation. scripts/test-windows maps q: to an empty scratch folder and leaves a
// marker file and a link "loop" back to the root in it; anywhere else (a real q: drive) the tests
// do nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/file_system.h"
#include "tests/support/fake_window.h"

namespace quelix {
namespace {

namespace fs = std::filesystem;

constexpr char kMarker[] = "q:\\quelix-test-drive.txt";

class DriveScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::error_code error;
    if (!fs::is_regular_file(kMarker, error)) {
      GTEST_SKIP() << "drive q: is not the scratch drive of scripts/test-windows";
    }
  }

  void TearDown() override {
    std::error_code ignored;
    for (const char* top : {"q:\\page.htm", "q:\\web", "q:\\old.asp", "q:\\deep"})
      fs::remove_all(top, ignored);
  }

  static void Write(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
  }

  std::unique_ptr<FileSystem> native_ = CreateNativeFileSystem();
  FakeWindow window_;
};

TEST_F(DriveScanTest, ScansAndCleansTheWholeDriveFromItsDesignation) {
  Engine engine(window_, *native_, [](const std::string&) { return nullptr; });
  const std::string infected = "<html>\r\n" + engine.signature() + "\r\n</html>\r\n";
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
  window_.root = "q:";

  ASSERT_TRUE(engine.ScanCommand());

  EXPECT_EQ(window_.candidates,
            (std::vector<std::string>{"q:\\page.htm", "q:\\web\\index.htm", "q:\\old.asp", deep,
                                      "q:\\web\\sub\\FOLDER.HTT"}));
  EXPECT_EQ(window_.infected,
            (std::vector<std::string>{"q:\\page.htm", deep, "q:\\web\\sub\\FOLDER.HTT"}));
  const std::vector<std::string> searching = window_.EventsStartingWith("log: Searching ");
  ASSERT_FALSE(searching.empty());
  EXPECT_EQ(searching.front(), "log: Searching \r\nq:\\");
  EXPECT_EQ(window_.statuses.back(), "Scan complete. The list of infected files is given above.");

  engine.RemoveCommand();

  EXPECT_EQ(window_.messages,
            (std::vector<std::string>{
                "The HTML.Quelix.A Virus has been removed successfully from your system."}));
  FileInfo info;
  ASSERT_TRUE(native_->GetInfo("q:\\web\\sub\\FOLDER.HTT", &info).ok());
  EXPECT_EQ(info.attributes.word & 0x27, hidden_read_only.word);
  for (const std::string& path : {std::string("q:\\page.htm"), deep}) {
    std::unique_ptr<File> file;
    ASSERT_TRUE(native_->Open(path, OpenMode::kRead, &file).ok()) << path;
    char buffer[64];
    size_t got = 0;
    ASSERT_TRUE(file->Read(buffer, sizeof buffer, &got).ok());
    EXPECT_EQ(std::string(buffer, got), "<html>\r\n") << path;
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

}  // namespace
}  // namespace quelix
