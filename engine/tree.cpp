#include "engine/tree.h"

namespace quelix {

Status SearchedTree::Open(const std::string& root) {
  identity_ = TreeIdentity{root};
  root_dir_.reset();
  only_file_.clear();
  ForgetFolders();
  std::string absolute;
  std::unique_ptr<Directory> dir;
  FileInfo info;
  Status status = fs_.Absolute(root, &absolute);
  if (status.ok()) TakeOneFile(&absolute);
  if (status.ok()) status = fs_.OpenDirectory(absolute, &dir);
  if (status.ok()) status = dir->GetInfo(&info);
  open_status_ = status;
  if (!status.ok()) return status;
  if (absolute.empty() || absolute.back() != fs_.Separator()) absolute += fs_.Separator();
  identity_ = {absolute, info.volume, info.file_id};
  root_dir_ = std::move(dir);
  return status;
}

void SearchedTree::TakeOneFile(std::string* absolute) {
  std::string path = *absolute;
  while (path.size() > 1 && path.back() == fs_.Separator()) path.pop_back();
  const size_t last = path.rfind(fs_.Separator());
  FileInfo info;
  if (last == std::string::npos || last + 1 == path.size()) return;
  if (!fs_.GetInfo(path, &info).ok() || !info.is_regular) return;
  // The file is looked up again below its folder when it is read, never through a link.
  only_file_ = path.substr(last + 1);
  *absolute = path.substr(0, last + 1);
}

void SearchedTree::ForgetFolders() {
  folder_.clear();
  folder_dir_.reset();
}

Status SearchedTree::Split(const std::string& path, std::string* folder, std::string* name) const {
  const std::string& root = identity_.path;
  if (!root_dir_ || path.size() <= root.size() || path.compare(0, root.size(), root) != 0) {
    return {ErrorCode::kNotFound, path + ": not in the searched folder"};
  }
  const size_t last = path.rfind(fs_.Separator());
  if (last == std::string::npos || last + 1 < root.size()) {
    *folder = "";
    *name = path.substr(root.size());
  } else {
    *folder = path.substr(root.size(), last + 1 - root.size());
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

Status SearchedTree::OpenForReading(const std::string& path, std::unique_ptr<File>* file,
                                    bool listed_regular) {
  std::string folder;
  std::string name;
  Status status = Split(path, &folder, &name);
  if (!status.ok()) return status;
  Directory* dir = root_dir_.get();
  // A page the listing gave as a regular file is opened from the root in one step where the
  // backend can: the candidates of one folder mostly come in several runs (one for each pattern),
  // and opening the folder again for every run cost two calls more than the page's own open.
  // A path too long for one step is not: it would be walked name by name for every page, so
  // that a folder of many pages far down would cost its depth in calls for each of them.
  const std::string relative = path.substr(identity_.path.size());
  if (listed_regular && !folder.empty() && folder != folder_ &&
      dir->OpensNestedPathAtOnce(relative)) {
    return dir->OpenListedFile(relative, file);
  }
  if (!folder.empty() && (!folder_dir_ || folder != folder_)) {
    ForgetFolders();
    status = root_dir_->OpenDirectory(folder, &folder_dir_);
    if (!status.ok()) return status;
    folder_ = folder;
  }
  if (!folder.empty()) dir = folder_dir_.get();
  return listed_regular ? dir->OpenListedFile(name, file)
                        : dir->OpenFile(name, OpenMode::kRead, file);
}

bool SearchedTree::OpensInOneStep(const std::string& path, bool listed_regular,
                                  std::string* relative) const {
  std::string folder;
  std::string name;
  if (!listed_regular || !Split(path, &folder, &name).ok()) return false;
  *relative = path.substr(identity_.path.size());
  return root_dir_->OpensNestedPathAtOnce(*relative);
}

}  // namespace quelix
