// An in-memory registry for engine tests: stores of keys and values that can be made to fail on
// cue, and a record of what the engine did to them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace quelix {

struct FakeValue {
  std::string name;
  std::string data;
  bool operator==(const FakeValue&) const = default;
};

struct FakeKey {
  std::string path;  // as created, e.g. "Software\Microsoft"
  std::vector<FakeValue> values;
};

class FakeRegistry : public Registry {
 public:
  // Adds a store and returns its index. A store that `creates_keys` stands for the live registry;
  // one that does not, for an offline hive. Deletions take effect in the store at Commit.
  size_t AddStore(RegistryRoot root, const std::string& name, bool creates_keys);

  // Creates `key` (and its parents) where absent and sets value `name` to `data`.
  void SetValue(size_t store, const std::string& key, const std::string& name,
                const std::string& data);
  void AddKey(size_t store, const std::string& key);

  // The committed state of a store.
  bool HasKey(size_t store, const std::string& key) const;
  // The values of `key` in order; empty when the key is absent.
  std::vector<FakeValue> Values(size_t store, const std::string& key) const;
  const std::vector<FakeKey>& Keys(size_t store) const { return stores_.at(store).keys; }

  // Failures on cue.
  void FailOpenStore(size_t store, Status status) { stores_.at(store).open_failure = status; }
  void FailCommit(size_t store, Status status) { stores_.at(store).commit_failure = status; }
  void FailOpenKey(size_t store, const std::string& key, Status status);
  void FailListSubkeys(size_t store, const std::string& key, Status status);
  void FailDelete(size_t store, const std::string& key, const std::string& value, Status status);

  // What the engine did, in order: "open store N", "open KEY", "create KEY", "list KEY",
  // "delete KEY|VALUE", "close KEY", "commit N", "close store N".
  std::vector<std::string> events;

  std::vector<RegistryStoreInfo> Stores() const override;
  Status OpenStore(size_t index, std::unique_ptr<RegistryStore>* store) override;

 private:
  friend class FakeStore;
  friend class FakeRegistryKey;
  struct Failure {
    std::string key;
    std::string value;
    Status status;
  };
  struct Store {
    RegistryStoreInfo info;
    bool creates_keys = false;
    std::vector<FakeKey> keys;
    Status open_failure;
    Status commit_failure;
    std::vector<Failure> open_key_failures;
    std::vector<Failure> list_failures;
    std::vector<Failure> delete_failures;
  };
  static FakeKey* Find(std::vector<FakeKey>& keys, const std::string& path);
  static void Create(std::vector<FakeKey>& keys, const std::string& path);
  static const Status* FindFailure(const std::vector<Failure>& failures, const std::string& key,
                                   const std::string& value);

  std::vector<Store> stores_;
};

// True when `a` and `b` are equal ignoring ASCII case, as registry names are compared.
bool SameRegistryName(const std::string& a, const std::string& b);

}  // namespace quelix
