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

 private:
  FaultFileSystem& fs_;
  std::unique_ptr<File> real_;
  std::string path_;
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
  calls.push_back({static_cast<int>(calls.size()) + 1, op, path});
  if (!inject) return std::nullopt;
  if (const auto code = inject(calls.back())) {
    return Status(*code, path + ": injected " + Describe(*code));
  }
  return std::nullopt;
}

Status FaultFileSystem::ListDirectory(const std::string& dir,
                                      const std::function<bool(const DirEntry&)>& visit) {
  if (auto failed = Enter(FsOp::kList, dir)) return *failed;
  return real_.ListDirectory(dir, visit);
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

Status FaultFileSystem::Replace(const std::string& source, const std::string& target) {
  if (auto failed = Enter(FsOp::kReplace, target)) return *failed;
  return real_.Replace(source, target);
}

Status FaultFileSystem::Remove(const std::string& path) {
  if (auto failed = Enter(FsOp::kRemove, path)) return *failed;
  return real_.Remove(path);
}

}  // namespace quelix
