#include "platform/file_system.h"

#include <algorithm>
#include <vector>

namespace quelix {

bool SameFileUnchanged(const FileInfo& a, const FileInfo& b) {
  return a.volume == b.volume && a.file_id == b.file_id && a.size == b.size &&
         a.modified_ns == b.modified_ns;
}

std::string JoinPath(const std::string& folder, const std::string& name, char separator) {
  if (folder.empty()) return name;
  if (folder.back() == separator) return folder + name;
  return folder + separator + name;
}

Status File::SkipHole(uint64_t* skipped) {
  *skipped = 0;
  return Status::Ok();
}

Status File::WriteHole(uint64_t length) {
  const std::vector<char> zeros(static_cast<size_t>(std::min<uint64_t>(length, 64 * 1024)), 0);
  while (length > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(length, zeros.size()));
    const Status status = Write(zeros.data(), n);
    if (!status.ok()) return status;
    length -= n;
  }
  return Status::Ok();
}

void Directory::OpenListedFiles(const std::vector<std::string>& names,
                                std::vector<OpenedFile>* opened) {
  opened->resize(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    (*opened)[i].status = OpenListedFile(names[i], &(*opened)[i].file);
  }
}

void Directory::CloseReadFiles(std::vector<std::unique_ptr<File>>* files) {
  for (std::unique_ptr<File>& file : *files) {
    if (file) IgnoreResult(file->Close(), "a file only read loses nothing when its close fails");
  }
  files->clear();
}

}  // namespace quelix
