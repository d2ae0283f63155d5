// What the drive chooser (Drive1) offers, the same in both windows: the volumes, the folders the
// user chose besides (newest last), and "Other folder…" last, which asks for a folder to search.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/places.h"

namespace quelix {

class DriveChoices {
 public:
  // The last entry's text (UTF-8).
  static constexpr char kOtherFolder[] = "Other folder\u2026";

  void SetVolumes(std::vector<Volume> volumes) { volumes_ = std::move(volumes); }

  // The entries' texts in list order, "Other folder…" last: a caption or a path is shown with
  // its control characters and invalid bytes escaped, as every name.
  std::vector<std::string> Texts() const;
  // The index of the entry whose search root is `root` (the last such); 0 where none has it.
  size_t IndexOf(const std::string& root) const;
  // The search root of the entry at `index`; "" for "Other folder…" and beyond.
  std::string RootAt(size_t index) const;
  bool IsOtherFolder(size_t index) const { return index == volumes_.size() + folders_.size(); }
  // Adds `folder`, chosen with "Other folder…", as the newest; one chosen before moves there.
  void AddFolder(const std::string& folder);

 private:
  std::vector<Volume> volumes_;
  std::vector<std::string> folders_;
};

}  // namespace quelix
