// More helpers list folders ahead of the walk, and others open the pages found, only once a
// listing waited for the storage. The window's turns at the walk's yields take time too, and may
// read from the storage themselves (a font, an icon): on a warm disk they start no more helpers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>

#include "app/controller.h"
#include "engine/folder_read_ahead.h"
#include "platform/registry.h"
#include "tests/support/fake_window.h"
#include "tests/support/temp_tree.h"

namespace quelix {
namespace {

size_t Threads() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<size_t>(std::distance(begin(tasks), end(tasks)));
}

uint64_t StorageReadsOfThisThread() {
  struct rusage usage {};
  ::getrusage(RUSAGE_THREAD, &usage);
  return static_cast<uint64_t>(usage.ru_inblock);
}

// Reads the start of `path` past the page cache's copy; true where that reached the storage.
bool ReadFromStorage(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const uint64_t before = StorageReadsOfThisThread();
  ::fsync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  char block[4096];
  const bool read = ::pread(fd, block, sizeof block, 0) > 0;
  ::close(fd);
  return read && StorageReadsOfThisThread() > before;
}

TEST(WarmSearchTest, TheWindowsTurnsDoNotMakeAWarmDiskLookCold) {
  // More folders than the helpers list ahead of the walk: helpers once started wait for the
  // walk to go on, and are there to be counted.
  TempTree tree;
  for (int i = 0; i < 300; ++i) tree.MakeDirectory("drive/top/" + std::to_string(i));
  tree.Write("drive/top/7/index.htm", "<p>clean</p>");
  tree.Write("font.bin", std::string(1 << 16, 'f'));
  FakeWindow window;
  window.root = tree.Path("drive");
  auto fs = CreateNativeFileSystem();
  CommandController controller(window, *fs, CreateNativeRegistry);
  controller.SetYieldInterval(std::chrono::milliseconds(0));
  const size_t threads = Threads();
  size_t threads_after_root = 0;
  bool read_storage = false;
  // The first turn, in the root's listing, draws slowly (longer than a listing that waits for
  // the storage) and reads from the storage; the second, in the next folder's, counts threads
  // (only the root's listing was judged by then, so a busy machine has little room to hold it
  // up for longer than that).
  window.on_events = [&](int turn) {
    if (turn == 1) {
      read_storage = ReadFromStorage(tree.Path("font.bin"));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (turn == 2) threads_after_root = Threads();
  };
  controller.Scan();
  window.EndHooks();
  if (!read_storage) GTEST_SKIP() << "reads here do not reach a block device";
  EXPECT_LE(threads_after_root, threads + FolderReadAhead::kListersWarm);
  EXPECT_EQ(window.candidates.size(), 1u);
}

}  // namespace
}  // namespace quelix
