// A tree of files, a recording window and a fake registry, for tests of the commands as a front
// end runs them: through the command controller, with the event log in a file beside the tree.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/controller.h"
#include "tests/support/fake_registry.h"
#include "tests/support/fake_window.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/temp_tree.h"

namespace quelix {

// Lends a registry that the test owns to the engine, which owns what its opener returns.
class BorrowedRegistry : public Registry {
 public:
  explicit BorrowedRegistry(Registry& real) : real_(real) {}
  std::vector<RegistryStoreInfo> Stores() const override { return real_.Stores(); }
  Status OpenStore(size_t index, std::unique_ptr<RegistryStore>* store) override {
    return real_.OpenStore(index, store);
  }

 private:
  Registry& real_;
};

class RemoveFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    window_.root = tree_.root().string();
    // Tests that run the commands as another user keep their log here too. Sticky, as /tmp is:
    // the backups kept below it stay out of the reach of other users.
    std::filesystem::permissions(log_dir_.root(),
                                 std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
  }
  // The controller closes its log through fs_ when the fixture is destroyed, after the test
  // body's locals are gone.
  void TearDown() override {
    fs_.EndHooks();
    window_.EndHooks();
  }

  CommandController& controller() {
    if (!controller_) {
      controller_ = std::make_unique<CommandController>(window_, fs_, [this](Directory& root) {
        ++registry_opens_;
        opened_root_ = root.path();
        return std::make_unique<BorrowedRegistry>(registry_);
      });
      EXPECT_TRUE(controller_->OpenLog({{log_dir_.Path("log.txt"), false}}).ok());
    }
    return *controller_;
  }
  const Engine& engine() { return controller().engine(); }
  void Scan() { ASSERT_EQ(controller().Scan(), CommandResult::kDone); }
  void Remove() { controller().Remove(); }
  std::string P(const std::string& relative) const { return tree_.Path(relative); }

  // The event log's lines so far (an entry with a line break is two lines).
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    const std::string all = log_dir_.Exists("log.txt") ? log_dir_.Read("log.txt") : "";
    size_t start = 0;
    for (size_t end; (end = all.find("\r\n", start)) != std::string::npos; start = end + 2) {
      lines.push_back(all.substr(start, end - start));
    }
    return lines;
  }
  // The log's lines that start with `prefix`.
  std::vector<std::string> Logged(const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : LogLines()) {
      if (line.rfind(prefix, 0) == 0) found.push_back(line);
    }
    return found;
  }

  TempTree tree_;
  TempTree log_dir_;
  FakeWindow window_;
  std::unique_ptr<FileSystem> native_ = CreateNativeFileSystem();
  FaultFileSystem fs_{*native_};
  FakeRegistry registry_;
  int registry_opens_ = 0;
  std::string opened_root_;
  std::unique_ptr<CommandController> controller_;
};

}  // namespace quelix
