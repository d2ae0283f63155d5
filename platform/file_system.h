// The file services the program needs from the operating system, behind one interface. The real
// backends live in posix/ and win32/; tests wrap or replace them. Paths are byte strings handed to
// the OS unchanged (the Windows build runs with the UTF-8 code page).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/status.h"

namespace quelix {

// One entry of a directory listing, never "." or "..".
struct DirEntry {
  std::string name;
  // True for a directory the walk may enter: not a symbolic link, junction or other reparse
  // point, and on the same volume as the directory listed.
  bool is_directory = false;
  // The platform's attribute word: on Windows the file attributes, on POSIX the mode bits.
  uint32_t attributes = 0;
};

// What is held and given back when a file is rewritten.
struct FileAttributes {
  // Windows: the attribute word (read-only 0x1, hidden 0x2, system 0x4, archive 0x20, ...).
  // POSIX: the permission bits of the mode (07777).
  uint32_t word = 0;
  // POSIX owner and group; -1 where the platform has none.
  int64_t owner = -1;
  int64_t group = -1;
  // The Windows attribute word of a file on an NTFS volume mounted on Linux, where readable.
  std::optional<uint32_t> windows_word;

  bool operator==(const FileAttributes&) const = default;
};

struct FileInfo {
  bool is_regular = false;
  bool is_directory = false;
  bool is_link = false;  // symbolic link, junction or other reparse point
  uint64_t size = 0;
  int64_t modified_ns = 0;
  uint64_t volume = 0;   // device number or volume serial number
  uint64_t file_id = 0;  // inode or file index
  FileAttributes attributes;
};

enum class OpenMode {
  kRead,           // an existing regular file, from its start
  kWriteTruncate,  // create, or empty an existing file
  kWriteNew,       // create; fails with kAlreadyExists when the name is taken
  kAppend,         // create when absent; every write lands at the end
};

// An open file. Destroying it closes it and discards any error; call Close() to see one.
class File {
 public:
  virtual ~File() = default;
  // Reads up to `capacity` bytes; `*got` is 0 only at the end of the file.
  virtual Status Read(char* buffer, size_t capacity, size_t* got) = 0;
  // Writes all `size` bytes or fails.
  virtual Status Write(const char* data, size_t size) = 0;
  // Moves back to the start of the file (read mode).
  virtual Status Rewind() = 0;
  // Returns once everything written is on the storage device.
  virtual Status Sync() = 0;
  virtual Status Close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The path separator: '\\' on Windows, '/' elsewhere.
  virtual char Separator() const = 0;

  // Calls `visit` for every entry of directory `dir` (which ends in the separator), in the order
  // the OS lists them, until `visit` returns false. Fails when the directory cannot be listed;
  // entries already visited stay visited.
  virtual Status ListDirectory(const std::string& dir,
                               const std::function<bool(const DirEntry&)>& visit) = 0;

  virtual Status Open(const std::string& path, OpenMode mode, std::unique_ptr<File>* file) = 0;

  // Describes `path` itself: a final symbolic link is reported as a link, not followed.
  virtual Status GetInfo(const std::string& path, FileInfo* info) = 0;

  // Gives `path` the attributes held earlier; on POSIX the owner only where permitted.
  virtual Status SetAttributes(const std::string& path, const FileAttributes& attributes) = 0;

  // Moves `source` over `target` in one atomic step, replacing it (also when it is read-only), and
  // makes the change durable. On Windows neither file may be open, not even by this program:
  // close them first, or the move fails and both stay as they were.
  virtual Status Replace(const std::string& source, const std::string& target) = 0;

  virtual Status Remove(const std::string& path) = 0;
};

// The backend of the platform the program was built for.
std::unique_ptr<FileSystem> CreateNativeFileSystem();

}  // namespace quelix
