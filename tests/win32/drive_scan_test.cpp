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
    for (const char* top : {"q:\\page.htm", "q:\\web", "q:\\old.asp"}) fs::remove_all(top, ignored);
  }

  static void Write(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
  }

  std::unique_ptr<FileSystem> native_ = CreateNativeFileSystem();
  FakeWindow window_;
};

TEST_F(DriveScanTest, ScansTheWholeDriveFromItsDesignation) {
  Engine engine(window_, *native_);
  const std::string infected = "<html>\r\n" + engine.signature() + "\r\n</html>\r\n";
  Write("q:\\page.htm", infected);
  Write("q:\\web\\index.htm", "<html>clean</html>\r\n");
  Write("q:\\web\\sub\\FOLDER.HTT", infected);
  fs::create_directories("q:\\old.asp");
  window_.root = "q:";

  ASSERT_TRUE(engine.ScanCommand());

  EXPECT_EQ(window_.candidates,
            (std::vector<std::string>{"q:\\page.htm", "q:\\web\\index.htm", "q:\\old.asp",
                                      "q:\\web\\sub\\FOLDER.HTT"}));
  EXPECT_EQ(window_.infected,
            (std::vector<std::string>{"q:\\page.htm", "q:\\web\\sub\\FOLDER.HTT"}));
  const std::vector<std::string> searching = window_.EventsStartingWith("log: Searching ");
  ASSERT_FALSE(searching.empty());
  EXPECT_EQ(searching.front(), "log: Searching \r\nq:\\");
  EXPECT_EQ(window_.statuses.back(), "Scan complete. The list of infected files is given above.");
}

TEST_F(DriveScanTest, LinkBackToTheRootIsListedAsNoDirectory) {
  bool seen = false;
  const Status s = native_->ListDirectory("q:", [&](const DirEntry& e) {
    if (e.name == "loop") {
      seen = true;
      EXPECT_FALSE(e.is_directory) << "attributes " << e.attributes;
    }
    return true;
  });
  ASSERT_TRUE(s.ok()) << s.message();
  if (!seen) GTEST_SKIP() << "scripts/test-windows made no link q:\\loop";
  FileInfo info;
  ASSERT_TRUE(native_->GetInfo("q:\\loop", &info).ok());
  EXPECT_TRUE(info.is_link);
  EXPECT_FALSE(info.is_directory);
}

}  // namespace
}  // namespace quelix
