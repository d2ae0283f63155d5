// Kills quelix with SIGKILL at random moments of a removal and of the restore after it: however
// a run ends, every file must be either exactly as it was or exactly its cleaned form, with its
// mode, and the backup store must hold a whole copy for every line of its manifest. A restore
// run to its end then brings every file back as it was.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "engine/backup_format.h"
#include "engine/signature.h"
#include "runtime/sha256.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {
namespace fs = std::filesystem;

constexpr int kFiles = 300;
constexpr int kRounds = 12;

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

// Run as root, quelix runs as this user: root's state folder is its home's whatever the
// environment says, and the tests keep theirs apart.
constexpr uid_t kUser = 65534;

// Gives `tree` and everything in it to kUser, where the test runs as root.
void GiveAway(const TempTree& tree) {
  if (geteuid() != 0) return;
  chown(tree.root().c_str(), kUser, kUser);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(tree.root())) {
    chown(entry.path().c_str(), kUser, kUser);
  }
}

void Lay(const TempTree& tree) {
  for (int i = 0; i < kFiles; ++i) {
    tree.Write(Name(i), Original(i));
    chmod(tree.Path(Name(i)).c_str(), i % 2 ? 0640 : 0604);
  }
  GiveAway(tree);
}

// Starts `quelix COMMAND...` with its backup store in `state`.
pid_t Start(const TempTree& state, std::vector<std::string> args) {
  GiveAway(state);
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(kUser) != 0 || setuid(kUser) != 0)) {
      _exit(126);
    }
    setenv("XDG_STATE_HOME", state.root().c_str(), 1);
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    std::vector<char*> argv{const_cast<char*>("quelix")};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(QUELIX_CLI, argv.data());
    _exit(127);
  }
  return child;
}

std::vector<std::string> RemoveArgs(const TempTree& tree) {
  return {"remove", "-q", "--no-log", "--no-registry", tree.root().string()};
}

int Finish(pid_t child) {
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Counts the cleaned files; adds a line to `violations` for every file that is neither cleaned
// nor as it was.
int Check(const TempTree& tree, std::vector<std::string>* violations) {
  int cleaned = 0;
  for (int i = 0; i < kFiles; ++i) {
    struct stat st;
    if (stat(tree.Path(Name(i)).c_str(), &st) != 0) {
      violations->push_back(Name(i) + " is gone");
      continue;
    }
    if ((st.st_mode & 07777) != (i % 2 ? 0640u : 0604u)) violations->push_back(Name(i) + " mode");
    const std::string content = tree.Read(Name(i));
    if (content == Cleaned(i)) {
      ++cleaned;
    } else if (content != Original(i)) {
      violations->push_back(Name(i) + " damaged");
    }
  }
  return cleaned;
}

// Every entry the store's manifests hold must have its copy, whole.
void CheckStore(const TempTree& state, std::vector<std::string>* violations) {
  const fs::path backups = state.root() / "quelix-remover" / "backups";
  if (!fs::exists(backups)) return;
  for (const fs::directory_entry& run : fs::directory_iterator(backups)) {
    std::ifstream manifest(run.path() / kManifestName, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(manifest)), {});
    // A withdrawn entry's copy may be gone: only what the manifest still holds needs one.
    std::vector<ManifestEntry> entries;
    if (!ParseManifest(text, &entries)) violations->push_back("unreadable manifest " + text);
    for (const ManifestEntry& entry : entries) {
      std::ifstream kept(run.path() / entry.copy, std::ios::binary);
      Sha256 hash;
      hash.Update(std::string((std::istreambuf_iterator<char>(kept)), {}));
      if (hash.Hex() != entry.sha256) violations->push_back("no whole copy for " + entry.path);
    }
  }
}

TEST(RemoveKillTest, FilesStayWholeOrCleanedAndTheStoreConsistentWhenRunsAreKilled) {
  using Seconds = std::chrono::duration<double>;
  Seconds remove_time{};
  Seconds restore_time{};
  {
    TempTree tree;
    TempTree state;
    Lay(tree);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Finish(Start(state, RemoveArgs(tree))), 0);
    remove_time = std::chrono::steady_clock::now() - start;
    std::vector<std::string> violations;
    ASSERT_EQ(Check(tree, &violations), kFiles);
    start = std::chrono::steady_clock::now();
    ASSERT_EQ(Finish(Start(state, {"restore"})), 0);
    restore_time = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(Check(tree, &violations), 0);
    ASSERT_TRUE(violations.empty());
  }
  std::mt19937 random(2026);
  std::uniform_real_distribution<double> moment(0.0, 1.0);
  std::vector<std::string> violations;
  int partial = 0;
  for (int round = 0; round < kRounds; ++round) {
    TempTree tree;
    TempTree state;
    Lay(tree);
    for (const auto& [args, time] :
         {std::pair{RemoveArgs(tree), remove_time},
          std::pair{std::vector<std::string>{"restore"}, restore_time}}) {
      const pid_t child = Start(state, args);
      std::this_thread::sleep_for(moment(random) * time);
      kill(child, SIGKILL);
      Finish(child);
      const int cleaned = Check(tree, &violations);
      partial += cleaned > 0 && cleaned < kFiles ? 1 : 0;
      CheckStore(state, &violations);
    }
    const int restored = Finish(Start(state, {"restore"}));
    EXPECT_TRUE(restored == 0 || restored == 2) << restored;  // 2: the removal kept nothing yet
    EXPECT_EQ(Check(tree, &violations), 0) << "round " << round;
  }
  EXPECT_TRUE(violations.empty()) << violations.size() << " violations, first: " << violations[0];
  std::printf(
      "kill rounds %d (%d runs stopped mid-way; full remove %.2f s, restore %.2f s), %zu "
      "violations\n",
      kRounds, partial, remove_time.count(), restore_time.count(), violations.size());
}

}  // namespace
}  // namespace quelix
