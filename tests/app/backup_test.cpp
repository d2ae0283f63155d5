// Remove keeps every original before it replaces or deletes it, and a restore puts back exactly
// those files that are still as the removal left them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/backup_format.h"
#include "engine/backups.h"
#include "engine/restore.h"
#include "engine/signature.h"
#include "runtime/sha256.h"
#include "tests/support/remove_fixture.h"

namespace quelix {
namespace {

const std::string kInfected = "page\r\n" + MarkerLine() + "\r\n" + SignatureLine() + "\r\n";
const std::string kCleaned = "page\r\n";
const std::string kRun = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string Hash(const std::string& bytes) {
  Sha256 hash;
  hash.Update(bytes);
  return hash.Hex();
}

class BackupTest : public RemoveFixture {
 protected:
  void SetUp() override {
    RemoveFixture::SetUp();
    machine_ = registry_.AddStore(RegistryRoot::kLocalMachine, "HKEY_LOCAL_MACHINE", true);
    registry_.SetValue(machine_, kRun, "Kernel32", "virus");
    for (const char* name : {"a.htm", "sub/b.htm", "c.htm"}) tree_.Write(name, kInfected);
    controller().KeepOriginalsIn(log_dir_.Path("backups"));
  }
  // The run folder the message box names.
  std::string MessageRun() const {
    const std::string& text = window_.messages.back();
    const size_t at = text.find("The originals are kept in ");
    if (at == std::string::npos) return {};
    const size_t start = at + 26;
    const size_t end = text.find(". ", start);  // the sentence's end, or the text's
    return text.substr(start, (end == std::string::npos ? text.size() - 1 : end) - start);
  }
  RestoreReport Restore(const std::string& run) {
    RestoreReport report;
    EXPECT_TRUE(RestoreRun(
                    fs_, run,
                    [this](Directory&) { return std::make_unique<BorrowedRegistry>(registry_); },
                    &report)
                    .ok());
    return report;
  }
  size_t machine_ = 0;
};

// Like the removal's other entries, the one that names the kept originals waits on the log switch;
// the message box names them all the same.
TEST_F(BackupTest, WithTheLogSwitchOffTheKeptOriginalsAreNotLogged) {
  Scan();
  window_.log_switch = false;
  Remove();
  EXPECT_FALSE(MessageRun().empty()) << window_.messages.back();
  EXPECT_TRUE(Logged("The originals are kept in ").empty());
}

// Cuts every line of the run's record `path` to its first `count` fields, as older runs wrote them.
void KeepFields(const std::string& path, size_t count) {
  std::string text;
  {
    std::ifstream in(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string cut;
  for (const std::string& line : SplitLines(text)) {
    size_t end = 0;
    for (size_t n = 0; n < count && end != std::string::npos; ++n) end = line.find('\t', end + 1);
    cut += line.substr(0, end) + "\n";
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << cut;
}

std::vector<std::pair<std::string, RestoreOutcome>> Outcomes(
    const std::vector<RestoredItem>& items) {
  std::vector<std::pair<std::string, RestoreOutcome>> outcomes;
  for (const RestoredItem& item : items) outcomes.emplace_back(item.name, item.outcome);
  std::sort(outcomes.begin(), outcomes.end());  // the order the scan met them in is the OS's
  return outcomes;
}

TEST_F(BackupTest, KeepsEachOriginalAndRestoresOnlyWhatIsStillAsTheRemovalLeftIt) {
  Scan();
  Remove();
  const std::string run = MessageRun();
  ASSERT_FALSE(run.empty()) << window_.messages.back();
  EXPECT_EQ(Logged("The originals are kept in "),
            std::vector<std::string>{"The originals are kept in " + run});
  std::string text;
  ASSERT_TRUE(ReadOwnFile(fs_, run + NativeSeparator() + "manifest.tsv", &text).ok());
  const std::vector<std::string> lines = SplitLines(text);
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string& line : lines) {
    ManifestEntry entry;
    ASSERT_TRUE(ParseManifestLine(line, &entry));
    EXPECT_EQ(entry.size, kInfected.size());
    EXPECT_EQ(entry.sha256, Hash(kInfected));
    EXPECT_EQ(entry.cleaned_sha256, Hash(kCleaned));
    std::string kept;
    ASSERT_TRUE(ReadOwnFile(fs_, run + NativeSeparator() + entry.copy, &kept).ok());
    EXPECT_EQ(kept, kInfected) << entry.path;
  }
  // Each copy, then its name, then its manifest line are on the device before the replace.
  int step = 0, replaced = 0;
  for (const FsCall& call : fs_.calls) {
    const bool sync = call.op == FsOp::kSync;
    if (sync && call.path.ends_with(".orig")) step = 1;
    if (sync && step == 1 && call.path == run + NativeSeparator()) step = 2;
    if (sync && step == 2 && call.path.ends_with("manifest.tsv")) step = 3;
    if (call.op != FsOp::kReplace) continue;
    EXPECT_EQ(step, 3) << call.path;
    step = 0;
    ++replaced;
  }
  EXPECT_EQ(replaced, 3);
  EXPECT_TRUE(registry_.Values(machine_, kRun).empty());

  tree_.Write("c.htm", "edited by hand\r\n");  // the user's change after the removal
  RestoreReport report = Restore(run);
  using O = RestoreOutcome;
  const std::string value = "HKEY_LOCAL_MACHINE\\" + kRun + "\\Kernel32";
  EXPECT_EQ(
      Outcomes(report.files),
      (std::vector<std::pair<std::string, O>>{
          {P("a.htm"), O::kRestored}, {P("c.htm"), O::kChanged}, {P("sub/b.htm"), O::kRestored}}));
  EXPECT_EQ(Outcomes(report.values),
            (std::vector<std::pair<std::string, O>>{{value, O::kRestored}}));
  EXPECT_FALSE(report.complete());
  EXPECT_EQ(tree_.Read("a.htm") + tree_.Read("sub/b.htm"), kInfected + kInfected);
  EXPECT_EQ(tree_.Read("c.htm"), "edited by hand\r\n");
  EXPECT_EQ(registry_.Values(machine_, kRun), (std::vector<FakeValue>{{"Kernel32", "virus"}}));

  report = Restore(run);  // again: nothing more to do
  EXPECT_EQ(
      Outcomes(report.files),
      (std::vector<std::pair<std::string, O>>{
          {P("a.htm"), O::kAsItWas}, {P("c.htm"), O::kChanged}, {P("sub/b.htm"), O::kAsItWas}}));
  EXPECT_EQ(report.values[0].outcome, O::kAsItWas);
}

// A restore writes only onto the very file the removal left, and trusts no run that did not
// record which file that was.
TEST_F(BackupTest, ARestoreWritesOnlyOntoTheFileTheRemovalLeft) {
  using O = RestoreOutcome;
  const std::string sep(1, NativeSeparator());
  struct Case {
    const char* what;
    std::function<void(const std::string& run)> after_removal;
    O outcome;
    std::string reason;
  };
  const Case cases[] = {
      {"another file with the same content put in its place",
       [this](const std::string&) {
         tree_.Write("a.new", kCleaned);
         std::filesystem::rename(P("a.new"), P("a.htm"));
       },
       O::kChanged, "it is no longer the file the removal left"},
      {"a run recorded before the identities were",
       [&](const std::string& run) {
         KeepFields(run + sep + "manifest.tsv", 8);
         KeepFields(run + sep + "run.tsv", 2);
       },
       O::kFailed, "the run did not record which file the removal left"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {"a.htm", "sub/b.htm", "c.htm"}) tree_.Write(name, kInfected);
    Scan();
    Remove();
    const std::string run = MessageRun();
    controller_.reset();  // nothing held from the removal
    controller().KeepOriginalsIn(log_dir_.Path("backups"));
    c.after_removal(run);
    const RestoreReport report = Restore(run);
    const auto a =
        std::find_if(report.files.begin(), report.files.end(),
                     [this](const RestoredItem& item) { return item.name == P("a.htm"); });
    ASSERT_NE(a, report.files.end());
    EXPECT_EQ(a->outcome, c.outcome);
    EXPECT_EQ(a->reason, c.reason);
    EXPECT_EQ(tree_.Read("a.htm"), kCleaned);
  }
}

// A manifest line that may have been written but could not be made durable: its file is left as
// it was, its copy stays for the line, and the files after it are kept and cleaned.
TEST_F(BackupTest, AManifestLineThatFailsLeavesItsFileAndTheStoreWhole) {
  // The hook owns its state: it is called again while the fixture closes the log.
  fs_.inject = [failed = false](const FsCall& call) mutable -> std::optional<ErrorCode> {
    if (failed || call.op != FsOp::kSync || !call.path.ends_with("manifest.tsv")) return {};
    failed = true;
    return ErrorCode::kIoError;
  };
  Scan();
  Remove();
  int infected = 0;
  for (const char* name : {"a.htm", "sub/b.htm", "c.htm"})
    infected += tree_.Read(name) == kInfected;
  EXPECT_EQ(infected, 1);
  const std::string run = MessageRun();
  std::string text;
  ASSERT_TRUE(ReadOwnFile(fs_, run + NativeSeparator() + "manifest.tsv", &text).ok());
  for (const std::string& line : SplitLines(text)) {
    ManifestEntry entry;
    ASSERT_TRUE(ParseManifestLine(line, &entry));
    FileInfo copy;
    EXPECT_TRUE(fs_.GetInfo(run + NativeSeparator() + entry.copy, &copy).ok()) << line;
  }
}

TEST_F(BackupTest, WhatCannotBeKeptIsNotChangedAndNoRoomAsksFirst) {
  fs_.inject = [](const FsCall& call) -> std::optional<ErrorCode> {
    if (call.op == FsOp::kWrite && call.path.find("backups") != std::string::npos) {
      return ErrorCode::kDiskFull;
    }
    return std::nullopt;
  };
  Scan();
  Remove();
  EXPECT_EQ(tree_.Read("a.htm"), kInfected);
  EXPECT_EQ(
      Logged("Could not remove the virus from " + P("a.htm")),
      std::vector<std::string>{"Could not remove the virus from " + P("a.htm") +
                               ": the backup of the original could not be written (disk full)"});
  EXPECT_EQ(registry_.Values(machine_, kRun).size(), 1u) << "a value not kept is not deleted";
  EXPECT_EQ(window_.messages.back().find("kept in"), std::string::npos);

  fs_.inject = nullptr;
  fs_.space = 0;
  Scan();
  EXPECT_EQ(controller().Remove(), CommandResult::kCancelled);
  ASSERT_EQ(window_.questions.size(), 1u);
  EXPECT_EQ(window_.questions[0].rfind("There is not enough room to keep the originals", 0), 0u);
  EXPECT_EQ(window_.statuses.back(), "Virus removal cancelled.");
  EXPECT_EQ(Logged("Virus removal cancelled: There is not enough room").size(), 1u);
  EXPECT_EQ(tree_.Read("a.htm"), kInfected);
  window_.answer = true;
  Remove();
  EXPECT_EQ(tree_.Read("a.htm"), kCleaned);
  EXPECT_NE(window_.messages.back().find("The originals were not kept."), std::string::npos);
}

// An original kept for a file that was then not replaced after all is withdrawn: the run no longer
// offers to put it back, lists it, or is announced for it, and its copy is gone. A run without
// withdrawals restores as runs always did.
TEST_F(BackupTest, AnOriginalKeptForAFileThatWasNotReplacedIsWithdrawn) {
  registry_.FailOpenStore(machine_, {ErrorCode::kAccessDenied, "denied"});  // files alone kept
  // The cleaned copy written to by someone else while the original is kept (the page itself is
  // held under a lease as root, which a writer would wait on). Where the system lets nobody write
  // the copy (Windows), the write fails and the page is cleaned.
  bool written = false;
  const auto write_copy = [&] {
    for (const auto& entry : std::filesystem::directory_iterator(tree_.root())) {
      const std::string name = entry.path().filename().string();
      if (name == "a.htm" || name == "c.htm" || name == "sub") continue;
      std::ofstream copy(entry.path(), std::ios::app);
      written = static_cast<bool>(copy << "written\r\n" << std::flush);
    }
  };
  const auto refuse_replace = [this](ErrorCode code) {
    return [this, code](const FsCall& call) -> std::optional<ErrorCode> {
      if (call.op == FsOp::kReplace && call.path == P("a.htm")) return code;
      return std::nullopt;
    };
  };
  struct Case {
    const char* what;
    std::function<void(const FsCall&)> before;
    std::function<std::optional<ErrorCode>(const FsCall&)> inject;
    bool replaced;
  };
  const Case cases[] = {
      {"nothing refused", nullptr, nullptr, true},
      {"the copy written while the original was kept",
       [&, once = false](const FsCall& call) mutable {
         if (once || call.op != FsOp::kSync || !call.path.ends_with("manifest.tsv")) return;
         once = true;
         write_copy();
       },
       nullptr, false},
      {"the page changed before the rename", nullptr, refuse_replace(ErrorCode::kChanged), false},
      {"the rename refused", nullptr, refuse_replace(ErrorCode::kAccessDenied), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(log_dir_.Path("backups"));
    controller_.reset();
    controller().KeepOriginalsIn(log_dir_.Path("backups"));
    for (const char* name : {"sub/b.htm", "c.htm"}) tree_.Write(name, kCleaned);
    tree_.Write("a.htm", kInfected);
    Scan();
    fs_.before = c.before;
    fs_.inject = c.inject;
    written = false;
    Remove();
    fs_.EndHooks();
    const bool replaced = c.replaced || (c.before && !written);
    EXPECT_EQ(tree_.Read("a.htm") == kCleaned, replaced);
    EXPECT_EQ(controller().backup_run().empty(), !replaced) << "announced as kept";
    std::vector<RunSummary> runs;
    ASSERT_TRUE(ListRuns(fs_, log_dir_.Path("backups"), &runs).ok());
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].files, replaced ? 1u : 0u);
    size_t copies = 0;
    for (const auto& entry : std::filesystem::directory_iterator(runs[0].path))
      copies += entry.path().extension() == ".orig";
    EXPECT_EQ(copies, replaced ? 1u : 0u);
    std::vector<std::pair<std::string, RestoreOutcome>> restorable;
    if (replaced) restorable.emplace_back(P("a.htm"), RestoreOutcome::kRestored);
    EXPECT_EQ(Outcomes(Restore(runs[0].path).files), restorable);
    EXPECT_NE(tree_.Read("a.htm"), kCleaned);
  }
}

}  // namespace
}  // namespace quelix
