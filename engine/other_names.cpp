#include "engine/other_names.h"

#include <memory>
#include <unordered_set>

#include "engine/search.h"

namespace quelix {
namespace {

class NameWalk {
 public:
  NameWalk(const LeftOut& left_out, const std::function<bool()>& keep_going,
           std::vector<OtherNamesLeft>& left)
      : left_out_(left_out), keep_going_(keep_going), left_(left) {
    for (const OtherNamesLeft& l : left_) {
      wanted_.insert(l.file_id);
      missing_ += l.elsewhere();
    }
  }

  // False where the walk was told to stop.
  bool Walk(Directory& dir, int depth) {
    std::vector<std::string> folders;
    std::vector<std::string> named;  // entries whose file number is an original's
    bool going = true;
    // A folder that cannot be listed gives what it gave before failing; the walk goes on.
    IgnoreResult(dir.List([&](const DirEntry& entry) {
      if (left_out_ && left_out_(dir.path(), entry.name)) return true;
      if (entry.is_directory) {
        folders.push_back(entry.name);
      } else if (entry.file_id != 0 && wanted_.count(entry.file_id) > 0) {
        named.push_back(entry.name);
      }
      going = keep_going_();
      return going;
    }),
                 "a folder not listed only hides names, which are then counted elsewhere");
    if (!going) return false;
    for (const std::string& name : named) Confirm(dir, name);
    for (const std::string& name : folders) {
      if (missing_ == 0) return true;
      std::unique_ptr<Directory> child;
      if (depth >= CandidateSearch::kMaxDepth || !dir.OpenDirectory(name, &child).ok()) continue;
      if (!Walk(*child, depth + 1)) return false;
    }
    return true;
  }

  bool done() const { return missing_ == 0; }

 private:
  // Takes `name` where it is one of the originals.
  void Confirm(Directory& dir, const std::string& name) {
    std::unique_ptr<File> file;
    FileInfo info;
    if (!dir.OpenFile(name, OpenMode::kRead, &file).ok() || !file->GetInfo(&info).ok()) return;
    for (OtherNamesLeft& l : left_) {
      if (info.volume != l.volume || info.file_id != l.file_id || l.elsewhere() == 0) continue;
      l.below.push_back(dir.path() + name);
      --missing_;
      return;
    }
  }

  const LeftOut& left_out_;
  const std::function<bool()>& keep_going_;
  std::vector<OtherNamesLeft>& left_;
  std::unordered_set<uint64_t> wanted_;
  uint64_t missing_ = 0;
};

}  // namespace

bool FindOtherNames(Directory& root, const LeftOut& left_out,
                    const std::function<bool()>& keep_going, std::vector<OtherNamesLeft>* left) {
  NameWalk walk(left_out, keep_going, *left);
  if (walk.done()) return true;
  return walk.Walk(root, 0);
}

}  // namespace quelix
