#include "engine/registry_repair.h"

#include <memory>
#include <span>

namespace quelix {
namespace {

constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunValues[] = {"Kernel32"};

constexpr char kIdentitiesKey[] = "Identities";
constexpr char kOutlookExpressKey[] = "Software\\Microsoft\\Outlook Express";
constexpr char kMailKey[] = "Mail";
constexpr const char* kStationeryValues[] = {"Compose Use Stationery", "Stationery Name",
                                             "Wide Stationery Name"};

constexpr char kOfficeMailKey[] = "Software\\Microsoft\\Office\\9.0\\Outlook\\Options\\Mail";
constexpr const char* kOfficeMailValues[] = {"EditorPreference"};

// A mail program version key: one or more digits followed by ".0" ("5.0", "6.0").
bool IsVersionKey(const std::string& name) {
  if (name.size() < 3 || name.compare(name.size() - 2, 2, ".0") != 0) return false;
  for (size_t i = 0; i + 2 < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return true;
}

// The repair of one open store. Deletions are held until the store commits, because an offline
// hive that fails to commit keeps every value.
class StoreRepair {
 public:
  // With `look_only`, values are only looked for (report.present) and nothing is created.
  // With `keeper`, each value is kept with it before it is deleted.
  StoreRepair(RegistryStore& store, const std::string& name, RepairReport& report, bool look_only,
              OriginalKeeper* keeper)
      : store_(store), name_(name), report_(report), look_only_(look_only), keeper_(keeper) {}

  // Opens `path` and deletes `values` from it, in order. A key that is absent (and was not
  // created) holds nothing to delete.
  void RepairKey(const std::string& path, bool create_if_absent,
                 std::span<const char* const> values) {
    std::unique_ptr<RegistryKey> key;
    if (!Open(path, create_if_absent && !look_only_, &key)) return;
    for (const char* value : values) {
      if (look_only_) {
        bool present = false;
        if (key->HasValue(value, &present).ok() && present) {
          report_.present.push_back({name_, path, value});
        }
        continue;
      }
      Status failure;
      if (keeper_) {
        const Status kept = Keep(*key, path, value);
        if (kept.code() == ErrorCode::kNotFound) continue;
        if (!kept.ok()) {
          report_.not_deleted.push_back({{name_, path, value}, kept});
          continue;
        }
      }
      switch (key->DeleteValue(value, &failure)) {
        case ValueDeletion::kDeleted:
          pending_.push_back({name_, path, value});
          break;
        case ValueDeletion::kFailed:
          report_.not_deleted.push_back({{name_, path, value}, failure});
          break;
        case ValueDeletion::kAbsent:
          break;
      }
    }
  }

  // Row 2: the mail settings of every identity and every Outlook Express version present.
  void RepairStationery() {
    for (const std::string& identity : Subkeys(kIdentitiesKey)) {
      const std::string express =
          std::string(kIdentitiesKey) + "\\" + identity + "\\" + kOutlookExpressKey;
      for (const std::string& version : Subkeys(express)) {
        if (!IsVersionKey(version)) continue;
        RepairKey(express + "\\" + version + "\\" + kMailKey, false, kStationeryValues);
      }
    }
  }

  // Commits the held deletions and reports them as done or, when the commit fails, as not done.
  void Commit() {
    const Status status = store_.Commit();
    for (RegistryValueRef& value : pending_) {
      if (status.ok()) {
        report_.deleted.push_back(std::move(value));
      } else {
        report_.not_deleted.push_back({std::move(value), status});
      }
    }
    pending_.clear();
  }

 private:
  // Has the keeper keep the value `name` of `key`; kNotFound where there is none.
  Status Keep(RegistryKey& key, const std::string& path, const std::string& name) {
    RegistryValueData data;
    Status status = key.ReadValue(name, &data);
    if (status.code() == ErrorCode::kNotFound) return status;
    if (status.ok()) status = keeper_->KeepValue(name_, path, name, data);
    if (status.ok()) return status;
    const std::string reason = Reason(status);
    return {ErrorCode::kOther,
            "its backup could not be written, so it was not deleted (" + reason + ")"};
  }

  bool Open(const std::string& path, bool create_if_absent, std::unique_ptr<RegistryKey>* key) {
    const Status status = store_.OpenKey(path, create_if_absent, key);
    if (status.ok()) return true;
    if (status.code() != ErrorCode::kNotFound) report_.not_opened.push_back({name_, path, status});
    return false;
  }

  std::vector<std::string> Subkeys(const std::string& path) {
    std::vector<std::string> names;
    std::unique_ptr<RegistryKey> key;
    if (!Open(path, false, &key)) return names;
    const Status status = key->ListSubkeys(&names);
    if (!status.ok()) {
      report_.not_opened.push_back({name_, path, status});
      names.clear();
    }
    return names;
  }

  RegistryStore& store_;
  const std::string& name_;
  RepairReport& report_;
  const bool look_only_;
  OriginalKeeper* const keeper_;
  std::vector<RegistryValueRef> pending_;
};

}  // namespace

namespace {

// Works the repair table over every store of `registry`, deleting or (`look_only`) only looking;
// what is deleted is first kept with `keeper`, where there is one.
RepairReport WorkTable(Registry& registry, bool look_only, OriginalKeeper* keeper) {
  RepairReport report;
  if (!look_only) registry.KeepOriginalsWith(keeper);
  const std::vector<RegistryStoreInfo> stores = registry.Stores();
  for (size_t i = 0; i < stores.size(); ++i) {
    const RegistryStoreInfo& info = stores[i];
    std::unique_ptr<RegistryStore> store;
    const Status status = registry.OpenStore(i, &store);
    if (!status.ok()) {
      report.not_opened.push_back({info.name, "", status});
      continue;
    }
    // An offline hive is kept whole by the registry itself, before it is rewritten.
    StoreRepair repair(*store, info.name, report, look_only, info.offline ? nullptr : keeper);
    if (info.root == RegistryRoot::kLocalMachine) {
      repair.RepairKey(kRunKey, true, kRunValues);
    } else {
      repair.RepairStationery();
      repair.RepairKey(kOfficeMailKey, true, kOfficeMailValues);
    }
    if (!look_only) repair.Commit();
  }
  return report;
}

}  // namespace

RepairReport RepairRegistry(Registry& registry, OriginalKeeper* keeper) {
  return WorkTable(registry, false, keeper);
}

std::vector<RegistryValueRef> FindVirusValues(Registry& registry) {
  return WorkTable(registry, true, nullptr).present;
}

}  // namespace quelix
