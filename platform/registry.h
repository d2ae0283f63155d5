// The registry the repair works on, behind one interface. On Windows it is the live registry; on
// Linux it is the offline hives of a Windows installation on the chosen drive. A registry is made
// of stores: the live registry has one machine-wide store and one for the current user; a Windows
// disk has its SOFTWARE hive and one NTUSER.DAT per user profile.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/keeper.h"
#include "platform/status.h"

namespace quelix {

// The root key a store stands for.
enum class RegistryRoot {
  kLocalMachine,  // HKEY_LOCAL_MACHINE
  kCurrentUser,   // HKEY_CURRENT_USER
};

struct RegistryStoreInfo {
  RegistryRoot root = RegistryRoot::kLocalMachine;
  // For people: "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", or the path of a hive file.
  std::string name;
  // A hive file on a disk (kept whole before it is rewritten), rather than the live registry
  // (whose deleted values are kept one by one).
  bool offline = false;
};

enum class ValueDeletion {
  kDeleted,  // the value was there and is gone (in an offline store: once Commit succeeds)
  kAbsent,   // there was no value of that name
  kFailed,   // the value is there and stays
};

// An open key. Destroying it closes it; it must not outlive the store it was opened in.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;

  // Fills `names` with the names of the key's direct subkeys, in the store's order.
  virtual Status ListSubkeys(std::vector<std::string>* names) = 0;

  // Sets `*present` when the key holds a value `name` (matched without regard to ASCII case),
  // changing nothing.
  virtual Status HasValue(const std::string& name, bool* present) = 0;

  // The type and data of the value `name`; kNotFound where there is none.
  virtual Status ReadValue(const std::string& name, RegistryValueData* value) = 0;

  // Deletes the value `name` (matched without regard to ASCII case). Returns kFailed with the
  // reason in `*failure` when the value exists and could not be deleted.
  virtual ValueDeletion DeleteValue(const std::string& name, Status* failure) = 0;

  // Gives the key the value `name` (the live registry; an offline hive is put back whole).
  virtual Status SetValue(const std::string& name, const RegistryValueData& value) = 0;
};

// One store, open for repair. Destroying it without Commit abandons deletions not yet committed.
class RegistryStore {
 public:
  virtual ~RegistryStore() = default;

  // Opens the key at `path` (backslash-separated, relative to the store's root key, e.g.
  // "SOFTWARE\Microsoft\Windows\CurrentVersion\Run"). The live registry creates the key and any
  // missing parents when `create_if_absent` is set; an offline hive never creates anything.
  // Fails with kNotFound when the key is absent and was not created; with kAccessDenied or another
  // code when it exists but cannot be opened.
  virtual Status OpenKey(const std::string& path, bool create_if_absent,
                         std::unique_ptr<RegistryKey>* key) = 0;

  // Makes the deletions since the last commit durable. The live registry has nothing to do; an
  // offline hive is rewritten (backup first, then a flushed temporary file renamed over it) only
  // when something was deleted. On failure none of those deletions took effect and the store on
  // disk is as it was.
  virtual Status Commit() = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;

  // The stores to repair: machine-wide stores first, then the user stores, in a fixed order.
  // Empty where there is nothing to repair (a drive without a Windows installation).
  virtual std::vector<RegistryStoreInfo> Stores() const = 0;

  // Opens store `index` of Stores(). Fails, with a reason for people, when the store cannot be
  // read or parsed (a damaged hive, a Windows 9x registry); such a store is left untouched.
  virtual Status OpenStore(size_t index, std::unique_ptr<RegistryStore>* store) = 0;

  // Where an offline store's file is kept before it is rewritten; without a keeper it is not kept.
  // The live registry keeps nothing here: its values are kept one by one by the repair.
  virtual void KeepOriginalsWith(OriginalKeeper* keeper) { (void)keeper; }
};

// The registry of the platform the program was built for: on Windows the live registry (`root`
// is not used); elsewhere the offline hives of the Windows installation found below `root`, the
// folder the command holds open.
std::unique_ptr<Registry> CreateNativeRegistry(Directory& root);

}  // namespace quelix
