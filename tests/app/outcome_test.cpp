// What a removal left, as the message box and the command line's exit status both judge it.
#include "app/outcome.h"

#include <gtest/gtest.h>

namespace quelix {
namespace {

const RegistryValueRef kRun{"HKEY_LOCAL_MACHINE", "Software\\Microsoft\\Windows\\Run", "Kernel32"};
const Status kDenied(ErrorCode::kAccessDenied, "access denied");

struct LeftCase {
  const char* what;
  RemovalReport removal;
  bool left;
};

RemovalReport Cleaned(size_t files, size_t cleaned) {
  RemovalReport removal;
  for (size_t i = 0; i < files; ++i) removal.files.push_back({"/www/" + std::to_string(i), {}});
  removal.cleaned = cleaned;
  return removal;
}

std::vector<LeftCase> LeftCases() {
  std::vector<LeftCase> cases;
  cases.push_back({"every file cleaned, the value deleted", Cleaned(2, 2), false});
  cases.back().removal.registry_deleted = {kRun};
  cases.push_back({"a file not cleaned", Cleaned(2, 1), true});
  cases.back().removal.registry_deleted = {kRun};
  cases.push_back({"another name of a cleaned file", Cleaned(1, 1), true});
  cases.back().removal.other_names = 1;
  cases.back().removal.registry_deleted = {kRun};
  // The first repair could not delete it, the next one did: the log tells the first, but the
  // value is gone.
  cases.push_back({"the value deleted at a later try", Cleaned(2, 2), false});
  cases.back().removal.registry_problems = {"Could not delete the registry value ..."};
  cases.back().removal.registry_deleted = {kRun};
  cases.push_back({"the value not deleted", Cleaned(1, 1), true});
  cases.back().removal.registry_failed = {{kRun, kDenied}};
  cases.push_back({"the value's key could not be opened", Cleaned(1, 1), true});
  cases.back().removal.registry_unopened = {{kRun.store, kRun.key, kDenied}};
  cases.push_back({"a store without the value could not be opened", Cleaned(1, 1), false});
  cases.back().removal.registry_deleted = {kRun};
  cases.back().removal.registry_unopened = {{"HKEY_USERS\\S-1-5-18", "", kDenied}};
  return cases;
}

TEST(OutcomeTest, TheMessageAndTheExitStatusAgreeOnWhatIsLeft) {
  ScanReport scan;
  scan.done = true;
  scan.registry_found = {kRun};
  const LogState log{false, false, false, ""};
  for (const LeftCase& c : LeftCases()) {
    const Leftovers left = WhatIsLeft(scan, c.removal);
    EXPECT_EQ(left.any(), c.left) << c.what;
    const RemovalOutcome message = RemovalMessage(scan, c.removal, log);
    EXPECT_EQ(message.icon, c.left ? MessageIcon::kWarning : MessageIcon::kInformation) << c.what;
    EXPECT_EQ(message.text.find("removed successfully") != std::string::npos, !c.left) << c.what;
  }
}

TEST(OutcomeTest, AValueLeftIsNamedWithWhyOnce) {
  ScanReport scan;
  scan.registry_found = {kRun};
  RemovalReport removal = Cleaned(1, 1);
  removal.registry_unopened = {{kRun.store, "", kDenied}};
  const Leftovers left = WhatIsLeft(scan, removal);
  ASSERT_EQ(left.values.size(), 1u);
  EXPECT_EQ(left.values[0].value, kRun);
  EXPECT_EQ(left.values[0].status.code(), ErrorCode::kAccessDenied);
}

}  // namespace
}  // namespace quelix
