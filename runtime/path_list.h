// An ordered list of paths, kept compactly: the paths of one folder that follow each other keep
// that folder's path once, with only their names beside it. A list of a million candidates then
// takes about what their names take, not a string object and a copy of the folder each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
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
  // Where a folder's path or a name is kept: in block `at >> 32`, from byte `at & 0xffffffff`.
  struct Piece {
    uint64_t at;
    uint32_t size;
  };
  // A name and its folder in 16 bytes, a Piece and an index laid out flat.
  struct Entry {
    uint64_t name_at;
    uint32_t name_size;
    uint32_t folder;  // in folders_
  };
  Piece Keep(std::string_view bytes);
  std::string_view View(const Piece& piece) const;

  // The bytes are kept in blocks that are never moved, and the pieces in deques: a list that grows
  // never holds its old and its new room at once, as a vector that doubles does, and never more
  // than a block of room it does not use.
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::vector<size_t> block_sizes_;
  size_t used_in_last_ = 0;
  std::deque<Piece> folders_;
  std::deque<Entry> entries_;
};

}  // namespace quelix
