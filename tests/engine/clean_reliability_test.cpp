// The Remove command under faults: every file system call of a run is made to fail in turn, with
// each kind of error, and after every run each file must be either exactly as it was or exactly
// its cleaned form, with its attributes, and no temporary copy may be left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "app/controller.h"
#include "engine/signature.h"
#include "tests/support/fake_window.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

const std::string kSig = SignatureLine();
const std::string kMark = MarkerLine();
const std::string kDone = "The HTML.Quelix.A Virus has been removed successfully from your system.";

struct Sample {
  std::string name;
  std::string original;
  std::string cleaned;
};

const std::vector<Sample> kSamples = {
    {"a.htm", "head\r\n" + kMark + "\r\nmid\r\n" + kSig + "\r\ntail\r\n", "head\r\nmid\r\n"},
    {"sub/b.asp", "x\n" + kMark + "\n" + kSig + "\n", "x\n"},
    {"c.php", "  " + kSig + ", more\r\nafter", ""},
    {"d.vbs", "keep\r\n" + kMark + "\r\n" + kSig, "keep\r\n"},
};
const std::string kUsersTemp = "c.phptemp";

// The attribute word a file gets before the run: read-only (and hidden and system on Windows).
FileAttributes Protected(FileSystem& fs, FileAttributes attributes) {
  if (fs.Separator() == '\\') {
    attributes.word |= 0x1 | 0x2 | 0x4;
  } else {
    attributes.word = 0440;
  }
  return attributes;
}

class CleanReliabilityTest : public ::testing::Test {
 protected:
  // Lays out the samples, protects d.vbs, and records every file's attributes.
  void Prepare(const TempTree& tree) {
    for (const Sample& s : kSamples) tree.Write(s.name, s.original);
    tree.Write(kUsersTemp, "mine");
    FileInfo info;
    ASSERT_TRUE(native_->GetInfo(tree.Path("d.vbs"), &info).ok());
    ASSERT_TRUE(
        native_->SetAttributes(tree.Path("d.vbs"), Protected(*native_, info.attributes)).ok());
    attributes_.clear();
    for (const Sample& s : kSamples) {
      ASSERT_TRUE(native_->GetInfo(tree.Path(s.name), &info).ok());
      attributes_[s.name] = info.attributes;
    }
  }

  // Runs Scan, then Remove with call `fail_at` of the Remove command failing with `error`
  // (0: nothing fails). Returns the number of calls the Remove command made.
  int Run(const TempTree& tree, int fail_at, ErrorCode error, std::vector<std::string>* faults) {
    FakeWindow window;
    window.root = tree.root().string();
    FaultFileSystem fs(*native_);
    CommandController controller(window, fs, [](Directory&) { return nullptr; });
    EXPECT_EQ(controller.Scan(), CommandResult::kDone);
    fs.calls.clear();
    if (fail_at > 0) fs.FailCall(fail_at, error);
    controller.Remove();
    Check(tree, controller.engine(), window, faults);
    return static_cast<int>(fs.calls.size());
  }

  void Check(const TempTree& tree, const Engine& engine, const FakeWindow& window,
             std::vector<std::string>* faults) {
    bool all_cleaned = true;
    for (const RemovalResult& r : engine.removal().files) all_cleaned &= r.result.cleaned;
    for (const Sample& s : kSamples) {
      const std::string content = tree.Read(s.name);
      bool reported_clean = false;
      for (const RemovalResult& r : engine.removal().files) {
        if (r.path == tree.Path(s.name) && r.result.cleaned) reported_clean = true;
      }
      if (content != s.original && content != s.cleaned) faults->push_back(s.name + " damaged");
      if (reported_clean && content != s.cleaned) faults->push_back(s.name + " claimed clean");
      FileInfo info;
      if (!native_->GetInfo(tree.Path(s.name), &info).ok()) {
        faults->push_back(s.name + " gone");
      } else if (!(info.attributes == attributes_[s.name])) {
        faults->push_back(s.name + " lost its attributes");
      }
    }
    if (tree.Read(kUsersTemp) != "mine") faults->push_back("the user's temp file changed");
    size_t files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(tree.root())) {
      files += e.is_regular_file() ? 1 : 0;
    }
    if (files != kSamples.size() + 1) faults->push_back("a temporary copy was left behind");
    const bool success_told = window.messages.size() == 1 && window.messages[0] == kDone;
    if (success_told != all_cleaned) faults->push_back("the message box did not tell the truth");
  }

  std::unique_ptr<FileSystem> native_ = CreateNativeFileSystem();
  std::map<std::string, FileAttributes> attributes_;
};

TEST_F(CleanReliabilityTest, WithoutFaultsEveryFileIsCleaned) {
  TempTree tree;
  Prepare(tree);
  std::vector<std::string> faults;
  Run(tree, 0, ErrorCode::kOk, &faults);
  EXPECT_TRUE(faults.empty()) << faults.front();
  for (const Sample& s : kSamples) EXPECT_EQ(tree.Read(s.name), s.cleaned) << s.name;
}

TEST_F(CleanReliabilityTest, EveryFailingCallLeavesEachFileWholeOrCleaned) {
  int calls = 0;
  {
    TempTree tree;
    Prepare(tree);
    std::vector<std::string> ignored;
    calls = Run(tree, 0, ErrorCode::kOk, &ignored);
  }
  ASSERT_GT(calls, 40);
  int runs = 0;
  std::vector<std::string> faults;
  for (const ErrorCode error : {ErrorCode::kAccessDenied, ErrorCode::kDiskFull, ErrorCode::kIoError,
                                ErrorCode::kSharingViolation}) {
    for (int n = 1; n <= calls; ++n) {
      TempTree tree;
      Prepare(tree);
      std::vector<std::string> found;
      Run(tree, n, error, &found);
      for (const std::string& f : found) {
        faults.push_back("call " + std::to_string(n) + " " + Describe(error) + ": " + f);
      }
      ++runs;
    }
  }
  EXPECT_EQ(runs, 4 * calls);
  EXPECT_TRUE(faults.empty()) << faults.size() << " violations, first: " << faults.front();
  std::printf("fault points %d x 4 errors = %d runs, %zu violations\n", calls, runs, faults.size());
}

}  // namespace
}  // namespace quelix
