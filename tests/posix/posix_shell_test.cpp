#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/shell.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

// Puts a stand-in xdg-open first on PATH for the test's lifetime: it records the document it was
// given instead of opening a viewer.
class FakeOpenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.Write("bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > \"" + tree_.Path("opened") +
                                    ".tmp\"\nmv \"" + tree_.Path("opened") + ".tmp\" \"" +
                                    tree_.Path("opened") + "\"\n");
    std::filesystem::permissions(tree_.Path("bin/xdg-open"), std::filesystem::perms::owner_all);
    const char* path = std::getenv("PATH");
    saved_path_ = path ? path : "";
    setenv("PATH", (tree_.Path("bin") + ":" + saved_path_).c_str(), 1);
  }
  void TearDown() override { setenv("PATH", saved_path_.c_str(), 1); }

  // What the stand-in recorded, once it has run (it runs detached from the test; a busy machine
  // may take its time to start it).
  std::string Opened() {
    for (int i = 0; i < 12000 && !tree_.Exists("opened"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return tree_.Exists("opened") ? tree_.Read("opened") : "<never opened>";
  }

  TempTree tree_;
  std::string saved_path_;
};

TEST_F(FakeOpenerTest, HandsTheDocumentToTheDesktopOpener) {
  const std::string readme = tree_.Path("program dir/readme.txt");
  EXPECT_TRUE(CreateNativeShell()->hyperlink(readme).ok());
  EXPECT_EQ(Opened(), readme) << "passed on unchanged, blanks and all, whether or not it exists";
}

TEST_F(FakeOpenerTest, LeavesNoChildOfTheProgramBehind) {
  ASSERT_TRUE(CreateNativeShell()->hyperlink(tree_.Path("readme.txt")).ok());
  Opened();
  // The opener runs as a grandchild and the child in between is reaped at once: nothing is left
  // for this process to wait for, so no zombie piles up over a run.
  int status = 0;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(PosixShellTest, AMissingOpenerGoesUnnoticed) {
  const char* path = std::getenv("PATH");
  const std::string saved = path ? path : "";
  setenv("PATH", "/nonexistent", 1);
  const Status status = CreateNativeShell()->hyperlink("/nowhere/readme.txt");
  setenv("PATH", saved.c_str(), 1);
  EXPECT_TRUE(status.ok());
  int child_status = 0;
  EXPECT_EQ(waitpid(-1, &child_status, WNOHANG), -1);
}

}  // namespace
}  // namespace quelix
