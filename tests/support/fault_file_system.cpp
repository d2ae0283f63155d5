#include "tests/support/fault_file_system.h"

#include <algorithm>

namespace quelix {
namespace {

class FaultFile : public File {
 public:
  FaultFile(FaultFileSystem& fs, std::unique_ptr<File> real, std::string path)
      : fs_(fs), real_(std::move(real)), path_(std::move(path)) {}

  Status Read(char* buffer, size_t capacity, size_t* got) override {
    if (auto failed = fs_.Enter(FsOp::kRead, path_)) return *failed;
    return real_->Read(buffer, capacity, got);
  }
  Status Write(const char* data, size_t size) override {
    if (auto failed = fs_.Enter(FsOp::kWrite, path_)) return *failed;
    return real_->Write(data, size);
  }
  // Holes are passed on uncounted, so that the numbering of the calls stays the same for files
  // with and without them.
  Status SkipHole(uint64_t* skipped) override { return real_->SkipHole(skipped); }
  Status WriteHole(uint64_t length) override { return real_->WriteHole(length); }
  Status Rewind() override {
    if (auto failed = fs_.Enter(FsOp::kRewind, path_)) return *failed;
    return real_->Rewind();
  }
  Status Sync() override {
    if (auto failed = fs_.Enter(FsOp::kSync, path_)) return *failed;
    return real_->Sync();
  }
  Status Close() override {
    // The file is released either way, as a real close does.
    Status closed = real_->Close();
    if (auto failed = fs_.Enter(FsOp::kClose, path_)) return *failed;
    return closed;
  }
  Status GetInfo(FileInfo* info) override {
    if (auto failed = fs_.Enter(FsOp::kGetInfo, path_)) return *failed;
    return real_->GetInfo(info);
  }
  void WillNeed() override { real_->WillNeed(); }
  Status CopyMetadataTo(File& copy, std::vector<std::string>* lost) override {
    if (auto failed = fs_.Enter(FsOp::kCopyMetadata, path_)) return *failed;
    return real_->CopyMetadataTo(Unwrap(copy), lost);
  }

  static File& Unwrap(File& file) { return *static_cast<FaultFile&>(file).real_; }
  static std::unique_ptr<File> Release(std::unique_ptr<File> file) {
    return std::move(static_cast<FaultFile&>(*file).real_);
  }

 private:
  FaultFileSystem& fs_;
  std::unique_ptr<File> real_;
  std::string path_;
};

class FaultDirectory : public Directory {
 public:
  FaultDirectory(FaultFileSystem& fs, std::unique_ptr<Directory> real)
      : fs_(fs), real_(std::move(real)) {}

  const std::string& path() const override { return real_->path(); }

  Status List(const std::function<bool(const DirEntry&)>& visit) override {
    if (auto failed = fs_.Enter(FsOp::kList, path())) return *failed;
    if (!fs_.listed_entry) return real_->List(visit);
    return real_->List([&](const DirEntry& entry) {
      fs_.listed_entry(path(), entry);
      return visit(entry);
    });
  }
  Status OpenDirectory(const std::string& relative, std::unique_ptr<Directory>* dir) override {
    if (auto failed = fs_.Enter(FsOp::kOpenDirectory, path() + relative)) return *failed;
    std::unique_ptr<Directory> real;
    Status status = real_->OpenDirectory(relative, &real);
    if (status.ok()) *dir = std::make_unique<FaultDirectory>(fs_, std::move(real));
    return status;
  }
  Status OpenFile(const std::string& relative, OpenMode mode,
                  std::unique_ptr<File>* file) override {
    if (auto failed = fs_.Enter(FsOp::kOpen, path() + relative)) return *failed;
    std::unique_ptr<File> real;
    Status status = real_->OpenFile(relative, mode, &real);
    if (status.ok()) *file = std::make_unique<FaultFile>(fs_, std::move(real), path() + relative);
    return status;
  }
  Status Replace(std::unique_ptr<File> original, const std::string& name,
                 std::unique_ptr<File> copy, const std::string& copy_name) override {
    if (auto failed = fs_.Enter(FsOp::kReplace, path() + name)) {
      IgnoreResult(real_->Remove(FaultFile::Release(std::move(copy)), copy_name),
                   "the injected fault is what is told");
      return *failed;
    }
    return real_->Replace(FaultFile::Release(std::move(original)), name,
                          FaultFile::Release(std::move(copy)), copy_name);
  }
  Status Remove(std::unique_ptr<File> file, const std::string& name) override {
    if (auto failed = fs_.Enter(FsOp::kRemove, path() + name)) return *failed;
    return real_->Remove(FaultFile::Release(std::move(file)), name);
  }
  Status Sync() override {
    if (auto failed = fs_.Enter(FsOp::kSync, path())) return *failed;
    return real_->Sync();
  }
  Status GetInfo(FileInfo* info) override { return real_->GetInfo(info); }
  bool UsableFromAnotherThread() const override {
    return fs_.shared_with_helpers && real_->UsableFromAnotherThread();
  }
  Status FreeSpace(uint64_t* free, uint64_t* total) override {
    if (auto failed = fs_.Enter(FsOp::kGetInfo, path())) return *failed;
    const Status status = real_->FreeSpace(free, total);
    if (status.ok() && fs_.space_at) fs_.space_at(path(), free, total);
    return status;
  }

 private:
  FaultFileSystem& fs_;
  std::unique_ptr<Directory> real_;
};

}  // namespace

void FaultFileSystem::FailCall(int n, ErrorCode code) {
  inject = [n, code](const FsCall& call) -> std::optional<ErrorCode> {
    if (call.number == n) return code;
    return std::nullopt;
  };
}

int FaultFileSystem::Count(FsOp op) const {
  return static_cast<int>(
      std::count_if(calls.begin(), calls.end(), [op](const FsCall& c) { return c.op == op; }));
}

std::optional<Status> FaultFileSystem::Enter(FsOp op, const std::string& path) {
  const std::lock_guard<std::mutex> lock(calls_mutex_);
  calls.push_back({static_cast<int>(calls.size()) + 1, op, path});
  if (before) before(calls.back());
  if (!inject) return std::nullopt;
  if (const auto code = inject(calls.back())) {
    return Status(*code, path + ": injected " + Describe(*code));
  }
  return std::nullopt;
}

Status FaultFileSystem::OpenDirectory(const std::string& path, std::unique_ptr<Directory>* dir) {
  if (auto failed = Enter(FsOp::kOpenDirectory, path)) return *failed;
  std::unique_ptr<Directory> real;
  Status status = real_.OpenDirectory(path, &real);
  if (status.ok()) *dir = std::make_unique<FaultDirectory>(*this, std::move(real));
  return status;
}

Status FaultFileSystem::Open(const std::string& path, OpenMode mode, std::unique_ptr<File>* file) {
  if (auto failed = Enter(FsOp::kOpen, path)) return *failed;
  std::unique_ptr<File> real;
  Status status = real_.Open(path, mode, &real);
  if (status.ok()) *file = std::make_unique<FaultFile>(*this, std::move(real), path);
  return status;
}

Status FaultFileSystem::GetInfo(const std::string& path, FileInfo* info) {
  if (auto failed = Enter(FsOp::kGetInfo, path)) return *failed;
  return real_.GetInfo(path, info);
}

Status FaultFileSystem::SetAttributes(const std::string& path, const FileAttributes& attributes) {
  if (auto failed = Enter(FsOp::kSetAttributes, path)) return *failed;
  return real_.SetAttributes(path, attributes);
}

Status FaultFileSystem::Remove(const std::string& path) {
  if (auto failed = Enter(FsOp::kRemove, path)) return *failed;
  return real_.Remove(path);
}

}  // namespace quelix
