// Cleaning one infected file: its copy without the virus's lines takes its place in one step, or
// the file stays exactly as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "runtime/text_files.h"

namespace quelix {

struct CleanResult {
  bool cleaned = false;
  std::string reason;  // why not, for the log ("access denied", "changed since the scan")
};

class FileCleaner {
 public:
  FileCleaner(FileSystem& fs, TextFiles& files, const std::string& signature);

  // Rewrites `path` without the marker line, and without the first line from there on that is or
  // holds the signature line and everything after it (the whole file is searched for that line
  // where it has no marker line). The copy is complete and on disk, and has the original's
  // attributes, before it replaces the original; the file is then checked again the way the scan
  // checks it. `found_as`, when known, is how the scan found the file: a file that changed since
  // is left alone. Returns cleaned only when the file no longer holds the signature line.
  CleanResult CleanFile(const std::string& path, const FileInfo* found_as);

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
  Status CreateCopy(const std::string& path, std::string* copy);
  Status CopyKeptLines(const Plan& plan);
  // Writes the cleaned copy beside `path` and moves it into its place.
  Status Replace(const std::string& path, const FileInfo& before, const Plan& plan);
  // Whether `path` holds the signature as a field, read as the scan reads it.
  Status StillInfected(const std::string& path, bool* infected);

  FileSystem& fs_;
  TextFiles& files_;
  const std::string& signature_;
  const std::string marker_;
};

}  // namespace quelix
