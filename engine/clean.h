// Cleaning one infected file: its copy without the virus's lines takes its place in one step, or
// the file stays exactly as it was.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/tree.h"
#include "platform/file_system.h"
#include "platform/keeper.h"
#include "runtime/text_files.h"

namespace quelix {

struct CleanResult {
  bool cleaned = false;
  std::string reason;  // why not, for the log ("access denied", "changed since the scan")
  // What the cleaned file could not be given back of the original's metadata ("owner").
  std::vector<std::string> lost;
  // The original's other names (hard links), which still hold the virus.
  uint64_t other_names = 0;
  // The file as it is now (after cleaning, the cleaned file).
  FileInfo now;
};

class FileCleaner {
 public:
  FileCleaner(SearchedTree& tree, TextFiles& files, const std::string& signature);

  // Rewrites `path` without the marker line, and without the first line from there on that is or
  // holds the signature line and everything after it (the whole file is searched for that line
  // where it has no marker line). Everything happens through the folder and the file as opened
  // below the searched root: the copy is made beside the file, checked the way the scan checks,
  // complete and on disk, and given the original's metadata before it replaces the original, and
  // only while the name still names the file that was read. A file whose cleaning would leave the
  // signature line in it is not rewritten. `found_as`, when known, is how the scan found the
  // file: a file that changed since is left alone. Returns cleaned only when the file that now
  // stands under `path` no longer holds the signature line.
  // `progress` runs now and then while a large file is read and written.
  CleanResult CleanFile(
      const std::string& path, const FileInfo* found_as,
      const std::function<void()>& progress = [] {});

  // Where set, every original is kept with `keeper` before its cleaned copy replaces it; an
  // original that cannot be kept is not replaced.
  void KeepOriginalsWith(OriginalKeeper* keeper) { keeper_ = keeper; }

 private:
  static constexpr int kSource = 4;
  static constexpr int kCopy = 5;

  // Which lines go: the marker line and the line where the copy ends (by index from 0).
  struct Plan {
    std::optional<uint64_t> marker;
    std::optional<uint64_t> end;
    bool DropsNothing() const { return !marker && !end; }
  };

  Status MakePlan(Plan* plan);
  Status CopyKeptLines(const Plan& plan);
  // Writes a kept part of a line to the copy; `hole`: its last byte stands for that many zeros.
  Status WriteKept(const std::string& part, uint64_t hole);
  // Writes the cleaned copy beside the file, checks it and moves it into its place.
  Status Replace(Directory& dir, const std::string& name, const std::string& path, const Plan& plan,
                 CleanResult* result);
  // Has the keeper keep `original` before `copy` takes its place.
  Status KeepOriginal(File& original, const std::string& path, File& copy);
  // Checks the original and the copy a last time and moves the copy over `name`; where that does
  // not happen, the original just kept is withdrawn from the keeper.
  Status ReplaceKept(Directory& dir, const std::string& name, const std::string& path,
                     std::unique_ptr<File> original, std::unique_ptr<File> copy,
                     const std::string& copy_name, const FileInfo& copy_as_made);
  // Tells the keeper the original of `path` stays, unless `name` now names the cleaned copy
  // (`copy_as_made`): a replace can fail after the copy took the name. `failed`: why, as reported.
  Status Withdraw(Directory& dir, const std::string& name, const std::string& path,
                  const FileInfo& copy_as_made, const Status& failed);
  // Whether the file on `channel` holds the signature as a field, read as the scan reads it.
  Status HoldsSignature(int channel, bool* infected);

  SearchedTree& tree_;
  TextFiles& files_;
  std::function<void()> progress_;
  const std::string& signature_;
  const std::string marker_;
  OriginalKeeper* keeper_ = nullptr;
  FileInfo read_as_;  // the file being cleaned as it was opened
};

}  // namespace quelix
