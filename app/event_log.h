// The event log: a plain text file the program appends its entries to, one line (or two, where an
// entry holds a line break) per entry, CR LF terminated, with no header or timestamp. Entries are
// buffered; the owner flushes at the end of every command and after every cleaned file.
#pragma once

#include <string>

#include "platform/file_system.h"
#include "runtime/text_files.h"

namespace quelix {

class EventLog {
 public:
  explicit EventLog(FileSystem& fs) : fs_(fs), files_(fs) {}

  // Opens `path` for appending: created when absent, earlier entries stay. A file another user
  // owns or may write is refused (see FileSystem::CheckOwn), judged by what was opened.
  Status Open(const std::string& path);
  bool is_open() const { return open_; }
  const std::string& path() const { return path_; }

  // Appends one entry; does nothing while the log is not open. The first failure is kept.
  void Write(const std::string& entry);
  // Hands the buffered entries to the OS. A failure is kept (first_failure) rather than returned:
  // every caller reports the log's state at the end of the command, not each flush.
  void Flush();
  // Flushes and closes; the log can be opened again afterwards. A failure is kept like Flush's.
  void Close();

  // The first write, flush or close that failed since the log was opened, if any.
  const Status& first_failure() const { return first_failure_; }

 private:
  static constexpr int kChannel = 2;
  void Keep(const Status& status);

  FileSystem& fs_;
  TextFiles files_;
  bool open_ = false;
  std::string path_;
  Status first_failure_;
};

}  // namespace quelix
