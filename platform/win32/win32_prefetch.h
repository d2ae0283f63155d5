// A read of a file's start, queued on a second handle of the same file, so that Windows fetches
// it from the disk while the program works on another file; the data lands in the system's cache,
// where the program's own read then finds it.
#pragma once

#include <windows.h>

#include <memory>

#include "platform/win32/win32_handles.h"

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
  // Declared in this order so that the event is closed before the handle, as the read needs both
  // until ~Prefetch has waited for it.
  Handle handle_;
  Handle event_;
  OVERLAPPED overlapped_{};
  std::unique_ptr<char[]> buffer_;
  bool pending_ = false;
};

}  // namespace quelix::win32
