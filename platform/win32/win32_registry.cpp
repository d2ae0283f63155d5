// The live registry through the advapi32 "A" entry points.
#include "platform/win32/win32_registry.h"

#include <utility>
#include <vector>

#include "platform/win32/win32_errors.h"

namespace quelix {
namespace {

// The longest key name the registry allows, plus its terminating null.
constexpr DWORD kMaxKeyName = 256;

Status FromError(LONG error, const std::string& what) {
  return win32::FromError(static_cast<DWORD>(error), what);
}

class LiveKey final : public RegistryKey {
 public:
  LiveKey(HKEY key, std::string name) : key_(key), name_(std::move(name)) {}
  ~LiveKey() override { RegCloseKey(key_); }

  Status ListSubkeys(std::vector<std::string>* names) override {
    names->clear();
    for (DWORD index = 0;; ++index) {
      char name[kMaxKeyName];
      DWORD length = kMaxKeyName;
      const LONG result =
          RegEnumKeyExA(key_, index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (result == ERROR_NO_MORE_ITEMS) return Status::Ok();
      if (result != ERROR_SUCCESS) return FromError(result, name_);
      names->emplace_back(name, length);
    }
  }

  Status HasValue(const std::string& name, bool* present) override {
    const LONG result = RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, nullptr, nullptr);
    *present = result == ERROR_SUCCESS || result == ERROR_MORE_DATA;
    if (*present || result == ERROR_FILE_NOT_FOUND) return Status::Ok();
    return FromError(result, name_ + "\\" + name);
  }

  Status ReadValue(const std::string& name, RegistryValueData* value) override {
    for (int attempt = 0; attempt < 4; ++attempt) {
      DWORD type = 0;
      DWORD size = 0;
      LONG result = RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size);
      if (result != ERROR_SUCCESS) return FromError(result, name_ + "\\" + name);
      value->data.resize(size);
      result = RegQueryValueExA(key_, name.c_str(), nullptr, &type,
                                reinterpret_cast<BYTE*>(value->data.data()), &size);
      if (result == ERROR_MORE_DATA) continue;  // it grew meanwhile
      if (result != ERROR_SUCCESS) return FromError(result, name_ + "\\" + name);
      value->data.resize(size);
      value->type = type;
      return Status::Ok();
    }
    return FromError(ERROR_MORE_DATA, name_ + "\\" + name);
  }

  Status SetValue(const std::string& name, const RegistryValueData& value) override {
    const LONG result = RegSetValueExA(key_, name.c_str(), 0, value.type,
                                       reinterpret_cast<const BYTE*>(value.data.data()),
                                       static_cast<DWORD>(value.data.size()));
    if (result != ERROR_SUCCESS) return FromError(result, name_ + "\\" + name);
    return Status::Ok();
  }

  ValueDeletion DeleteValue(const std::string& name, Status* failure) override {
    const LONG result = RegDeleteValueA(key_, name.c_str());
    if (result == ERROR_SUCCESS) return ValueDeletion::kDeleted;
    if (result == ERROR_FILE_NOT_FOUND) return ValueDeletion::kAbsent;
    // A key opened without the right to change it still says whether the value is there.
    if (RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
        ERROR_FILE_NOT_FOUND) {
      return ValueDeletion::kAbsent;
    }
    *failure = FromError(result, name_ + "\\" + name);
    return ValueDeletion::kFailed;
  }

 private:
  HKEY key_;
  std::string name_;
};

class LiveStore final : public RegistryStore {
 public:
  LiveStore(HKEY root, std::string name) : root_(root), name_(std::move(name)) {}

  Status OpenKey(const std::string& path, bool create_if_absent,
                 std::unique_ptr<RegistryKey>* key) override {
    HKEY handle = nullptr;
    LONG result = ERROR_FILE_NOT_FOUND;
    if (create_if_absent) result = RegCreateKeyA(root_, path.c_str(), &handle);
    // Without the right to create (or to write), the key may still be there to be read, so that
    // a value that stays is reported as such.
    if (result != ERROR_SUCCESS) {
      result = RegOpenKeyExA(root_, path.c_str(), 0, KEY_READ | KEY_SET_VALUE, &handle);
    }
    if (result == ERROR_ACCESS_DENIED) {
      result = RegOpenKeyExA(root_, path.c_str(), 0, KEY_READ, &handle);
    }
    if (result != ERROR_SUCCESS) return FromError(result, name_ + "\\" + path);
    *key = std::make_unique<LiveKey>(handle, name_ + "\\" + path);
    return Status::Ok();
  }

  // The registry makes its changes durable itself.
  Status Commit() override { return Status::Ok(); }

 private:
  HKEY root_;
  std::string name_;
};

class LiveRegistry final : public Registry {
 public:
  LiveRegistry(HKEY machine, HKEY user, std::string machine_name, std::string user_name)
      : roots_{machine, user}, names_{std::move(machine_name), std::move(user_name)} {}

  std::vector<RegistryStoreInfo> Stores() const override {
    return {{RegistryRoot::kLocalMachine, names_[0]}, {RegistryRoot::kCurrentUser, names_[1]}};
  }

  Status OpenStore(size_t index, std::unique_ptr<RegistryStore>* store) override {
    if (index > 1) return {ErrorCode::kNotFound, "no such registry store"};
    *store = std::make_unique<LiveStore>(roots_[index], names_[index]);
    return Status::Ok();
  }

 private:
  HKEY roots_[2];
  std::string names_[2];
};

}  // namespace

std::unique_ptr<Registry> CreateLiveRegistry(HKEY machine, HKEY user, std::string machine_name,
                                             std::string user_name) {
  return std::make_unique<LiveRegistry>(machine, user, std::move(machine_name),
                                        std::move(user_name));
}

std::unique_ptr<Registry> CreateNativeRegistry(Directory& /*root*/) {
  return CreateLiveRegistry(HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER);
}

}  // namespace quelix
