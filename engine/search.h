// The candidate search: walks the chosen drive and lists every entry whose name matches one of the
// patterns, one pattern after another.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/window.h"
#include "platform/file_system.h"

namespace quelix {

// Cuts `OriginalStr` at its first NUL, in place, and returns it.
std::string& StripNulls(std::string& OriginalStr);

class CandidateSearch {
 public:
  CandidateSearch(Window& window, FileSystem& fs) : window_(window), fs_(fs) {}

  // Clears the candidate list and fills it with every match of the drive the window shows,
  // pattern by pattern. Returns false when the window closed meanwhile.
  bool Search();

  // Appends the matches of `SearchStr` (one of kPatterns) in the tree below `path` to the
  // candidate list: a directory's matches, then each subdirectory's, in listing order. Appends the
  // separator to `path` when it lacks one. Each directory is listed once per Search; later walks
  // of the same tree replay what that listing recorded. Returns false when the window closed.
  bool FindFilesAPI(std::string& path, std::string_view SearchStr);

 private:
  struct Directory {
    bool listed = false;
    std::vector<std::string> subdirectories;
    std::vector<std::unique_ptr<Directory>> children;  // parallel to subdirectories, made lazily
    std::vector<std::pair<std::string, uint8_t>> matches;  // name, bit mask of kPatterns
  };

  bool Walk(std::string& path, uint8_t pattern_bit, Directory& dir);
  bool List(const std::string& path, Directory& dir);

  Window& window_;
  FileSystem& fs_;
  std::string recorded_root_;
  Directory root_;
};

}  // namespace quelix
