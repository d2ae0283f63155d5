#include "tests/support/fake_registry.h"

#include <algorithm>
#include <cctype>
#include <memory>

namespace quelix {
namespace {

std::string Parent(const std::string& path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string LastName(const std::string& path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

template <typename Keys>
auto FindIn(Keys& keys, const std::string& path) -> decltype(&keys.front()) {
  for (auto& key : keys) {
    if (SameRegistryName(key.path, path)) return &key;
  }
  return nullptr;
}

}  // namespace

bool SameRegistryName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// A store open for repair. A store that stands for the live registry changes at once; one that
// stands for a hive changes a copy that Commit makes the store's.
class FakeStore final : public RegistryStore {
 public:
  FakeStore(FakeRegistry& registry, size_t index)
      : registry_(registry), index_(index), store_(registry.stores_[index]) {
    if (!store_.creates_keys) copy_ = store_.keys;
  }
  ~FakeStore() override { registry_.events.push_back("close store " + std::to_string(index_)); }

  std::vector<FakeKey>& keys() { return store_.creates_keys ? store_.keys : copy_; }
  FakeRegistry& registry() { return registry_; }
  FakeRegistry::Store& store() { return store_; }

  Status OpenKey(const std::string& path, bool create_if_absent,
                 std::unique_ptr<RegistryKey>* key) override;

  Status Commit() override {
    registry_.events.push_back("commit " + std::to_string(index_));
    if (!store_.commit_failure.ok()) return store_.commit_failure;
    if (!store_.creates_keys) store_.keys = copy_;
    return Status::Ok();
  }

 private:
  FakeRegistry& registry_;
  size_t index_;
  FakeRegistry::Store& store_;
  std::vector<FakeKey> copy_;
};

class FakeRegistryKey final : public RegistryKey {
 public:
  FakeRegistryKey(FakeStore& store, std::string path) : store_(store), path_(std::move(path)) {}
  ~FakeRegistryKey() override { store_.registry().events.push_back("close " + path_); }

  Status ListSubkeys(std::vector<std::string>* names) override {
    store_.registry().events.push_back("list " + path_);
    if (const Status* failure =
            FakeRegistry::FindFailure(store_.store().list_failures, path_, "")) {
      return *failure;
    }
    names->clear();
    for (const FakeKey& key : store_.keys()) {
      if (SameRegistryName(Parent(key.path), path_)) names->push_back(LastName(key.path));
    }
    return Status::Ok();
  }

  Status HasValue(const std::string& name, bool* present) override {
    store_.registry().events.push_back("look " + path_ + "|" + name);
    const std::vector<FakeValue>& values = FakeRegistry::Find(store_.keys(), path_)->values;
    *present = std::any_of(values.begin(), values.end(), [&](const FakeValue& value) {
      return SameRegistryName(value.name, name);
    });
    return Status::Ok();
  }

  Status ReadValue(const std::string& name, RegistryValueData* value) override {
    const std::vector<FakeValue>& values = FakeRegistry::Find(store_.keys(), path_)->values;
    for (const FakeValue& v : values) {
      if (!SameRegistryName(v.name, name)) continue;
      *value = {1, v.data};  // REG_SZ
      return Status::Ok();
    }
    return {ErrorCode::kNotFound, name + ": no such value"};
  }

  Status SetValue(const std::string& name, const RegistryValueData& value) override {
    store_.registry().events.push_back("set " + path_ + "|" + name);
    FakeRegistry::Find(store_.keys(), path_)->values.push_back({name, value.data});
    return Status::Ok();
  }

  ValueDeletion DeleteValue(const std::string& name, Status* failure) override {
    store_.registry().events.push_back("delete " + path_ + "|" + name);
    std::vector<FakeValue>& values = FakeRegistry::Find(store_.keys(), path_)->values;
    const auto found = std::find_if(values.begin(), values.end(), [&](const FakeValue& value) {
      return SameRegistryName(value.name, name);
    });
    if (found == values.end()) return ValueDeletion::kAbsent;
    if (const Status* cued =
            FakeRegistry::FindFailure(store_.store().delete_failures, path_, name)) {
      *failure = *cued;
      return ValueDeletion::kFailed;
    }
    values.erase(found);
    return ValueDeletion::kDeleted;
  }

 private:
  FakeStore& store_;
  std::string path_;
};

Status FakeStore::OpenKey(const std::string& path, bool create_if_absent,
                          std::unique_ptr<RegistryKey>* key) {
  if (const Status* failure = FakeRegistry::FindFailure(store_.open_key_failures, path, "")) {
    registry_.events.push_back("open " + path);
    return *failure;
  }
  if (FakeRegistry::Find(keys(), path) == nullptr) {
    if (!create_if_absent || !store_.creates_keys) {
      registry_.events.push_back("open " + path);
      return {ErrorCode::kNotFound, path + ": no such key"};
    }
    registry_.events.push_back("create " + path);
    FakeRegistry::Create(keys(), path);
  } else {
    registry_.events.push_back("open " + path);
  }
  *key = std::make_unique<FakeRegistryKey>(*this, path);
  return Status::Ok();
}

size_t FakeRegistry::AddStore(RegistryRoot root, const std::string& name, bool creates_keys) {
  Store store;
  store.info = {root, name, !creates_keys};
  store.creates_keys = creates_keys;
  stores_.push_back(std::move(store));
  return stores_.size() - 1;
}

void FakeRegistry::SetValue(size_t store, const std::string& key, const std::string& name,
                            const std::string& data) {
  std::vector<FakeKey>& keys = stores_.at(store).keys;
  Create(keys, key);
  std::vector<FakeValue>& values = Find(keys, key)->values;
  for (FakeValue& value : values) {
    if (SameRegistryName(value.name, name)) {
      value.data = data;
      return;
    }
  }
  values.push_back({name, data});
}

void FakeRegistry::AddKey(size_t store, const std::string& key) {
  Create(stores_.at(store).keys, key);
}

bool FakeRegistry::HasKey(size_t store, const std::string& key) const {
  return FindIn(stores_.at(store).keys, key) != nullptr;
}

std::vector<FakeValue> FakeRegistry::Values(size_t store, const std::string& key) const {
  const FakeKey* found = FindIn(stores_.at(store).keys, key);
  return found == nullptr ? std::vector<FakeValue>() : found->values;
}

void FakeRegistry::FailOpenKey(size_t store, const std::string& key, Status status) {
  stores_.at(store).open_key_failures.push_back({key, "", std::move(status)});
}

void FakeRegistry::FailListSubkeys(size_t store, const std::string& key, Status status) {
  stores_.at(store).list_failures.push_back({key, "", std::move(status)});
}

void FakeRegistry::FailDelete(size_t store, const std::string& key, const std::string& value,
                              Status status) {
  auto& failures = stores_.at(store).delete_failures;
  std::erase_if(failures, [&](const auto& f) { return f.key == key && f.value == value; });
  if (!status.ok()) failures.push_back({key, value, std::move(status)});
}

std::vector<RegistryStoreInfo> FakeRegistry::Stores() const {
  std::vector<RegistryStoreInfo> infos;
  for (const Store& store : stores_) infos.push_back(store.info);
  return infos;
}

Status FakeRegistry::OpenStore(size_t index, std::unique_ptr<RegistryStore>* store) {
  events.push_back("open store " + std::to_string(index));
  if (!stores_.at(index).open_failure.ok()) return stores_[index].open_failure;
  *store = std::make_unique<FakeStore>(*this, index);
  return Status::Ok();
}

FakeKey* FakeRegistry::Find(std::vector<FakeKey>& keys, const std::string& path) {
  return FindIn(keys, path);
}

void FakeRegistry::Create(std::vector<FakeKey>& keys, const std::string& path) {
  if (path.empty() || Find(keys, path) != nullptr) return;
  Create(keys, Parent(path));
  keys.push_back({path, {}});
}

const Status* FakeRegistry::FindFailure(const std::vector<Failure>& failures,
                                        const std::string& key, const std::string& value) {
  for (const Failure& failure : failures) {
    if (SameRegistryName(failure.key, key) && SameRegistryName(failure.value, value)) {
      return &failure.status;
    }
  }
  return nullptr;
}

}  // namespace quelix
