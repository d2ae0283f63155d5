// The file services the program needs from the operating system, behind one interface. The real
// backends live in posix/ and win32/; tests wrap or replace them. Paths are byte strings handed to
// the OS unchanged (the Windows build runs with the UTF-8 code page).
//
// The trees the program cleans belong to other people, who may change them while it works. So
// everything inside a tree is reached through a Directory the program holds open: names are
// looked up below it without following any link, junction or other reparse point, files are
// described and changed through what was opened, and a name is replaced only while it still
// names the file that was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
  // True where the listing itself says a regular file; false where it says otherwise or cannot
  // tell.
  bool is_regular_file = false;
  // The file number the listing gives (POSIX: the inode; Windows: the file id), as FileInfo's
  // file_id names it; 0 where the listing does not tell.
  uint64_t file_id = 0;
};

// The attribute word and owner of a file.
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
  // When the file's content or metadata last changed (POSIX ctime, Windows ChangeTime): a save
  // that restores the size and modification time still moves it.
  int64_t changed_ns = 0;
  uint64_t volume = 0;   // device number or volume serial number
  uint64_t file_id = 0;  // inode or file index
  uint64_t links = 1;    // the number of names (hard links) the file has
  // The bytes the volume holds for the file (POSIX: blocks of 512 bytes; Windows: the allocation
  // size). Far below `size` for a sparse file, whose holes read as zeros that take no disk space.
  // As large as can be where the platform cannot tell.
  uint64_t allocated = UINT64_MAX;
  FileAttributes attributes;
};

// True when `a` and `b` describe the same file in the same state: same volume, file id, size and
// modification time.
bool SameFileUnchanged(const FileInfo& a, const FileInfo& b);

// `name` in `folder`, joined with one `separator` (none added after one that ends `folder`). An
// empty folder is no folder: the name alone, relative as it was, never put in the root.
std::string JoinPath(const std::string& folder, const std::string& name, char separator);

enum class OpenMode {
  kRead,  // an existing regular file, from its start
  // The same, for a file that is to be replaced by a copy made from what is read: no other
  // program may write it unnoticed until it is closed or replaced. A file another program holds
  // open for writing is refused (kSharingViolation); a read that finds the file shorter or longer
  // than it was when opened fails with kChanged, and so does Directory::Replace where the file
  // changed since it was opened.
  kReadHeld,
  kWriteTruncate,  // create, or empty an existing file
  kWriteNew,       // create; fails with kAlreadyExists when the name is taken; reads back too
  kAppend,         // create when absent; every write lands at the end
};

// An open file. Destroying it closes it and discards any error; call Close() to see one.
class File {
 public:
  virtual ~File() = default;
  // Reads up to `capacity` bytes; `*got` is 0 only at the end of the file.
  virtual Status Read(char* buffer, size_t capacity, size_t* got) = 0;
  // Where the file, read from where it stands, goes on with a hole (a range the volume holds no
  // data for, which reads as zeros), moves past it to the next data or the end of the file and
  // sets `*skipped` to the zero bytes passed; elsewhere sets it to 0 and moves nothing. Costs
  // nothing for a file without holes. The next Read stops where the data ends.
  virtual Status SkipHole(uint64_t* skipped);
  // Writes all `size` bytes or fails.
  virtual Status Write(const char* data, size_t size) = 0;
  // Writes `length` zero bytes that take no room on the volume where it can do so (a hole in a
  // file written from its start), else real zeros.
  virtual Status WriteHole(uint64_t length);
  // Moves back to the start of the file (read mode).
  virtual Status Rewind() = 0;
  // Returns once everything written is on the storage device.
  virtual Status Sync() = 0;
  virtual Status Close() = 0;
  // Describes the open file itself, whatever its name names meanwhile.
  virtual Status GetInfo(FileInfo* info) = 0;
  // Tells the system that the file will be read from its start soon, so that it can start reading
  // it from the disk now, while the program works on something else. Changes nothing else.
  virtual void WillNeed() = 0;
  // Gives `copy`, a file this program created, what this file has besides its content, as far as
  // the process may set it: first the attribute word (POSIX: the mode; Windows: the attributes;
  // on an NTFS volume mounted on Linux also its Windows attributes), then the owner and group (the
  // group alone where the owner cannot be kept), extended attributes and access control lists,
  // file flags, and on Windows the security descriptor and alternate data streams. Fails only
  // when the attribute word cannot be set; every other item that could not be kept is named in
  // `*lost` ("owner", "extended attribute user.note") and the copy goes without it.
  virtual Status CopyMetadataTo(File& copy, std::vector<std::string>* lost) = 0;
};

// A file opened, or why it could not be.
struct OpenedFile {
  Status status;
  std::unique_ptr<File> file;
};

// A directory the program holds open. Relative names may hold several parts joined by the
// separator; each part is looked up below the one before, never through a link, junction or other
// reparse point, never onto another volume, never through "..".
class Directory {
 public:
  virtual ~Directory() = default;

  // The directory's path as it was opened, ending in the separator.
  virtual const std::string& path() const = 0;

  // Calls `visit` for every entry, in the order the OS lists them, until `visit` returns false.
  // Fails when the directory cannot be listed; entries already visited stay visited.
  virtual Status List(const std::function<bool(const DirEntry&)>& visit) = 0;

  // Opens the directory `relative` below this one ("" opens this one again). Fails with kLink
  // where a link stands on the way, kOtherVolume where the name leads onto another volume.
  virtual Status OpenDirectory(const std::string& relative, std::unique_ptr<Directory>* dir) = 0;

  // Opens the regular file `relative` below this one (kNotAFile for anything else, without
  // blocking on a pipe or device). kWriteNew creates it only where the name is free, for this
  // program alone.
  virtual Status OpenFile(const std::string& relative, OpenMode mode,
                          std::unique_ptr<File>* file) = 0;
  // Opens `name`, which this directory's listing gave as a regular file, as OpenFile does with
  // OpenMode::kRead; a backend may leave out what the listing told already (the type is still
  // checked on what was opened).
  virtual Status OpenListedFile(const std::string& name, std::unique_ptr<File>* file) {
    return OpenFile(name, OpenMode::kRead, file);
  }
  // Opens each of `names` as OpenListedFile does, in order: `(*opened)[i]` for `names[i]`. A
  // backend may hand the OS several opens in one call (see ListedFilesOpenedAtOnce).
  virtual void OpenListedFiles(const std::vector<std::string>& names,
                               std::vector<OpenedFile>* opened);
  // How many files OpenListedFiles opens in one call to the OS; 1 where it opens them one by one.
  virtual size_t ListedFilesOpenedAtOnce() { return 1; }
  // Closes files the program only read (opened below this directory or elsewhere): a close that
  // fails loses nothing. A backend may hand the OS several closes in one call.
  virtual void CloseReadFiles(std::vector<std::unique_ptr<File>>* files);
  // Whether OpenListedFile takes `relative`, a path of several names below this directory, in
  // one step, as cheaply as opening its folder first; where not (or where that path is too long
  // for one step), a caller opens the folder and holds it.
  virtual bool OpensNestedPathAtOnce(const std::string& /*relative*/) const { return false; }
  // Whether the directories opened from this one may be listed and opened on another thread
  // while this thread works with others: the backend shares nothing between them.
  virtual bool UsableFromAnotherThread() const { return false; }

  // Moves `copy`, which this program created here under the name `copy_name`, over `name`, in
  // one atomic step that replaces `name` also when it is read-only, and makes the change durable;
  // but only while `name` still names `original` and `copy_name` still names `copy` (else
  // kChanged). Both files are closed. On failure `name` is as it was and the copy is deleted
  // (unless its name no longer names it). Where the backend can, the original keeps a name until
  // it is known that no program wrote it, or opened it to write, after that last look; where one
  // did, the original is put back (kChanged).
  virtual Status Replace(std::unique_ptr<File> original, const std::string& name,
                         std::unique_ptr<File> copy, const std::string& copy_name) = 0;

  // Deletes `name` while it still names `file`, a file this program created here; closes it.
  virtual Status Remove(std::unique_ptr<File> file, const std::string& name) = 0;

  // Waits until the names made or changed here are on the storage device.
  virtual Status Sync() = 0;

  // Describes the directory held, whatever its path names meanwhile.
  virtual Status GetInfo(FileInfo* info) = 0;

  // The bytes free to the user and in all on the volume that holds this directory.
  virtual Status FreeSpace(uint64_t* free, uint64_t* total) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The path separator: '\\' on Windows, '/' elsewhere.
  virtual char Separator() const = 0;

  // How many files a command may hold open for reading ahead of the one it reads: well within
  // what the process may hold at once, and short where a file held open costs its owner or the
  // process more than a handle.
  virtual size_t FilesHeldAheadAllowed() const { return SIZE_MAX; }

  // How much the calling thread has had to read from the storage so far (in the OS's units), so
  // that a slow step can be told from a busy machine: only a step that read from the storage says
  // the disk is cold. Empty where the OS does not tell.
  virtual std::optional<uint64_t> StorageReadsOfThisThread() const { return std::nullopt; }

  // `path` made absolute against the current folder and lexically normalized ("." and ".."
  // parts and doubled separators taken out), without looking at the disk; on Windows "c:" means
  // the drive's root.
  virtual Status Absolute(const std::string& path, std::string* absolute) = 0;

  // Checks that no one but the user who runs the program (and the administrators) can change the
  // program's own folder `path`, or any folder above it, so that what the program finds there is
  // what it put there. POSIX: from the top down, each folder belongs to the user or to root and is
  // not writable by group or others, unless it is sticky and the next folder down is the user's
  // or root's; a link on the way counts as the next folder down, and the path goes on where it
  // leads, so the folder holding the link is checked as well as those it leads through.
  // Fails with kAccessDenied naming the first folder that does not pass (kNotFound where `path`
  // does not exist).
  virtual Status CheckOwnFolder(const std::string& path) = 0;

  // Checks that `info`, of one of the program's own files or folders (described through what
  // was opened, or a path in a folder CheckOwnFolder passed), belongs to the user who runs the
  // program and that no one else may write it, nor, with `secret`, read it. Else kAccessDenied,
  // naming `path`.
  virtual Status CheckOwn(const FileInfo& info, const std::string& path, bool secret) = 0;

  // Opens the directory at `path`, a folder the user chose: links in `path` itself are followed,
  // names looked up below it are not. On Windows "c:" means the drive's root.
  virtual Status OpenDirectory(const std::string& path, std::unique_ptr<Directory>* dir) = 0;

  // Opens one of the program's own files (the event log). A last name that is a link, and
  // anything but a regular file, is refused (kLink, kNotAFile) without blocking.
  virtual Status Open(const std::string& path, OpenMode mode, std::unique_ptr<File>* file) = 0;

  // Describes `path` itself: a final symbolic link is reported as a link, not followed.
  virtual Status GetInfo(const std::string& path, FileInfo* info) = 0;

  // Gives the program's own file `path` the attribute word and, where permitted, the owner.
  virtual Status SetAttributes(const std::string& path, const FileAttributes& attributes) = 0;

  // Deletes the program's own file `path` (also when it is read-only).
  virtual Status Remove(const std::string& path) = 0;

  // Makes the program's own folder `path` and its missing parents, each private to the user who
  // runs the program (POSIX: mode 0700; Windows: only the user and the administrators, nothing
  // inherited). Succeeds where the folder exists already.
  virtual Status CreateDirectories(const std::string& path) = 0;

  // Deletes the program's own empty folder `path`.
  virtual Status RemoveFolder(const std::string& path) = 0;

  // The bytes free to the user and in all on the volume that holds `path`.
  virtual Status FreeSpace(const std::string& path, uint64_t* free, uint64_t* total) = 0;
};

// The backend of the platform the program was built for.
std::unique_ptr<FileSystem> CreateNativeFileSystem();

}  // namespace quelix
