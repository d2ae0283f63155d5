// One offline registry hive, loaded in the hive helper for a look or a repair, and written back
// through the platform's file services: the hive's folder may belong to someone who swaps names
// while the program works, so the new hive is a file the program created in the held folder, and
// it takes the hive's place only while the hive's name still names the hive that was read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/keeper.h"
#include "platform/posix/hive_client.h"
#include "platform/posix/hive_locations.h"
#include "platform/status.h"

namespace quelix {

class HiveFile {
 public:
  // Drops the loaded hive, and the changes not written, from the helper.
  ~HiveFile();
  HiveFile(const HiveFile&) = delete;
  HiveFile& operator=(const HiveFile&) = delete;

  // Has `client` load the hive held in `location` as `slot`, and gives in `*loaded` what the file
  // was when it was read. Fails, leaving the file untouched, when it is longer than kLargestHive
  // or mostly holes (a sparse file), is not a hive, is a Windows 9x registry, is damaged or
  // truncated, or holds changes Windows has not yet written into it from its logs (writing it
  // would lose them). With `unchanged_since` (the file is as it was last loaded, and `client`
  // knows what was learnt of it) the hive is loaded only once a request needs it. `location` and
  // `client` must outlive the hive.
  static Status Load(HiveLocation& location, HiveClient& client, uint32_t slot,
                     const FileInfo* unchanged_since, FileInfo* loaded,
                     std::unique_ptr<HiveFile>* hive);

  const std::string& path() const { return location_.path; }

  // Writes the loaded hive over the file: has the helper write the hive, puts that in a new file
  // beside the hive, flushes it, reads it back for the helper to check, gives it the hive's
  // metadata, has `keeper` (where there is one) keep the hive as it was, and replaces the hive
  // with it while both names still name those files. On failure the hive is as it was, or (when
  // its name was taken over meanwhile) no longer the program's to repair.
  Status Save(OriginalKeeper* keeper);

 private:
  HiveFile(HiveLocation& location, HiveClient& client, uint32_t slot)
      : location_(location), client_(client), slot_(slot) {}

  Status CreateTemporary(std::string* name, std::unique_ptr<File>* temp) const;
  Status WriteTemporary(File& temp) const;
  Status KeepWith(OriginalKeeper& keeper, File& temp) const;
  // Holds the hive's name again after a replace, only where it names the file `expected`.
  Status HoldAgain(const FileInfo& expected, Status replaced);
  Status AboutHive(const Status& status) const;

  HiveLocation& location_;
  HiveClient& client_;
  uint32_t slot_;
};

}  // namespace quelix
