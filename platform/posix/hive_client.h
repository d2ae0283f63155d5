// The program's end of the hive helper (hive_server.h): starts the helper when first needed,
// keeps each hive loaded in it between requests, and outlives the helper's death. A hive the helper
// died on is damaged for the rest of the client's life; the others are loaded again in a new one.
// So is a hive the helper does not finish a request on in time (a loop in the library): the
// helper is killed.
//
// A loaded hive changes only through DeleteValue, which never adds or removes a key nor makes a
// value appear; so the keys found, their subkeys and the values found absent are remembered while
// the hive stays loaded, and the repair that runs after every cleaned file costs no round trip.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/hive_protocol.h"
#include "platform/registry.h"

namespace quelix {

// Hives are told apart by a number the caller chooses (the store's index). Statuses carry the
// reason alone; the caller puts the hive's path in front.
class HiveClient {
 public:
  // Longer than loading or writing the largest hive takes.
  static constexpr std::chrono::seconds kPatience{120};

  explicit HiveClient(std::chrono::milliseconds patience = kPatience) : patience_(patience) {}
  ~HiveClient();
  HiveClient(const HiveClient&) = delete;
  HiveClient& operator=(const HiveClient&) = delete;

  // Loads the hive open on `fd` (which stays the caller's) as `slot`. `keep_known`: the content is
  // the one last loaded as `slot`, and what was learnt of it stays.
  Status Load(uint32_t slot, int fd, bool keep_known = false);
  // For a hive whose content is the one last loaded as `slot`: has `load` load it only when a
  // request is not answered from what was learnt of it. Until then no helper runs for it.
  void LoadWhenNeeded(uint32_t slot, std::function<Status()> load);
  // Drops the loaded hive and every change made to it; `keep_known` keeps what was learnt of it.
  // A helper left with no hive ends.
  void Unload(uint32_t slot, bool keep_known = false);
  // True when something was learnt of `slot` and kept.
  bool Knows(uint32_t slot) const { return known_.count(slot) != 0; }
  Status OpenKey(uint32_t slot, const std::vector<std::string>& parts, uint64_t* node);
  Status ListSubkeys(uint32_t slot, uint64_t node, std::vector<std::string>* names);
  Status HasValue(uint32_t slot, uint64_t node, const std::string& name, bool* present);
  // `*half_changed` is set when the loaded hive may now be inconsistent and must not be written.
  ValueDeletion DeleteValue(uint32_t slot, uint64_t node, const std::string& name, Status* failure,
                            bool* half_changed);
  // Writes the loaded hive into the file open on `fd`.
  Status Commit(uint32_t slot, int fd);
  // Reads the file open on `fd` back as a hive and checks that the values deleted since the last
  // commit are not in it.
  Status Verify(uint32_t slot, int fd);

  bool Loaded(uint32_t slot) const { return loaded_.count(slot) != 0; }
  // Why `slot` is never to be loaded again, or null.
  const Status* Damaged(uint32_t slot) const;
  // The helper's process, or -1 while none runs.
  pid_t helper() const { return pid_; }

 private:
  Status Start();
  void Stop();
  // Loads `slot` where it is not loaded and a load waits for it.
  Status Ready(uint32_t slot);
  // Sends `request` (about `slot`) and waits for the reply. When the helper dies meanwhile,
  // `slot` is marked damaged and the death is returned as the failure.
  Status Call(uint32_t slot, const HiveMessage& request, int fd, HiveMessage* reply);
  // `hung`: the helper did not answer in time, and is killed.
  Status Died(uint32_t slot, bool hung);

  // What is known of one loaded hive.
  struct Known {
    std::map<std::string, std::pair<Status, uint64_t>> keys;  // by path: found, or kNotFound
    std::map<uint64_t, std::vector<std::string>> subkeys;
    std::set<std::pair<uint64_t, std::string>> absent;
  };

  const std::chrono::milliseconds patience_;
  pid_t pid_ = -1;
  OwnedFd socket_;
  std::set<uint32_t> loaded_;
  std::map<uint32_t, std::function<Status()>> pending_;
  std::map<uint32_t, Known> known_;
  std::map<uint32_t, Status> damaged_;
};

}  // namespace quelix
