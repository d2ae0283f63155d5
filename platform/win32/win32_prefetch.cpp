#include "platform/win32/win32_prefetch.h"

namespace quelix::win32 {
namespace {

// As much as a page's first read takes; the system's own read-ahead follows a sequential read.
constexpr DWORD kBytes = 128 * 1024;

}  // namespace

bool Prefetch::Start(HANDLE file) {
  // A new handle of the same file, opened through the one held (never by name), for reading
  // alongside it.
  handle_ =
      Handle(ReOpenFile(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        FILE_FLAG_OVERLAPPED | FILE_FLAG_SEQUENTIAL_SCAN));
  if (!handle_.valid()) return false;
  event_ = Handle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!event_.valid()) return false;
  buffer_ = std::make_unique<char[]>(kBytes);
  overlapped_.hEvent = event_.get();
  if (ReadFile(handle_.get(), buffer_.get(), kBytes, nullptr, &overlapped_)) return true;
  pending_ = GetLastError() == ERROR_IO_PENDING;
  return pending_;
}

Prefetch::~Prefetch() {
  if (pending_) {
    // The buffer must outlive the read: wait for it, cut short where Windows allows.
    CancelIoEx(handle_.get(), &overlapped_);
    DWORD ignored = 0;
    GetOverlappedResult(handle_.get(), &overlapped_, &ignored, TRUE);
  }
  // The handles close with their owners, the event first.
}

}  // namespace quelix::win32
