// Kills the headless driver with SIGKILL at random moments of a Remove run: however the run ends,
// every file must be either exactly as it was or exactly its cleaned form, with its mode.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "engine/signature.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

constexpr int kFiles = 300;
constexpr int kRounds = 20;

std::string Original(int i) {
  return "<html>\r\n" + std::string(static_cast<size_t>(200 + i * 13), 'p') + "\r\n" +
         MarkerLine() + "\r\nkept " + std::to_string(i) + "\r\n" + SignatureLine() + "\r\n</html>";
}
std::string Cleaned(int i) {
  return "<html>\r\n" + std::string(static_cast<size_t>(200 + i * 13), 'p') + "\r\nkept " +
         std::to_string(i) + "\r\n";
}
std::string Name(int i) {
  return "d" + std::to_string(i % 7) + "/page" + std::to_string(i) + ".htm";
}

void Lay(const TempTree& tree) {
  for (int i = 0; i < kFiles; ++i) {
    tree.Write(Name(i), Original(i));
    chmod(tree.Path(Name(i)).c_str(), i % 2 ? 0640 : 0604);
  }
}

pid_t StartRemove(const TempTree& tree) {
  const pid_t child = fork();
  if (child == 0) {
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    const std::string root = tree.root().string();
    execl(QUELIX_SCAN_BENCH, "scan_bench", root.c_str(), "--remove", static_cast<char*>(nullptr));
    _exit(127);
  }
  return child;
}

// Counts files as they should be; adds a line to `violations` for every other one.
int Check(const TempTree& tree, std::vector<std::string>* violations) {
  int cleaned = 0;
  for (int i = 0; i < kFiles; ++i) {
    const std::string content = tree.Read(Name(i));
    struct stat st;
    if (stat(tree.Path(Name(i)).c_str(), &st) != 0) {
      violations->push_back(Name(i) + " is gone");
      continue;
    }
    if ((st.st_mode & 07777) != (i % 2 ? 0640u : 0604u)) violations->push_back(Name(i) + " mode");
    if (content == Cleaned(i)) {
      ++cleaned;
    } else if (content != Original(i)) {
      violations->push_back(Name(i) + " damaged");
    }
  }
  return cleaned;
}

TEST(RemoveKillTest, FilesStayWholeOrCleanedWhenTheRunIsKilled) {
  std::chrono::duration<double> full{};
  {
    TempTree tree;
    Lay(tree);
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    waitpid(StartRemove(tree), &status, 0);
    full = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::vector<std::string> violations;
    ASSERT_EQ(Check(tree, &violations), kFiles);
    ASSERT_TRUE(violations.empty());
  }
  std::mt19937 random(2026);
  std::uniform_real_distribution<double> moment(0.0, full.count());
  std::vector<std::string> violations;
  int partial_rounds = 0;
  int leftovers = 0;
  for (int round = 0; round < kRounds; ++round) {
    TempTree tree;
    Lay(tree);
    const pid_t child = StartRemove(tree);
    std::this_thread::sleep_for(std::chrono::duration<double>(moment(random)));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const int cleaned = Check(tree, &violations);
    partial_rounds += cleaned > 0 && cleaned < kFiles ? 1 : 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(tree.root())) {
      leftovers += e.path().filename().string().ends_with("temp") ? 1 : 0;
    }
  }
  EXPECT_TRUE(violations.empty()) << violations.size() << " violations, first: " << violations[0];
  std::printf(
      "kill rounds %d (%d stopped mid-way, full run %.2f s), %zu violations, %d copies "
      "left by a kill\n",
      kRounds, partial_rounds, full.count(), violations.size(), leftovers);
}

}  // namespace
}  // namespace quelix
