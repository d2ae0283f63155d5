// A read of a file's start, queued on a second handle of the same file, so that Windows fetches
// it from the disk while the program works on another file; the data lands in the system's cache,
// where the program's own read then finds it.
#pragma once

#include <windows.h>

#include <memory>

namespace quelix::win32 {

class Prefetch {
 public:
  Prefetch() = default;
  ~Prefetch();
  Prefetch(const Prefetch&) = delete;
  Prefetch& operator=(const Prefetch&) = delete;

  // Starts reading the start of the file open on `file`. False where Windows cannot (a volume
  // without asynchronous reads): the program then reads as it would have anyway.
  bool Start(HANDLE file);

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
  OVERLAPPED overlapped_{};
  std::unique_ptr<char[]> buffer_;
  bool pending_ = false;
};

}  // namespace quelix::win32
