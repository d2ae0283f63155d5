#include "engine/tree.h"

namespace quelix {

Status SearchedTree::Open(const std::string& root) {
  root_ = root;
  root_dir_.reset();
  ForgetFolders();
  return fs_.OpenDirectory(root, &root_dir_);
}

void SearchedTree::ForgetFolders() {
  folder_.clear();
  folder_dir_.reset();
}

Status SearchedTree::Split(const std::string& path, std::string* folder, std::string* name) const {
  if (!root_dir_ || path.size() <= root_.size() || path.compare(0, root_.size(), root_) != 0) {
    return {ErrorCode::kNotFound, path + ": not in the searched folder"};
  }
  const size_t last = path.rfind(fs_.Separator());
  if (last == std::string::npos || last + 1 < root_.size()) {
    *folder = "";
    *name = path.substr(root_.size());
  } else {
    *folder = path.substr(root_.size(), last + 1 - root_.size());
    *name = path.substr(last + 1);
  }
  if (!folder->empty()) folder->pop_back();  // the separator
  return Status::Ok();
}

Status SearchedTree::OpenParent(const std::string& path, std::unique_ptr<Directory>* dir,
                                std::string* name) {
  std::string folder;
  Status status = Split(path, &folder, name);
  if (!status.ok()) return status;
  return root_dir_->OpenDirectory(folder, dir);
}

Status SearchedTree::OpenForReading(const std::string& path, std::unique_ptr<File>* file) {
  std::string folder;
  std::string name;
  Status status = Split(path, &folder, &name);
  if (!status.ok()) return status;
  if (folder.empty()) return root_dir_->OpenFile(name, OpenMode::kRead, file);
  if (!folder_dir_ || folder != folder_) {
    ForgetFolders();
    status = root_dir_->OpenDirectory(folder, &folder_dir_);
    if (!status.ok()) return status;
    folder_ = folder;
  }
  return folder_dir_->OpenFile(name, OpenMode::kRead, file);
}

}  // namespace quelix
