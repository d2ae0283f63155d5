// Errors cross the platform boundary as values: a code the caller can act on and a message for
// people (the OS's own text where there is one).
#pragma once

#include <string>
#include <utility>

namespace quelix {

enum class ErrorCode {
  kOk,
  kNotFound,          // the path or one of its parents does not exist
  kAccessDenied,      // permissions, read-only file or volume
  kAlreadyExists,     // exclusive create found a file of that name
  kDiskFull,          // no space left, or quota exceeded
  kIoError,           // the device failed to read or write
  kSharingViolation,  // another program holds the file (Windows)
  kNameTooLong,       // the name or path exceeds the file system's limit
  kNotAFile,          // a directory, device, pipe or socket where a regular file was needed
  kEndOfInput,        // a read was asked for where no input remains
  kBadChannel,        // a channel number that is out of range, closed, or in the wrong mode
  kLink,              // a symbolic link, junction or other reparse point stands on the way
  kOtherVolume,       // the name leads out of the folder: onto another volume (a mount point),
                      // or, moved away while it was opened, out of the tree
  kChanged,           // someone else changed the file or its name while the program worked on it
  kTooDeep,           // a folder nested deeper than the program goes
  kTooManyOpen,       // the process (or the system) holds as many open files as it may
  kOther,
};

class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(ErrorCode code, std::string message) : code_(code), message_(std::move(message)) {}
  static Status Ok() { return {}; }

  bool ok() const { return code_ == ErrorCode::kOk; }
  ErrorCode code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  ErrorCode code_ = ErrorCode::kOk;
  std::string message_;
};

// Drops `status` on purpose: a best-effort step (a close on a failure path) whose failure would
// add nothing to the error already reported. `why` says so at the call site.
inline void IgnoreResult(const Status& status, const char* why) {
  static_cast<void>(status);
  static_cast<void>(why);
}

// A short, plain description of `code` for log entries and message boxes ("access denied").
const char* Describe(ErrorCode code);

// Why `status` failed, for people: its own message where only that tells (kOther), else the
// code's description.
std::string Reason(const Status& status);

}  // namespace quelix
