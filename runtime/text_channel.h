// The state of one channel of TextFiles, and the byte tests its readers share: seen only by the
// files that make up TextFiles.
#pragma once

#include <memory>
#include <vector>

#include "runtime/text_files.h"

namespace quelix {

struct TextFiles::Channel {
  std::unique_ptr<File> file;
  bool input = false;
  std::vector<char> buffer;  // kept across opens of the same channel
  size_t pos = 0;            // input: next unread byte
  size_t len = 0;            // input: bytes in the buffer; output: bytes waiting to be written
  bool eof = false;          // input: the file has no more bytes beyond the buffer
  bool mid_line = false;     // input: ReadLinePart stopped inside a line
  // input: Contains read ahead and the file goes back to its start before the next read. Most
  // files Contains reads are closed right after it, so they never pay for going back.
  bool rewind_pending = false;
  // input: the zero bytes that the last read's one zero byte stands for, where it met a hole.
  uint64_t hole = 0;

  Status Read(char* into, size_t capacity, size_t* got, uint64_t* total) {
    if (rewind_pending) {
      Status status = file->Rewind();
      if (!status.ok()) return status;
      rewind_pending = false;
    }
    // A hole holds no line end and cannot be part of the signature or the marker line: one zero
    // byte tells every reader all it needs, however long the hole.
    Status status = file->SkipHole(&hole);
    if (status.ok() && hole > 0) {
      into[0] = '\0';
      *got = 1;
      return status;
    }
    if (status.ok()) status = file->Read(into, capacity, got);
    if (status.ok()) *total += *got;
    return status;
  }
};

inline bool IsBlank(int c) {
  return c == ' ' || c == '\t';
}
inline bool IsLineEnd(int c) {
  return c == '\r' || c == '\n';
}

}  // namespace quelix
