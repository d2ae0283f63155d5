// A tree of files, a recording window and a fake registry, for tests of the Remove command.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/engine.h"
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
  void SetUp() override { window_.root = tree_.root().string(); }

  Engine& engine() {
    if (!engine_) {
      engine_ = std::make_unique<Engine>(window_, fs_, [this](const std::string& root) {
        ++registry_opens_;
        opened_root_ = root;
        return std::make_unique<BorrowedRegistry>(registry_);
      });
    }
    return *engine_;
  }
  void Scan() { ASSERT_TRUE(engine().ScanCommand()); }
  void Remove() { engine().RemoveCommand(); }
  std::string P(const std::string& relative) const { return tree_.Path(relative); }

  TempTree tree_;
  FakeWindow window_;
  std::unique_ptr<FileSystem> native_ = CreateNativeFileSystem();
  FaultFileSystem fs_{*native_};
  FakeRegistry registry_;
  int registry_opens_ = 0;
  std::string opened_root_;
  std::unique_ptr<Engine> engine_;
};

}  // namespace quelix
