#include "platform/posix/hive_registry.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/posix/hive_locations.h"

namespace quelix {
namespace {

// Hives from Windows XP on keep larger data in chained big-data cells, which hivex cannot write;
// a key holding such a value is never rewritten.
constexpr size_t kLargestPlainData = 16344;
// The SOFTWARE hive is the key HKEY_LOCAL_MACHINE\SOFTWARE.
constexpr char kSoftwareKey[] = "SOFTWARE";

// The state of one hive that outlives a single repair.
struct HiveSlot {
  std::unique_ptr<HiveFile> hive;
  bool backed_up = false;
};

// Frees what hivex allocates, on every path out of a function.
struct FreeDeleter {
  void operator()(void* allocated) const { std::free(allocated); }
};
template <typename T>
using HivexPtr = std::unique_ptr<T, FreeDeleter>;

bool SameIgnoringCase(const char* a, const std::string& b) {
  return std::strlen(a) == b.size() && strncasecmp(a, b.c_str(), b.size()) == 0;
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

Status HivexFailure(const std::string& what) {
  const int err = errno;
  return {ErrorCode::kOther, what + ": " + (err != 0 ? std::strerror(err) : "hive error")};
}

class HiveStore final : public RegistryStore {
 public:
  HiveStore(RegistryRoot root, HiveSlot& slot, const HiveCommitHooks& hooks)
      : root_(root), slot_(slot), hooks_(hooks) {}
  // Changes never committed are dropped with the loaded hive, so the next repair sees the disk.
  ~HiveStore() override {
    if (changed_ || !broken_.ok()) slot_.hive.reset();
  }

  Status OpenKey(const std::string& path, bool create_if_absent,
                 std::unique_ptr<RegistryKey>* key) override;
  Status Commit() override;

  hive_h* handle() const { return slot_.hive->handle(); }
  const std::string& path() const { return slot_.hive->path(); }
  void MarkChanged() { changed_ = true; }
  void MarkBroken(Status status) {
    if (broken_.ok()) broken_ = std::move(status);
  }

 private:
  RegistryRoot root_;
  HiveSlot& slot_;
  const HiveCommitHooks& hooks_;
  bool changed_ = false;
  Status broken_;
};

class HiveKey final : public RegistryKey {
 public:
  HiveKey(HiveStore& store, hive_node_h node) : store_(store), node_(node) {}

  Status ListSubkeys(std::vector<std::string>* names) override {
    names->clear();
    errno = 0;
    HivexPtr<hive_node_h> children(hivex_node_children(store_.handle(), node_));
    if (children == nullptr) return HivexFailure(store_.path());
    for (const hive_node_h* child = children.get(); *child != 0; ++child) {
      HivexPtr<char> name(hivex_node_name(store_.handle(), *child));
      if (name == nullptr) return HivexFailure(store_.path());
      names->push_back(name.get());
    }
    return Status::Ok();
  }

  ValueDeletion DeleteValue(const std::string& name, Status* failure) override;

 private:
  // The values of the key other than `name`, with their types and data, in their order.
  Status Survivors(const std::string& name, std::vector<hive_set_value>* kept,
                   std::vector<HivexPtr<char>>* buffers);

  HiveStore& store_;
  hive_node_h node_;
};

Status HiveKey::Survivors(const std::string& name, std::vector<hive_set_value>* kept,
                          std::vector<HivexPtr<char>>* buffers) {
  hive_h* h = store_.handle();
  errno = 0;
  HivexPtr<hive_value_h> values(hivex_node_values(h, node_));
  if (values == nullptr) return HivexFailure(store_.path());
  for (const hive_value_h* handle = values.get(); *handle != 0; ++handle) {
    errno = 0;
    char* key = hivex_value_key(h, *handle);
    if (key == nullptr) return HivexFailure(store_.path());
    buffers->emplace_back(key);
    if (SameIgnoringCase(key, name)) continue;
    hive_set_value value{};
    value.key = key;
    char* data = hivex_value_value(h, *handle, &value.t, &value.len);
    if (data == nullptr) return HivexFailure(store_.path());
    buffers->emplace_back(data);
    if (value.len > kLargestPlainData) {
      return {ErrorCode::kOther, store_.path() + ": the key holds a value too large to rewrite"};
    }
    value.value = data;
    kept->push_back(value);
  }
  return Status::Ok();
}

ValueDeletion HiveKey::DeleteValue(const std::string& name, Status* failure) {
  errno = 0;
  if (hivex_node_get_value(store_.handle(), node_, name.c_str()) == 0) {
    if (errno == 0) return ValueDeletion::kAbsent;
    *failure = HivexFailure(store_.path());
    return ValueDeletion::kFailed;
  }
  // hivex has no call that deletes one value: the key is given all the others back.
  std::vector<hive_set_value> kept;
  std::vector<HivexPtr<char>> buffers;
  *failure = Survivors(name, &kept, &buffers);
  if (!failure->ok()) return ValueDeletion::kFailed;
  errno = 0;
  if (hivex_node_set_values(store_.handle(), node_, kept.size(), kept.data(), 0) != 0) {
    // The loaded hive may be half changed: it must never be written.
    *failure = HivexFailure(store_.path());
    store_.MarkBroken(*failure);
    return ValueDeletion::kFailed;
  }
  store_.MarkChanged();
  return ValueDeletion::kDeleted;
}

Status HiveStore::OpenKey(const std::string& path, bool /*create_if_absent*/,
                          std::unique_ptr<RegistryKey>* key) {
  std::vector<std::string> parts = SplitKeyPath(path);
  if (root_ == RegistryRoot::kLocalMachine) {
    if (parts.empty() || !SameIgnoringCase(parts.front().c_str(), kSoftwareKey)) {
      return {ErrorCode::kNotFound, path + ": not in this hive"};
    }
    parts.erase(parts.begin());
  }
  hive_h* h = handle();
  hive_node_h node = hivex_root(h);
  for (const std::string& part : parts) {
    if (node == 0) break;
    errno = 0;
    node = hivex_node_get_child(h, node, part.c_str());
    if (node == 0 && errno != 0) return HivexFailure(this->path());
  }
  if (node == 0) return {ErrorCode::kNotFound, path + ": no such key"};
  *key = std::make_unique<HiveKey>(*this, node);
  return Status::Ok();
}

Status HiveStore::Commit() {
  if (!broken_.ok()) return broken_;
  if (!changed_) return Status::Ok();
  // On failure the changes stay marked, so that the loaded hive is dropped with the store (not
  // before: its keys may still be open).
  const Status status = slot_.hive->Save(hooks_, &slot_.backed_up);
  if (status.ok()) changed_ = false;
  return status;
}

class HiveRegistry final : public Registry {
 public:
  HiveRegistry(std::vector<HiveLocation> hives, HiveCommitHooks hooks)
      : hives_(std::move(hives)), slots_(hives_.size()), hooks_(std::move(hooks)) {}

  std::vector<RegistryStoreInfo> Stores() const override {
    std::vector<RegistryStoreInfo> stores;
    for (const HiveLocation& hive : hives_) stores.push_back({hive.root, hive.path});
    return stores;
  }

  Status OpenStore(size_t index, std::unique_ptr<RegistryStore>* store) override {
    if (index >= hives_.size()) return {ErrorCode::kNotFound, "no such registry store"};
    HiveSlot& slot = slots_[index];
    if (slot.hive != nullptr && !slot.hive->Current()) slot.hive.reset();
    if (slot.hive == nullptr) {
      const Status status = HiveFile::Load(hives_[index].path, &slot.hive);
      if (!status.ok()) return status;
    }
    *store = std::make_unique<HiveStore>(hives_[index].root, slot, hooks_);
    return Status::Ok();
  }

 private:
  std::vector<HiveLocation> hives_;
  std::vector<HiveSlot> slots_;
  HiveCommitHooks hooks_;
};

}  // namespace

std::unique_ptr<Registry> CreateHiveRegistry(const std::string& search_root,
                                             HiveCommitHooks hooks) {
  return std::make_unique<HiveRegistry>(FindHives(search_root), std::move(hooks));
}

std::unique_ptr<Registry> CreateNativeRegistry(const std::string& search_root) {
  return CreateHiveRegistry(search_root);
}

}  // namespace quelix
