#include "runtime/path_list.h"

namespace quelix {

std::string_view PathList::Folder(size_t index) const {
  const uint64_t start = folder_starts_[index];
  const uint64_t end =
      index + 1 < folder_starts_.size() ? folder_starts_[index + 1] : folders_.size();
  return std::string_view(folders_).substr(start, end - start);
}

void PathList::Append(std::string_view path) {
  // Either separator ends the folder part: the split only has to give back the same bytes.
  const size_t last = path.find_last_of("/\\");
  const size_t folder_size = last == std::string_view::npos ? 0 : last + 1;
  const std::string_view folder = path.substr(0, folder_size);
  if (folder_starts_.empty() || Folder(folder_starts_.size() - 1) != folder) {
    folder_starts_.push_back(folders_.size());
    folders_.append(folder);
  }
  const std::string_view name = path.substr(folder_size);
  entries_.push_back({names_.size(), static_cast<uint32_t>(name.size()),
                      static_cast<uint32_t>(folder_starts_.size() - 1)});
  names_.append(name);
}

void PathList::Clear() {
  // The memory goes too: a list of a large drive is not kept after it is cleared.
  std::string().swap(folders_);
  std::vector<uint64_t>().swap(folder_starts_);
  std::string().swap(names_);
  std::vector<Entry>().swap(entries_);
}

std::string PathList::at(size_t index) const {
  const Entry& entry = entries_.at(index);
  std::string path(Folder(entry.folder));
  path.append(names_, entry.name_start, entry.name_size);
  return path;
}

size_t PathList::memory_bytes() const {
  return folders_.capacity() + names_.capacity() + folder_starts_.capacity() * sizeof(uint64_t) +
         entries_.capacity() * sizeof(Entry);
}

}  // namespace quelix
