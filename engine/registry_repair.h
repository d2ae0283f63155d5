// Deletes the registry values the virus stores: the value that starts it with the system and the
// values that set up the mail programs' stationery and editor for it.
#pragma once

#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/status.h"

namespace quelix {

// One value in one store: "HKEY_LOCAL_MACHINE" or a hive path, the key path under the store's
// root, the value's name.
struct RegistryValueRef {
  std::string store;
  std::string key;
  std::string value;

  // "STORE\KEY\VALUE", as the log and the command line name it.
  std::string FullName() const { return store + "\\" + key + "\\" + value; }

  bool operator==(const RegistryValueRef&) const = default;
};

// A value that exists and could not be deleted, and why.
struct RegistryValueFailure {
  RegistryValueRef value;
  Status status;
};

// A store, or a key in it, that could not be opened or listed, so nothing in it was examined.
// `key` is empty when the whole store could not be opened.
struct RegistryOpenFailure {
  std::string store;
  std::string key;
  Status status;
};

struct RepairReport {
  std::vector<RegistryValueRef> present;  // found where the table was only looked through
  std::vector<RegistryValueRef> deleted;
  std::vector<RegistryValueFailure> not_deleted;
  std::vector<RegistryOpenFailure> not_opened;

  // True when every value the virus stores that could be examined is gone.
  bool complete() const { return not_deleted.empty() && not_opened.empty(); }
};

// Works the repair table in order over every store of `registry`: in machine-wide stores row 1
// ("SOFTWARE\Microsoft\Windows\CurrentVersion\Run", "Kernel32"); in user stores row 2 (the mail
// settings key of every identity and Outlook Express version present) and row 3 (the Office 9.0
// Outlook mail options). Rows 1 and 3 ask for their keys to be created where absent (only the
// live registry does); row 2 creates nothing. Returns what was deleted, what exists and could not
// be deleted, and what could not be opened. Running it again deletes nothing more. With
// `keeper`, every value is kept with it before it is deleted (a live store's value by value, an
// offline hive whole before it is rewritten); a value that cannot be kept is not deleted.
RepairReport RepairRegistry(Registry& registry, OriginalKeeper* keeper = nullptr);

// The values of the repair table that `registry` holds, in the table's order, found without
// creating or changing anything. Stores and keys that cannot be opened are passed over.
std::vector<RegistryValueRef> FindVirusValues(Registry& registry);

}  // namespace quelix
