#include "runtime/path_list.h"

#include <algorithm>
#include <cstring>

namespace quelix {
namespace {

constexpr size_t kBlockSize = size_t{64} << 10;

}  // namespace

PathList::Piece PathList::Keep(std::string_view bytes) {
  if (blocks_.empty() || block_sizes_.back() - used_in_last_ < bytes.size()) {
    // A piece longer than a block (a very deep folder) gets a block of its own size.
    const size_t size = std::max(kBlockSize, bytes.size());
    blocks_.push_back(std::make_unique<char[]>(size));
    block_sizes_.push_back(size);
    used_in_last_ = 0;
  }
  const Piece piece{(static_cast<uint64_t>(blocks_.size() - 1) << 32) | used_in_last_,
                    static_cast<uint32_t>(bytes.size())};
  if (!bytes.empty()) std::memcpy(blocks_.back().get() + used_in_last_, bytes.data(), bytes.size());
  used_in_last_ += bytes.size();
  return piece;
}

std::string_view PathList::View(const Piece& piece) const {
  return {blocks_[piece.at >> 32].get() + (piece.at & 0xffffffffu), piece.size};
}

void PathList::Append(std::string_view path) {
  // Either separator ends the folder part: the split only has to give back the same bytes.
  const size_t last = path.find_last_of("/\\");
  const size_t folder_size = last == std::string_view::npos ? 0 : last + 1;
  const std::string_view folder = path.substr(0, folder_size);
  if (folders_.empty() || View(folders_.back()) != folder) folders_.push_back(Keep(folder));
  const Piece name = Keep(path.substr(folder_size));
  entries_.push_back({name.at, name.size, static_cast<uint32_t>(folders_.size() - 1)});
}

void PathList::Clear() {
  // The memory goes too: a list of a large drive is not kept after it is cleared.
  std::vector<std::unique_ptr<char[]>>().swap(blocks_);
  std::vector<size_t>().swap(block_sizes_);
  used_in_last_ = 0;
  std::deque<Piece>().swap(folders_);
  std::deque<Entry>().swap(entries_);
}

std::string PathList::at(size_t index) const {
  const Entry& entry = entries_.at(index);
  const std::string_view folder = View(folders_[entry.folder]);
  const std::string_view name = View({entry.name_at, entry.name_size});
  std::string path;
  path.reserve(folder.size() + name.size());
  path.append(folder).append(name);
  return path;
}

size_t PathList::memory_bytes() const {
  size_t bytes = blocks_.capacity() * sizeof(blocks_[0]) + block_sizes_.capacity() * sizeof(size_t);
  for (const size_t size : block_sizes_) bytes += size;
  return bytes + folders_.size() * sizeof(Piece) + entries_.size() * sizeof(Entry);
}

}  // namespace quelix
