// A file held in memory for the fuzz harnesses: the readers get it in reads of a chosen size, so
// that every boundary between two reads is tried.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/signature_fields.h"
#include "platform/file_system.h"
#include "runtime/text_files.h"

namespace quelix {

class MemoryFile final : public File {
 public:
  MemoryFile(std::string data, size_t read_size)
      : data_(std::move(data)), read_size_(read_size == 0 ? data_.size() + 1 : read_size) {}

  Status Read(char* buffer, size_t capacity, size_t* got) override {
    *got = std::min({capacity, read_size_, data_.size() - at_});
    std::memcpy(buffer, data_.data() + at_, *got);
    at_ += *got;
    return Status::Ok();
  }
  Status Write(const char*, size_t) override { return {ErrorCode::kAccessDenied, "read only"}; }
  Status Rewind() override {
    at_ = 0;
    return Status::Ok();
  }
  Status Sync() override { return Status::Ok(); }
  Status Close() override { return Status::Ok(); }
  Status GetInfo(FileInfo* info) override {
    *info = FileInfo{};
    info->is_regular = true;
    info->size = data_.size();
    return Status::Ok();
  }
  Status CopyMetadataTo(File&, std::vector<std::string>*) override { return Status::Ok(); }
  void WillNeed() override {}

 private:
  std::string data_;
  size_t read_size_;
  size_t at_ = 0;
};

// Splits a fuzz input into a few leading bytes that choose how it is read and the rest.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  // The next byte, or 0 once the input is used up.
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::string Take(size_t n) {
    n = std::min(n, size_ - at_);
    std::string taken(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return taken;
  }
  std::string Rest() { return Take(size_ - at_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// Whether the scan's field reader finds `signature` in `content`, read whole.
inline bool FieldReaderFinds(FileSystem& fs, const std::string& content,
                             const std::string& signature) {
  TextFiles files(fs);
  if (!files.Attach(1, std::make_unique<MemoryFile>(content, 0), true).ok()) std::abort();
  bool found = false;
  ReadSignatureFields(
      files, 1, signature, [] { return true; }, [&] { found = true; });
  return found;
}

}  // namespace quelix
