// The folder the last search started from, held open, and the way the commands reach the files
// their lists name: from that folder down through the folders on the way, never through a link,
// a junction or onto another volume. Someone who owns a folder below may swap any name in it for
// a link at any moment; a path string from the lists is therefore never handed to the OS whole.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/file_system.h"

namespace quelix {

// Which folder a command chose: where it is, for display and the records, and which folder it is
// (its volume and file id), so that a later command can tell whether a path still leads to it.
struct TreeIdentity {
  std::string path;  // absolute and lexically normalized, ending in the separator
  uint64_t volume = 0;
  uint64_t file_id = 0;

  bool SameFolder(const FileInfo& info) const {
    return info.is_directory && info.volume == volume && info.file_id == file_id;
  }
};

class SearchedTree {
 public:
  explicit SearchedTree(FileSystem& fs) : fs_(fs) {}

  // Opens `root` as the tree's top, in place of the one held: the one time the command names
  // its root by a path. Relative paths are taken from the current folder. Where `root` names a
  // regular file, its folder is opened as the top and only_file() names the file.
  Status Open(const std::string& root);
  // The one file of the folder that the tree is made of, where Open was given a file; else "".
  const std::string& only_file() const { return only_file_; }
  bool is_open() const { return root_dir_ != nullptr; }
  // Why the last Open failed.
  const Status& open_status() const { return open_status_; }
  char Separator() const { return fs_.Separator(); }
  std::optional<uint64_t> StorageReadsOfThisThread() const {
    return fs_.StorageReadsOfThisThread();
  }
  size_t FilesHeldAheadAllowed() const { return fs_.FilesHeldAheadAllowed(); }
  // The root's absolute path, ending in the separator, once opened; else the path as given.
  const std::string& root() const { return identity_.path; }
  const TreeIdentity& identity() const { return identity_; }
  Directory& root_directory() { return *root_dir_; }

  // Opens the folder that holds `path`, a full path below the root, afresh, and gives the file's
  // name in it. Fails with kNotFound for a path that is not below the root.
  Status OpenParent(const std::string& path, std::unique_ptr<Directory>* dir, std::string* name);

  // Opens the file at `path` for reading. Consecutive files of one folder share one lookup of
  // the folder; ForgetFolders() starts afresh. `listed_regular`: the folder's listing gave the
  // file as a regular file (Directory::OpenListedFile); such a file is opened from the root in
  // one step where the backend can (Directory::OpensNestedPathAtOnce).
  Status OpenForReading(const std::string& path, std::unique_ptr<File>* file,
                        bool listed_regular = false);
  void ForgetFolders();
  // Whether OpenForReading opens `path` from the root in one step, needing no folder the tree
  // holds; then `*relative` is the path below the root to give the root's OpenListedFile.
  bool OpensInOneStep(const std::string& path, bool listed_regular, std::string* relative) const;

 private:
  // Where `*absolute` names a regular file, makes it its folder and keeps the file's name.
  void TakeOneFile(std::string* absolute);
  // Splits `path` into the folder part below the root and the file's name.
  Status Split(const std::string& path, std::string* folder, std::string* name) const;

  FileSystem& fs_;
  TreeIdentity identity_;
  Status open_status_;
  std::unique_ptr<Directory> root_dir_;
  std::string only_file_;
  std::string folder_;  // below the root, of `folder_dir_`
  std::unique_ptr<Directory> folder_dir_;
};

}  // namespace quelix
