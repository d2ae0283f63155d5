// One offline registry hive, loaded in the hive helper for changing, and the safe way of writing it
// back: every file beside the hive is created, written and renamed through descriptors, because the
// hive's folder may belong to someone who swaps names while the program works.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/keeper.h"
#include "platform/posix/hive_client.h"
#include "platform/posix/hive_fd.h"
#include "platform/posix/hive_locations.h"
#include "platform/status.h"

namespace quelix {

// Places in a commit where tests act as someone else would (or stop the program).
struct HiveCommitHooks {
  // Called once the hive library has written the temporary file beside the hive, before the file
  // is flushed, checked and given the hive's metadata.
  std::function<void(const std::string& temp, const std::string& hive)> after_commit;
  // Called once the complete, flushed temporary file is beside the hive, just before it is renamed
  // over the hive.
  std::function<void(const std::string& temp, const std::string& hive)> before_replace;
};

class HiveFile {
 public:
  // Drops the loaded hive, and the changes not written, from the helper.
  ~HiveFile();
  HiveFile(const HiveFile&) = delete;
  HiveFile& operator=(const HiveFile&) = delete;

  // Opens the hive at `location` (never through a link) and has `client` load it as `slot`. Fails,
  // leaving the file untouched, when it is not a hive, is a Windows 9x registry, is damaged or
  // truncated, or holds changes Windows has not yet written into it from its logs (writing it
  // would lose them). `location` and `client` must outlive the hive.
  static Status Load(const HiveLocation& location, HiveClient& client, uint32_t slot,
                     std::unique_ptr<HiveFile>* hive);

  const std::string& path() const { return location_.path; }

  // True while the hive's name names the file loaded (or last saved), unchanged.
  bool Current() const;

  // Writes the loaded hive over the file: checks that the hive may be written, has the helper
  // write a new temporary file beside it, flushes that, reads it back, gives it the hive's
  // metadata, keeps the hive as it was (with `keeper` where there is one, else as a backup copy
  // beside it unless `*backed_up` is set, which it then sets), and renames the new file over the
  // hive while both names still name those files. On failure the hive is as it was, or (when its
  // name was taken over just after the rename) no longer the program's to repair.
  Status Save(const HiveCommitHooks& hooks, bool* backed_up, OriginalKeeper* keeper);

 private:
  // A file this program created beside the hive.
  struct NewFile {
    OwnedFd fd;
    std::string name;
  };

  HiveFile(const HiveLocation& location, HiveClient& client, uint32_t slot, OwnedFd hive,
           const FileIdentity& identity)
      : location_(location),
        client_(client),
        slot_(slot),
        hive_(std::move(hive)),
        identity_(identity) {}

  Status CheckWritable() const;
  Status CreateBeside(const char* suffix, NewFile* file) const;
  void RemoveIfOurs(const NewFile& file) const;
  Status MakeBackup() const;
  Status WriteTemporary(const HiveCommitHooks& hooks, const NewFile& temp) const;
  // Has `keeper` keep the hive as loaded, about to be replaced by `temp`.
  Status KeepWith(OriginalKeeper& keeper, const NewFile& temp) const;
  Status Replace(const HiveCommitHooks& hooks, NewFile* temp);
  Status AboutHive(const Status& status) const;

  const HiveLocation& location_;
  HiveClient& client_;
  uint32_t slot_;
  OwnedFd hive_;  // the file loaded (or last saved), open since then
  FileIdentity identity_;
};

}  // namespace quelix
