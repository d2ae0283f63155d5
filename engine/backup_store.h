// The backup store: before a cleaned copy replaces a file, the original's bytes are copied into a
// folder of their own for this Remove command, private to the user who runs it, and written down
// in its manifest (see backup_format.h), complete and on the storage device before the replace.
// The live registry's values are written down the same way before they are deleted. Nothing is
// made until something is kept.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "engine/tree.h"
#include "platform/file_system.h"
#include "platform/keeper.h"

namespace quelix {

class BackupStore final : public OriginalKeeper {
 public:
  // The run goes into a new folder in `folder` (made when first needed).
  BackupStore(FileSystem& fs, std::string folder);

  // The folder being cleaned now, recorded with the run (its path and which folder it is) so
  // that a restore can reach its files the way the cleaning did, and only in that folder. A run
  // may clean several folders, one after the other.
  Status SetRoot(const TreeIdentity& root);

  Status Keep(File& original, const std::string& path, File& replacement) override;
  Status Withdraw(const std::string& path) override;
  Status KeepValue(const std::string& store, const std::string& key, const std::string& name,
                   const RegistryValueData& value) override;
  // The volume of the run's folder, or of the nearest existing folder on its way.
  Status Room(uint64_t* volume, uint64_t* free, uint64_t* total) override;

  // The run's folder once it was made (for the first thing to keep), else "".
  const std::string& run() const { return run_; }
  // How many originals (files and registry values) the run holds: its folder may be made and
  // still hold none, where keeping the first one failed or every file kept was withdrawn.
  size_t kept() const { return kept_; }

 private:
  // Makes the run's folder and writes down what it is for.
  Status Begin();
  // Records the folder being cleaned, once.
  Status RecordRoot();
  std::string In(const std::string& name) const;
  // Copies `from` (from its start) into the new file `to`, giving its size and SHA-256.
  Status Copy(File& from, const std::string& to, uint64_t* size, std::string* sha256);
  // Appends `line` to the run's file `name` and waits until it is on the storage device, with
  // the file's name when the line is its first.
  Status Append(const std::string& name, const std::string& line);
  // Waits until the names made in `folder` are on the storage device.
  Status SyncNames(const std::string& folder);

  FileSystem& fs_;
  const std::string folder_;
  TreeIdentity root_;
  bool recorded_root_ = false;
  std::string run_;
  std::set<std::string> named_;        // the run's files whose names are on the device
  size_t copies_ = 0;                  // copies named so far, kept or not
  size_t kept_ = 0;                    // files and values written down in the run, less withdrawn
  std::string last_path_;              // the file the last Keep kept, until it is withdrawn
  std::string last_copy_;              // and the name of its copy
  std::set<std::string> kept_values_;  // their lines, without the time
};

// The owner as the manifest writes it: "uid:gid", "-" where the platform has none.
std::string Owner(const FileAttributes& attributes);
// Copies `from`, read from its start, to the end of `to`, giving the SHA-256 and size of what was
// copied.
Status CopyContent(File& from, File& to, std::string* sha256, uint64_t* size = nullptr);
// The SHA-256 of `file` read from its start.
Status HashFile(File& file, std::string* sha256, uint64_t* size = nullptr);
// `path`, or where it does not exist (a folder made when first needed) its nearest existing parent:
// the folder whose volume it will be on.
std::string NearestExisting(FileSystem& fs, const std::string& path);
// The whole of the program's own file `path`, refused (see FileSystem::CheckOwn) where another
// user owns it or may write it.
Status ReadOwnFile(FileSystem& fs, const std::string& path, std::string* text);

}  // namespace quelix
