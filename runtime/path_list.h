// An ordered list of paths, kept compactly: the paths of one folder that follow each other keep
// that folder's path once, with only their names beside it. A list of a million candidates then
// takes about what their names take, not a string object and a copy of the folder each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quelix {

class PathList {
 public:
  // Appends `path`; it is given back byte for byte, whatever separators it holds.
  void Append(std::string_view path);
  void Clear();
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  // The path at `index` (below size()), whole.
  std::string at(size_t index) const;
  std::string operator[](size_t index) const { return at(index); }
  // The bytes the list holds on to, room for more included.
  size_t memory_bytes() const;

 private:
  struct Entry {
    uint64_t name_start;  // in names_
    uint32_t name_size;
    uint32_t folder;  // in folder_starts_
  };
  std::string_view Folder(size_t index) const;

  std::string folders_;  // every folder's path, one after another
  std::vector<uint64_t> folder_starts_;
  std::string names_;
  std::vector<Entry> entries_;
};

}  // namespace quelix
