// The watch on Windows: one ReadDirectoryChangesW per folder asked for, with its whole subtree,
// read through an overlapped request that is queued again after every answer. Windows tells a
// write as it happens, not at the close: the command's wait for a quiet moment covers that.
#include <windows.h>

#include <memory>

#include "platform/watcher.h"
#include "platform/win32/win32_errors.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_paths.h"

namespace quelix {
namespace {

constexpr DWORD kFilter =
    FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;
constexpr DWORD kBufferBytes = 64 * 1024;

// One folder watched with its subtree.
struct WatchedFolder {
  std::string path;  // ending in '\'
  win32::Handle dir;
  win32::Handle signal;
  OVERLAPPED request{};
  alignas(DWORD) char buffer[kBufferBytes];
};

class Win32Watcher final : public Watcher {
 public:
  Status Add(const std::string& path) override;
  Status Wait(std::chrono::milliseconds timeout, std::vector<WatchEvent>* events) override;
  size_t folders() const override { return folders_.size(); }
  std::string method() const override { return "ReadDirectoryChangesW"; }

 private:
  static bool Queue(WatchedFolder& folder);
  // Tells what the answer of `folder` holds; `bytes` 0 means the system dropped changes.
  static void Take(WatchedFolder& folder, DWORD bytes, std::vector<WatchEvent>* events);
  // Tells each file below `folder` (a folder made or moved in) as found there.
  static void ListFolder(const std::string& folder, std::vector<WatchEvent>* events, int depth);

  std::vector<std::unique_ptr<WatchedFolder>> folders_;
};

bool Win32Watcher::Queue(WatchedFolder& folder) {
  folder.request = OVERLAPPED{};
  folder.request.hEvent = folder.signal.get();
  return ReadDirectoryChangesW(folder.dir.get(), folder.buffer, kBufferBytes, TRUE, kFilter,
                               nullptr, &folder.request, nullptr) != 0;
}

Status Win32Watcher::Add(const std::string& path) {
  auto folder = std::make_unique<WatchedFolder>();
  folder->path = path;
  if (folder->path.empty() || (folder->path.back() != '\\' && folder->path.back() != '/')) {
    folder->path += '\\';
  }
  folder->dir = win32::Handle(win32::CreateFilePath(
      folder->path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED));
  if (!folder->dir.valid()) return win32::LastError(path);
  folder->signal = win32::Handle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!folder->signal.valid() || !Queue(*folder)) return win32::LastError(path);
  folders_.push_back(std::move(folder));
  return Status::Ok();
}

void Win32Watcher::ListFolder(const std::string& folder, std::vector<WatchEvent>* events,
                              int depth) {
  if (depth > 4096) return;
  WIN32_FIND_DATAW found;
  const HANDLE listing = FindFirstFileW(win32::LongForm(folder + "*").c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = win32::Narrow(found.cFileName);
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;  // never followed
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFolder(folder + name + '\\', events, depth + 1);
    } else {
      events->push_back({WatchEvent::Kind::kFound, folder, name, {}});
    }
  } while (FindNextFileW(listing, &found));
  FindClose(listing);
}

void Win32Watcher::Take(WatchedFolder& folder, DWORD bytes, std::vector<WatchEvent>* events) {
  if (bytes == 0) {
    events->push_back({WatchEvent::Kind::kMissed,
                       folder.path,
                       {},
                       "changes came faster than the system could tell them"});
    return;
  }
  for (DWORD at = 0;;) {
    const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(folder.buffer + at);
    const std::string relative =
        win32::Narrow(info->FileName, info->FileNameLength / sizeof(wchar_t));
    const size_t cut = relative.find_last_of('\\');
    const std::string where =
        folder.path + (cut == std::string::npos ? "" : relative.substr(0, cut + 1));
    const std::string name = cut == std::string::npos ? relative : relative.substr(cut + 1);
    const DWORD attributes = win32::GetAttributesPath(folder.path + relative);
    const bool is_folder =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    const bool arrived =
        info->Action == FILE_ACTION_ADDED || info->Action == FILE_ACTION_RENAMED_NEW_NAME;
    if (is_folder && arrived && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      ListFolder(folder.path + relative + '\\', events, 0);
    } else if (!is_folder && info->Action == FILE_ACTION_MODIFIED) {
      events->push_back({WatchEvent::Kind::kWritten, where, name, {}});
    } else if (!is_folder && arrived) {
      events->push_back({WatchEvent::Kind::kMovedIn, where, name, {}});
    }
    if (info->NextEntryOffset == 0) break;
    at += info->NextEntryOffset;
  }
}

Status Win32Watcher::Wait(std::chrono::milliseconds timeout, std::vector<WatchEvent>* events) {
  std::vector<HANDLE> signals;
  for (const auto& folder : folders_) signals.push_back(folder->signal.get());
  if (signals.empty()) {
    Sleep(static_cast<DWORD>(timeout.count()));
    return Status::Ok();
  }
  const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(signals.size()), signals.data(),
                                            FALSE, static_cast<DWORD>(timeout.count()));
  if (woke == WAIT_TIMEOUT) return Status::Ok();
  if (woke == WAIT_FAILED) return win32::LastError("watch");
  for (const auto& folder : folders_) {
    DWORD bytes = 0;
    if (!GetOverlappedResult(folder->dir.get(), &folder->request, &bytes, FALSE)) continue;
    Take(*folder, bytes, events);
    ResetEvent(folder->signal.get());
    if (!Queue(*folder)) {
      events->push_back({WatchEvent::Kind::kNotWatched,
                         folder->path,
                         {},
                         win32::LastError(folder->path).message()});
    }
  }
  return Status::Ok();
}

}  // namespace

std::unique_ptr<Watcher> CreateNativeWatcher() {
  return std::make_unique<Win32Watcher>();
}

}  // namespace quelix
