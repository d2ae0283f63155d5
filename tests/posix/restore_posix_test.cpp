// A restore as the owner of a cleaned tree would attack it: it writes only into the folder that
// was cleaned and onto the very files the removal left, from runs no one else could have written.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>

#include "engine/backup_format.h"
#include "engine/backups.h"
#include "engine/restore.h"
#include "engine/signature.h"
#include "platform/places.h"
#include "runtime/sha256.h"
#include "tests/posix/as_user.h"
#include "tests/support/remove_fixture.h"

namespace quelix {
namespace {

namespace fs = std::filesystem;

const std::string kInfected = "page\r\n" + MarkerLine() + "\r\n" + SignatureLine() + "\r\n";
const std::string kCleaned = "page\r\n";

std::string Hash(const std::string& bytes) {
  Sha256 hash;
  hash.Update(bytes);
  return hash.Hex();
}

class RestorePosixTest : public RemoveFixture {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as the tree's owner";
    RemoveFixture::SetUp();
    window_.root = P("www");
  }
  // Cleans www/index.php, a page of user nobody, and gives the run that kept it.
  std::string CleanPage() {
    tree_.Write("www/index.php", kInfected);
    EXPECT_EQ(::chown(P("www").c_str(), 65534, 65534), 0);
    EXPECT_EQ(::chown(P("www/index.php").c_str(), 65534, 65534), 0);
    controller_.reset();
    controller().KeepOriginalsIn(state_.Path("backups"));
    Scan();
    Remove();
    EXPECT_EQ(tree_.Read("www/index.php"), kCleaned);
    const std::string run = controller().backup_run();
    controller_.reset();  // nothing held from the removal
    return run;
  }
  RestoredItem RestoreOne(const std::string& run) {
    RestoreReport report;
    EXPECT_TRUE(RestoreRun(
                    fs_, run, [](Directory&) { return nullptr; }, &report)
                    .ok());
    EXPECT_EQ(report.files.size(), 1u);
    return report.files.empty() ? RestoredItem{} : report.files[0];
  }
  TempTree state_;
  TempTree other_;  // another customer's folder
};

TEST_F(RestorePosixTest, WritesOnlyOntoTheFileTheRemovalLeftInTheFolderItCleaned) {
  using O = RestoreOutcome;
  other_.Write("index.php", kCleaned);  // the same bytes as the cleaned page, by the owner's choice
  struct Case {
    const char* attack;
    std::function<void()> after_removal;
    O outcome;
    std::string reason;
  };
  const Case cases[] = {
      {"the root renamed away and a link to another folder put in its place",
       [&] {
         fs::rename(P("www"), P("www-away"));
         fs::create_directory_symlink(other_.root(), P("www"));
       },
       O::kFailed, "the folder is no longer the one that was cleaned"},
      {"the page given to another owner",
       [&] { ASSERT_EQ(::chown(P("www/index.php").c_str(), 0, 0), 0); }, O::kChanged,
       "its owner changed since the removal"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attack);
    const std::string run = CleanPage();
    c.after_removal();
    const RestoredItem item = RestoreOne(run);
    EXPECT_EQ(item.outcome, c.outcome);
    EXPECT_EQ(item.reason, c.reason);
    EXPECT_EQ(other_.Read("index.php"), kCleaned) << "nothing outside is written";
    EXPECT_EQ(tree_.Read("www/index.php"), kCleaned);
    fs::remove_all(P("www"));
    if (fs::exists(P("www-away"))) fs::rename(P("www-away"), P("www"));
  }
  // Untouched, the page goes back.
  const std::string run = CleanPage();
  EXPECT_EQ(RestoreOne(run).outcome, O::kRestored);
  EXPECT_EQ(tree_.Read("www/index.php"), kInfected);
}

// Root run with XDG_STATE_HOME naming a root-owned folder everyone may write (as sudo -E leaves
// it): a run planted there is never restored, and the log never goes there.
TEST_F(RestorePosixTest, RootNeverTrustsAStateFolderOthersCanWrite) {
  TempTree planted;
  planted.Write("target.conf", "root's own\n");
  const std::string backups = planted.Path("quelix-remover/backups");
  const std::string run = backups + "/20260101T000000Z-1";
  struct stat target;
  ASSERT_EQ(::stat(planted.Path("target.conf").c_str(), &target), 0);
  planted.Write("quelix-remover/backups/20260101T000000Z-1/000001.orig", "the owner's bytes\n");
  planted.Write("quelix-remover/backups/20260101T000000Z-1/run.tsv",
                RootLine({"/", true, 0, 0}) + "\n");
  ManifestEntry entry{planted.Path("target.conf"),
                      18,
                      Hash("the owner's bytes\n"),
                      "0:0",
                      "0644",
                      Hash("root's own\n"),
                      "2026-01-01T00:00:00Z",
                      "000001.orig",
                      true,
                      target.st_dev,
                      target.st_ino,
                      "0:0"};
  planted.Write("quelix-remover/backups/20260101T000000Z-1/manifest.tsv",
                ManifestLine(entry) + "\n");
  for (const fs::path& p : fs::recursive_directory_iterator(planted.root())) {
    if (fs::is_regular_file(p)) fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write);
  }
  fs::permissions(planted.root(), fs::perms::all);

  const char* xdg = std::getenv("XDG_STATE_HOME");
  const std::optional<std::string> saved_xdg = xdg ? std::optional<std::string>(xdg) : std::nullopt;
  setenv("XDG_STATE_HOME", planted.root().c_str(), 1);
  const std::unique_ptr<Places> places = CreateNativePlaces();
  const std::string folder = places->BackupFolder();
  const std::vector<LogPlace> logs = places->LogPlaces();
  if (saved_xdg) setenv("XDG_STATE_HOME", saved_xdg->c_str(), 1);
  if (!saved_xdg) unsetenv("XDG_STATE_HOME");
  EXPECT_EQ(folder, std::string(getpwuid(0)->pw_dir) + "/.local/state/quelix-remover/backups");
  for (const LogPlace& log : logs)
    EXPECT_EQ(log.path.rfind(planted.Path(""), 0), std::string::npos);

  // Named there all the same, the folder is refused where it is used.
  RestoreReport report;
  const Status restored = RestoreRun(
      fs_, run, [](Directory&) { return nullptr; }, &report);
  EXPECT_EQ(Reason(restored),
            "the folder " + planted.root().string() + "/ may be changed by other users");
  std::string latest;
  EXPECT_FALSE(FindRun(fs_, backups, "", &latest).ok());
  EXPECT_EQ(planted.Read("target.conf"), "root's own\n");
  CommandController controller(window_, fs_, [](Directory&) { return nullptr; });
  EXPECT_FALSE(controller.OpenLog({{planted.Path("quelix-remover/log.txt"), true}}).ok());
  EXPECT_FALSE(planted.Exists("quelix-remover/log.txt"));
}

// A run named by a path that passes through a link: the folder holding the link is on the way
// as much as the folders the link leads to. A link another user may swap in a shared folder would
// lead the restore's later reads to runs of theirs.
TEST_F(RestorePosixTest, ARunReachedThroughALinkOthersMayChangeIsNotTrusted) {
  TempTree top;
  const std::string run_name = "20260101T000000Z-1";
  top.MakeDirectory("real/backups/" + run_name);
  top.MakeDirectory("shared");
  fs::permissions(top.Path("shared"), fs::perms::all | fs::perms::sticky_bit);
  for (const char* name : {"shared/nobodys", "shared/roots"}) {
    fs::create_directory_symlink(top.Path("real"), top.Path(name));
  }
  ASSERT_EQ(::lchown(top.Path("shared/nobodys").c_str(), 65534, 65534), 0);
  fs::create_directory_symlink("../real", top.Path("real/up"));
  struct Case {
    std::string via;
    std::string reason;  // why it is refused, or "" where it is trusted
  };
  const Case cases[] = {
      {"shared/nobodys", "the folder " + top.Path("shared/") + " may be changed by other users"},
      {"shared/roots", ""},
      {"real/up", ""},
      {"real", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.via);
    std::string run;
    const Status found =
        FindRun(fs_, top.Path("real/backups"), top.Path(c.via + "/backups/" + run_name), &run);
    EXPECT_EQ(found.ok() ? "" : Reason(found), c.reason);
  }
}

// `--log FILE` naming a file in a folder everyone may write: a file another user made there
// before the command ran would hand them the names of every file cleaned.
TEST_F(RestorePosixTest, TheLogIsNeverAppendedToAFileAnotherUserMade) {
  tree_.Write("www/index.php", kInfected);
  TempTree shared;
  fs::permissions(shared.root(), fs::perms::all | fs::perms::sticky_bit);
  AsNobody([&] { shared.Write("theirs.log", ""); });
  fs::permissions(shared.Path("theirs.log"), fs::perms::all);
  struct Case {
    const char* log;
    bool opens;
  };
  for (const Case& c : {Case{"theirs.log", false}, Case{"mine.log", true}}) {
    SCOPED_TRACE(c.log);
    CommandController controller(window_, fs_, [](Directory&) { return nullptr; });
    EXPECT_EQ(controller.OpenLog({{shared.Path(c.log), false}}).ok(), c.opens);
    controller.Scan();
  }
  EXPECT_EQ(shared.Read("theirs.log"), "") << "nothing of the scan reaches their file";
  EXPECT_NE(shared.Read("mine.log").find("Virus found in " + P("www/index.php")),
            std::string::npos);
}

}  // namespace
}  // namespace quelix
