// The command controller as every front end meets it: what a scan and a removal end by saying,
// commands pressed while one runs, closing, and the registry-only infection.
#include "app/controller.h"

#include <gtest/gtest.h>

#include <functional>

#include "engine/signature.h"
#include "tests/support/remove_fixture.h"

namespace quelix {
namespace {

const std::string kSig = SignatureLine();
const std::string kInfected = "page\r\n" + MarkerLine() + "\r\n" + kSig + "\r\n";
const std::string kComplete = "Scan complete. The list of infected files is given above.";
const std::string kDone = "The HTML.Quelix.A Virus has been removed successfully from your system.";
const std::string kNothing = "No infected files are listed. Press Scan for virus first.";
const std::string kRun = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
using List = std::vector<std::string>;

class ControllerTest : public RemoveFixture {
 protected:
  size_t AddInfectedMachineStore() {
    const size_t machine =
        registry_.AddStore(RegistryRoot::kLocalMachine, "HKEY_LOCAL_MACHINE", true);
    registry_.SetValue(machine, kRun, "Kernel32", "virus");
    return machine;
  }
  // Fails every `op` on a path that ends in `suffix` with `code`.
  void Fail(FsOp op, const std::string& suffix, ErrorCode code) {
    fs_.inject = [=](const FsCall& call) -> std::optional<ErrorCode> {
      if (call.op == op && call.path.ends_with(suffix)) return code;
      return std::nullopt;
    };
  }
};

TEST_F(ControllerTest, AVirusOnlyInTheRegistryIsFoundAndRemoved) {
  const size_t machine = AddInfectedMachineStore();
  Scan();
  EXPECT_EQ(controller().final_status(),
            kComplete + "\r\nThe virus's registry values were found too.");
  EXPECT_EQ(Logged("Virus registry value found: "),
            List{"Virus registry value found: HKEY_LOCAL_MACHINE\\" + kRun + "\\Kernel32"});
  EXPECT_TRUE(registry_.Values(machine, kRun).size() == 1u) << "the scan changes nothing";
  Remove();
  EXPECT_TRUE(registry_.Values(machine, kRun).empty());
  EXPECT_EQ(window_.messages, List{kDone});
  EXPECT_EQ(window_.icons, std::vector<MessageIcon>{MessageIcon::kInformation});
}

TEST_F(ControllerTest, NothingToRemoveBeforeAScanOrAfterACleanOne) {
  tree_.Write("clean.htm", "<p>clean</p>");
  for (const bool scanned : {false, true}) {
    if (scanned) Scan();
    Remove();
    EXPECT_EQ(window_.messages.back(), kNothing) << scanned;
    EXPECT_EQ(controller().final_status(), "No infected files are listed.");
  }
  EXPECT_EQ(Logged("Virus removal complete.").size(), 2u);
  EXPECT_TRUE(Logged("Removing").empty());
  EXPECT_EQ(registry_opens_, 1) << "only the scan looked at the registry";
}

TEST_F(ControllerTest, CandidatesThatCannotBeReadAreCountedAndLogged) {
  tree_.Write("a.htm", kSig);
  tree_.Write("b.htm", kSig);
  tree_.Write("c.htm", "clean");
  Fail(FsOp::kRead, "b.htm", ErrorCode::kIoError);
  Scan();
  EXPECT_EQ(controller().final_status(),
            kComplete + "\r\n1 file could not be read; the log lists it.");
  EXPECT_EQ(Logged("Could not read"),
            List{"Could not read " + P("b.htm") + ": read or write error"});
  Fail(FsOp::kOpen, ".htm", ErrorCode::kAccessDenied);
  Scan();
  EXPECT_EQ(controller().final_status(),
            kComplete + "\r\n3 files could not be read; the log lists them.");
  EXPECT_TRUE(window_.infected.empty());
}

TEST_F(ControllerTest, AFileListedTwiceIsReportedOnceWithItsTrueReason) {
  tree_.Write("a.htm", kInfected + kSig + "\r\n");
  Scan();
  ASSERT_EQ(window_.infected.size(), 2u);
  Fail(FsOp::kOpen, "a.htm", ErrorCode::kAccessDenied);
  Remove();
  EXPECT_EQ(Logged("Could not remove"),
            List{"Could not remove the virus from " + P("a.htm") + ": access denied"});
  EXPECT_EQ(window_.messages,
            List{"The HTML.Quelix.A Virus could not be removed completely. It was removed from 0 "
                 "of 1 file. The log has the details: " +
                 log_dir_.Path("log.txt")});
  EXPECT_EQ(window_.icons, std::vector<MessageIcon>{MessageIcon::kWarning});
  EXPECT_EQ(controller().final_status(),
            "The HTML.Quelix.A Virus could not be removed completely.");
}

TEST_F(ControllerTest, ALogThatCouldNotBeWrittenIsSaidInsteadOfPointedTo) {
  tree_.Write("a.htm", kInfected);
  tree_.Write("b.htm", kInfected);
  Scan();
  fs_.inject = [](const FsCall& call) -> std::optional<ErrorCode> {
    if (call.op == FsOp::kWrite && call.path.ends_with("log.txt")) return ErrorCode::kDiskFull;
    if (call.op == FsOp::kOpen && call.path.ends_with("b.htm")) return ErrorCode::kAccessDenied;
    return std::nullopt;
  };
  Remove();
  EXPECT_EQ(tree_.Read("a.htm"), "page\r\n");
  EXPECT_EQ(window_.messages,
            List{"The HTML.Quelix.A Virus could not be removed completely. It was removed from 1 "
                 "of 2 files. The event log could not be written completely."});
  EXPECT_EQ(controller().final_status(),
            "The HTML.Quelix.A Virus could not be removed completely.\r\nThe event log could "
            "not be written completely.");
  fs_.inject = nullptr;
  Scan();
  EXPECT_EQ(controller().final_status(),
            kComplete + "\r\nThe event log could not be written completely.");
}

TEST_F(ControllerTest, CommandsPressedDuringACommandAreIgnoredAndCloseStopsAScan) {
  for (int i = 0; i < 5; ++i) tree_.Write("d" + std::to_string(i) + "/p.htm", kSig);
  controller().SetYieldInterval(std::chrono::milliseconds(0));
  List results;
  window_.on_events = [&](int n) {
    if (n != 3) return;
    results.push_back(controller().Scan() == CommandResult::kIgnored ? "scan ignored" : "ran");
    results.push_back(controller().Remove() == CommandResult::kIgnored ? "remove ignored" : "ran");
    results.push_back(controller().RequestClose() ? "closed at once" : "close waits");
  };
  EXPECT_EQ(controller().Scan(), CommandResult::kStopped);
  EXPECT_EQ(results, (List{"scan ignored", "remove ignored", "close waits"}));
  EXPECT_FALSE(controller().log().is_open());
  EXPECT_LT(window_.infected.size(), 5u);
  EXPECT_EQ(controller().Scan(), CommandResult::kIgnored) << "nothing runs once closing";
}

TEST_F(ControllerTest, EventsAreProcessedAtMostEveryIntervalAndAlwaysAtTheEnd) {
  for (int i = 0; i < 50; ++i) tree_.Write("d" + std::to_string(i) + "/p.htm", "clean");
  controller().SetYieldInterval(std::chrono::hours(1));
  Scan();
  EXPECT_EQ(window_.yields, 1) << "only the command's last yield";
  controller().SetYieldInterval(std::chrono::milliseconds(0));
  Scan();
  EXPECT_GT(window_.yields, 100);
}

// The pointer shows the user that a command is at work, and the status line how it ended.
TEST_F(ControllerTest, ThePointerIsBusyWhileACommandWorksAndTheStatusLineTellsHowItEnded) {
  tree_.Write("p.htm", kInfected);
  AddInfectedMachineStore();  // the scan's status says so beyond what the engine tells
  controller().SetYieldInterval(std::chrono::milliseconds(0));
  const struct {
    const char* command;
    std::function<void()> run;
    bool tells_status;  // the watch's check leaves the status line to its front end
  } commands[] = {
      {"scan", [this] { Scan(); }, true},
      {"remove", [this] { Remove(); }, true},
      {"check",
       [this] { EXPECT_EQ(controller().Check({P("p.htm")}, nullptr), CommandResult::kDone); },
       false},
  };
  for (const auto& command : commands) {
    size_t looked = 0, idle = 0;
    window_.on_events = [&](int) {
      ++looked;
      if (!window_.busy) ++idle;
    };
    command.run();
    window_.on_events = nullptr;
    EXPECT_GT(looked, 0u) << command.command;
    EXPECT_EQ(idle, 0u) << command.command << ": the pointer was normal while it worked";
    EXPECT_FALSE(window_.busy) << command.command << ": the pointer stays busy after it";
    if (!command.tells_status) continue;
    ASSERT_FALSE(window_.statuses.empty()) << command.command;
    EXPECT_EQ(window_.statuses.back(), controller().final_status()) << command.command;
  }
}

}  // namespace
}  // namespace quelix
