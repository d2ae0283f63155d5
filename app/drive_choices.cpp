#include "app/drive_choices.h"

#include <algorithm>

#include "runtime/shown_name.h"

namespace quelix {

std::vector<std::string> DriveChoices::Texts() const {
  std::vector<std::string> texts;
  texts.reserve(volumes_.size() + folders_.size() + 1);
  // A volume label is whatever its owner typed, a folder's name whatever its maker chose.
  for (const Volume& volume : volumes_) texts.push_back(ShownName(volume.caption));
  for (const std::string& folder : folders_) texts.push_back(ShownName(folder));
  texts.emplace_back(kOtherFolder);
  return texts;
}

size_t DriveChoices::IndexOf(const std::string& root) const {
  // A folder chosen besides that is also a volume's root is shown as the folder the user chose.
  size_t found = 0;
  for (size_t i = 0; i < volumes_.size() + folders_.size(); ++i) {
    if (RootAt(i) == root) found = i;
  }
  return found;
}

std::string DriveChoices::RootAt(size_t index) const {
  if (index < volumes_.size()) return volumes_[index].root;
  if (index - volumes_.size() < folders_.size()) return folders_[index - volumes_.size()];
  return {};
}

void DriveChoices::AddFolder(const std::string& folder) {
  std::erase(folders_, folder);
  folders_.push_back(folder);
}

}  // namespace quelix
