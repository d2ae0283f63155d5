// Many opens, or many closes, handed to the kernel in one system call (io_uring): on a disk the
// page cache holds, a page's open and close cost little more than the calls' own way into the
// kernel and back, which a batch pays once.
#pragma once

#include <linux/openat2.h>

#include <memory>
#include <string>
#include <vector>

struct io_uring;

namespace quelix {

class UringBatch {
 public:
  // The most operations one call hands over.
  static constexpr unsigned kEntries = 32;

  // Null where the kernel has no io_uring, refuses it to this process (a sandbox, a sysctl), or
  // lacks the operations used here; once refused, it is not asked again.
  static std::unique_ptr<UringBatch> Create();
  // Whether Create was refused before (where not, it may still be).
  static bool Refused();
  ~UringBatch();
  UringBatch(const UringBatch&) = delete;
  UringBatch& operator=(const UringBatch&) = delete;

  // Opens each of `names` below `dirfd` as openat2(2) with `how` would. `results[i]`: the
  // descriptor, or -errno. An open the ring could not take says -EAGAIN: the caller opens that one
  // itself.
  void OpenAll(int dirfd, const std::vector<std::string>& names, const open_how& how,
               std::vector<int>* results);
  // Closes each of `fds` (errors are not told: only files read are closed this way).
  void CloseAll(const std::vector<int>& fds);
  // False once a call failed in a way that leaves the ring unusable; the caller then makes the
  // calls itself.
  bool usable() const { return usable_; }

 private:
  UringBatch();
  // Hands over the operations prepared, waits for all of them and gives each result to `done`
  // by its index; false (the ring no longer used) where the kernel took fewer than `count`:
  // `*taken` says how many it took, in order.
  template <typename Done>
  bool Run(unsigned count, unsigned* taken, Done done);

  std::unique_ptr<io_uring> ring_;
  bool usable_ = true;
};

}  // namespace quelix
