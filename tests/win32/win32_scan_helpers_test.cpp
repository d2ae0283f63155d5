// The scan's helper threads on the Windows backend: they open the pages of the tree's top folder
// ahead of the scan, close the ones read and list the next folders, each from a handle of its own.
// What a user sees must be what one thread gives, failures included.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/candidate_opener.h"
#include "engine/engine.h"
#include "engine/signature.h"
#include "tests/support/fake_window.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

using List = std::vector<std::string>;

const std::string kInfected = "<html>\r\n" + SignatureLine() + "\r\n</html>\r\n";

// More pages at the top than the helpers open ahead, so that they wait, open and close in turn;
// pages below it too, which the scan opens through their folder; and a page another program
// holds without sharing it, which no open may read.
class ScanHelpersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 80; ++i) {
      tree_.Write("page" + std::to_string(i) + ".htm", i % 7 == 0 ? kInfected : "<html>\r\n");
    }
    for (const char* deep : {"web/index.htm", "web/sub/folder.htt", "web/sub/deeper/x.vbs"}) {
      tree_.Write(deep, kInfected);
    }
    tree_.MakeDirectory("old.asp");
    tree_.Write("locked.htm", kInfected);
    locked_ = CreateFileA(tree_.Path("locked.htm").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                          0, nullptr);
    ASSERT_NE(locked_, INVALID_HANDLE_VALUE) << GetLastError();
  }
  void TearDown() override {
    if (locked_ != INVALID_HANDLE_VALUE) CloseHandle(locked_);
  }

  // Scans the tree through `fs`, the window as a user would see it afterwards.
  FakeWindow Scanned(FileSystem& fs) {
    FakeWindow window;
    window.root = tree_.root().string();
    Engine engine(window, window, fs, CreateNativeRegistry);
    EXPECT_TRUE(engine.ScanCommand());
    return window;
  }

  TempTree tree_;
  HANDLE locked_ = INVALID_HANDLE_VALUE;
  std::unique_ptr<FileSystem> native_ = CreateNativeFileSystem();
};

TEST_F(ScanHelpersTest, HelpersOpenTheTopFoldersPagesFromTheirOwnRoot) {
  SearchedTree tree(*native_);
  ASSERT_TRUE(tree.Open(tree_.Root()).ok());
  const List names{tree_.Path("page1.htm"), tree_.Path("web/index.htm"), tree_.Path("locked.htm")};
  CandidateOpener opener(
      tree, names.size(), [&](size_t i) { return names[i]; }, [](size_t) { return true; });
  EXPECT_GT(opener.helpers(), 0u);
  // The listing tells a page from a folder, and a page of the top folder goes to a helper; one
  // further down is opened through its folder.
  std::map<std::string, bool> listed_regular;
  ASSERT_TRUE(tree.root_directory()
                  .List([&](const DirEntry& entry) {
                    listed_regular[entry.name] = entry.is_regular_file;
                    return true;
                  })
                  .ok());
  EXPECT_TRUE(listed_regular.at("page1.htm"));
  EXPECT_FALSE(listed_regular.at("old.asp"));
  std::string relative;
  EXPECT_TRUE(tree.OpensInOneStep(names[0], true, &relative));
  EXPECT_FALSE(tree.OpensInOneStep(names[1], true, &relative));
  std::vector<ErrorCode> codes;
  for (size_t i = 0; i < names.size(); ++i) {
    CandidateOpener::Opened opened = opener.TakeNext();
    codes.push_back(opened.status.code());
    if (opened.file) opener.Done(std::move(opened.file));
  }
  EXPECT_EQ(codes,
            (std::vector<ErrorCode>{ErrorCode::kOk, ErrorCode::kOk, ErrorCode::kSharingViolation}));
}

// The same scan with the helpers (the backend itself) and without them (a wrapper, whose folders
// are used by one thread only): the same lists, log entries, status texts and yields, in order.
TEST_F(ScanHelpersTest, ScanSeesWhatOneThreadSees) {
  FaultFileSystem one_thread(*native_);
  const FakeWindow alone = Scanned(one_thread);
  const FakeWindow helped = Scanned(*native_);
  EXPECT_EQ(helped.events, alone.events);
  EXPECT_EQ(helped.candidates.size(), 80u + 3 + 2);
  EXPECT_EQ(helped.infected.size(), 12u + 3);
  List unread;
  for (const std::string& entry : helped.log) {
    if (entry.rfind("Could not read ", 0) == 0) unread.push_back(entry.substr(0, entry.find(": ")));
  }
  EXPECT_EQ(unread, List{"Could not read " + tree_.Path("locked.htm")});
}

}  // namespace
}  // namespace quelix
