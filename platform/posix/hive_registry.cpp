#include "platform/posix/hive_registry.h"

#include <strings.h>

#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "platform/posix/hive_client.h"
#include "platform/posix/hive_locations.h"

namespace quelix {
namespace {

// The SOFTWARE hive is the key HKEY_LOCAL_MACHINE\SOFTWARE.
constexpr char kSoftwareKey[] = "SOFTWARE";

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), b.size()) == 0;
}

std::vector<std::string> SplitKeyPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

class HiveStore final : public RegistryStore {
 public:
  // The hive stays loaded in the helper for the store's life alone: one look, or one repair.
  HiveStore(RegistryRoot root, std::unique_ptr<HiveFile> hive, HiveClient& client, uint32_t index,
            OriginalKeeper* keeper)
      : root_(root), hive_(std::move(hive)), client_(client), index_(index), keeper_(keeper) {}
  // What was learnt of a hive changed here, or left half changed, is not kept.
  ~HiveStore() override {
    if (changed_ || !broken_.ok()) client_.Unload(index_, false);
  }

  Status OpenKey(const std::string& path, bool create_if_absent,
                 std::unique_ptr<RegistryKey>* key) override;
  Status Commit() override;

  HiveClient& client() const { return client_; }
  uint32_t index() const { return index_; }
  Status AboutHive(const Status& status) const {
    return status.ok() ? status : Status(status.code(), hive_->path() + ": " + status.message());
  }
  void MarkChanged() { changed_ = true; }
  void MarkBroken(Status status) {
    if (broken_.ok()) broken_ = std::move(status);
  }

 private:
  RegistryRoot root_;
  std::unique_ptr<HiveFile> hive_;
  HiveClient& client_;
  uint32_t index_;
  OriginalKeeper* keeper_;
  bool changed_ = false;
  Status broken_;
};

class HiveKey final : public RegistryKey {
 public:
  HiveKey(HiveStore& store, uint64_t node) : store_(store), node_(node) {}

  Status ListSubkeys(std::vector<std::string>* names) override {
    return store_.AboutHive(store_.client().ListSubkeys(store_.index(), node_, names));
  }

  Status HasValue(const std::string& name, bool* present) override {
    return store_.AboutHive(store_.client().HasValue(store_.index(), node_, name, present));
  }

  // A hive is kept and put back whole, never value by value.
  Status ReadValue(const std::string& name, RegistryValueData*) override {
    return {ErrorCode::kOther, name + ": a hive's values are kept with the whole hive"};
  }
  Status SetValue(const std::string& name, const RegistryValueData&) override {
    return {ErrorCode::kOther, name + ": a hive is put back whole"};
  }

  ValueDeletion DeleteValue(const std::string& name, Status* failure) override {
    bool half_changed = false;
    const ValueDeletion result =
        store_.client().DeleteValue(store_.index(), node_, name, failure, &half_changed);
    *failure = store_.AboutHive(*failure);
    if (result == ValueDeletion::kDeleted) store_.MarkChanged();
    // A hive the helper died on, or that may be half changed, must never be written.
    if (half_changed || store_.client().Damaged(store_.index()) != nullptr) {
      store_.MarkBroken(*failure);
    }
    return result;
  }

 private:
  HiveStore& store_;
  uint64_t node_;
};

Status HiveStore::OpenKey(const std::string& path, bool /*create_if_absent*/,
                          std::unique_ptr<RegistryKey>* key) {
  std::vector<std::string> parts = SplitKeyPath(path);
  if (root_ == RegistryRoot::kLocalMachine) {
    if (parts.empty() || !SameIgnoringCase(parts.front(), kSoftwareKey)) {
      return {ErrorCode::kNotFound, path + ": not in this hive"};
    }
    parts.erase(parts.begin());
  }
  uint64_t node = 0;
  const Status status = client_.OpenKey(index_, parts, &node);
  if (status.code() == ErrorCode::kNotFound) return {ErrorCode::kNotFound, path + ": no such key"};
  if (!status.ok()) return AboutHive(status);
  *key = std::make_unique<HiveKey>(*this, node);
  return Status::Ok();
}

Status HiveStore::Commit() {
  if (!broken_.ok()) return broken_;
  if (!changed_) return Status::Ok();
  // On failure the changes stay marked and are dropped with the store's loaded hive.
  const Status status = hive_->Save(keeper_);
  if (status.ok()) changed_ = false;
  return status;
}

class HiveRegistry final : public Registry {
 public:
  explicit HiveRegistry(std::vector<HiveLocation> hives)
      : hives_(std::move(hives)), loaded_(hives_.size()) {}

  std::vector<RegistryStoreInfo> Stores() const override {
    std::vector<RegistryStoreInfo> stores;
    for (const HiveLocation& hive : hives_) stores.push_back({hive.root, hive.path, true});
    return stores;
  }

  Status OpenStore(size_t index, std::unique_ptr<RegistryStore>* store) override {
    if (index >= hives_.size()) return {ErrorCode::kNotFound, "no such registry store"};
    const auto slot_number = static_cast<uint32_t>(index);
    if (const Status* damaged = client_.Damaged(slot_number)) {
      return {damaged->code(), hives_[index].path + ": " + damaged->message()};
    }
    std::unique_ptr<HiveFile> hive;
    FileInfo info;
    const FileInfo* last = loaded_[index] ? &*loaded_[index] : nullptr;
    const Status status = HiveFile::Load(hives_[index], client_, slot_number, last, &info, &hive);
    if (!status.ok()) return status;
    loaded_[index] = info;
    *store = std::make_unique<HiveStore>(hives_[index].root, std::move(hive), client_, slot_number,
                                         keeper_);
    return Status::Ok();
  }

  void KeepOriginalsWith(OriginalKeeper* keeper) override { keeper_ = keeper; }

 private:
  // Declared first, so that it is destroyed last: the loaded hives are dropped from it.
  HiveClient client_;
  std::vector<HiveLocation> hives_;
  std::vector<std::optional<FileInfo>> loaded_;  // what each hive's file was when last read
  OriginalKeeper* keeper_ = nullptr;
};

}  // namespace

std::unique_ptr<Registry> CreateHiveRegistry(Directory& root) {
  return std::make_unique<HiveRegistry>(FindHives(root));
}

std::unique_ptr<Registry> CreateNativeRegistry(Directory& root) {
  return CreateHiveRegistry(root);
}

}  // namespace quelix
