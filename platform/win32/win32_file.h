// The Windows backend's open files, and what its parts learn and change through a handle.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_prefetch.h"

namespace quelix::win32 {

// The attributes a program may set; the others (directory, compressed, encrypted, sparse, reparse
// point) describe the file and are changed by other means or not at all.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Which file a handle is open on, and what stands at its name.
struct Identity {
  DWORD attributes = 0;
  DWORD reparse_tag = 0;  // where attributes hold FILE_ATTRIBUTE_REPARSE_POINT
  DWORD volume = 0;       // the volume serial number
  uint64_t index = 0;     // the file index, unique on its volume

  bool SameFile(const Identity& other) const {
    return volume == other.volume && index == other.index;
  }
};

// A symbolic link, junction or mount point names another file; other reparse points (data
// deduplication, cloud placeholders, compressed system files) hold the file's own data. A tag the
// file system does not report counts as a name surrogate.
bool IsNameSurrogate(DWORD attributes, DWORD tag);

bool Identify(HANDLE handle, Identity* identity);

// The FileInfo of what is open on `handle`.
Status DescribeHandle(HANDLE handle, const std::string& path, FileInfo* info);

// What a FileInfo says for these attributes and reparse tag (size, times and ids aside).
void FillKind(DWORD attributes, DWORD tag, FileInfo* info);
int64_t UnixNanoseconds(const FILETIME& time);

// Gives the file open on `handle` the settable bits of `word` (none: FILE_ATTRIBUTE_NORMAL).
Status SetAttributeWord(HANDLE handle, DWORD word, const std::string& path);

// Deletes the file open on `handle` (with DELETE access), also when it is read-only.
Status DeleteThroughHandle(HANDLE handle, const std::string& path);

// Gives the file open on `to` what the file open on `from` has besides its content (see
// File::CopyMetadataTo). Fails only when the attribute word cannot be set.
Status CopyMetadata(HANDLE from, HANDLE to, const std::string& path,
                    std::vector<std::string>* lost);

class Win32File final : public File {
 public:
  // `sparse`: a file marked sparse, whose holes are worth looking for.
  Win32File(Handle handle, std::string path, bool sparse = false)
      : handle_(std::move(handle)), path_(std::move(path)), sparse_(sparse) {}

  Status Read(char* buffer, size_t capacity, size_t* got) override;
  Status SkipHole(uint64_t* skipped) override;
  Status Write(const char* data, size_t size) override;
  Status WriteHole(uint64_t length) override;
  Status Rewind() override;
  Status Sync() override;
  Status Close() override;
  Status GetInfo(FileInfo* info) override;
  Status CopyMetadataTo(File& copy, std::vector<std::string>* lost) override;
  void WillNeed() override;

  HANDLE handle() const { return handle_.get(); }
  const std::string& path() const { return path_; }

 private:
  Handle handle_;
  std::string path_;
  std::unique_ptr<Prefetch> prefetch_;  // done with once the file is read or closed
  bool sparse_;
  bool made_sparse_ = false;  // WriteHole asked the volume for holes already
  // Where the data found by the last SkipHole ends: reads stop there.
  uint64_t data_end_ = 0;
};

// Empties the file open on `handle`: done only once it is known to be no link.
Status Truncate(HANDLE handle, const std::string& path);

}  // namespace quelix::win32
