// One offline registry hive loaded through hivex for changing, and the safe way of writing it back.
#pragma once

#include <hivex.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/status.h"

namespace quelix {

struct HiveCommitHooks {
  // Called once the complete, flushed temporary file is beside the hive, just before it is renamed
  // over the hive. Tests use it to stop the program at that moment.
  std::function<void(const std::string& temp, const std::string& hive)> before_replace;
};

class HiveFile {
 public:
  ~HiveFile();
  HiveFile(const HiveFile&) = delete;
  HiveFile& operator=(const HiveFile&) = delete;

  // Loads the hive at `path`. Fails, leaving the file untouched, when it is not a hive, is a
  // Windows 9x registry, is damaged or truncated, or holds changes Windows has not yet written
  // into it from its logs (writing it would lose them).
  static Status Load(const std::string& path, std::unique_ptr<HiveFile>* hive);

  hive_h* handle() const { return handle_; }
  const std::string& path() const { return path_; }

  // True while the file on disk is the one loaded (or last saved).
  bool Current() const;

  // Writes the loaded hive over the file: checks that the hive may be written, keeps a backup copy
  // beside it unless `*backed_up` is set (and sets it), commits to a new temporary file beside it,
  // flushes that, gives it the hive's mode, owner and NTFS attributes, and renames it over the
  // hive. On failure the hive is as it was and the temporary file is gone.
  Status Save(const HiveCommitHooks& hooks, bool* backed_up);

 private:
  HiveFile(std::string path, hive_h* handle) : path_(std::move(path)), handle_(handle) {}
  bool Identify();

  std::string path_;
  hive_h* handle_ = nullptr;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  off_t size_ = 0;
  long long modified_ns_ = 0;
};

}  // namespace quelix
