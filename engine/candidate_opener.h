// The scan reads its candidates one after another, in list order. Opening a page costs the OS a
// lookup of every name on its path (on a cold disk also reads of folders and of the page's own
// record), a check of what was opened, and its close one call more: on a warm disk more time
// than reading the page. Where the tree allows it, helper threads open the candidates a bounded
// number ahead of the one being read, and close the ones read, while the scan reads; on a cold
// disk several opens then wait for the storage at once. Everything a user sees comes from the
// scan's own thread, in list order, with the same outcome for each candidate as one thread gives.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/tree.h"
#include "platform/file_system.h"

namespace quelix {

class CandidateOpener {
 public:
  // How many candidates beyond the one being read are opened, and their reading asked for, and
  // by how many helpers: few while opens find what they need in memory (more threads only cost
  // wake-ups there); many once one waited for the storage, which then works on many requests at
  // once, each page read while the program works on those before it. It bounds the files held
  // open too, and is itself kept within what the file system allows to be held ahead.
  static constexpr size_t kAheadWarm = 64;
  static constexpr size_t kAheadCold = 256;
  static constexpr size_t kHelpersWarm = 2;
  static constexpr size_t kHelpersCold = 16;
  // On a cold disk the search itself waits for the storage, listing folders: the candidates it
  // has found are opened, and their reading asked for, meanwhile, this many ahead at most, so
  // that the storage reads pages while the walk waits for folders.
  static constexpr size_t kAheadWhileSearching = 4096;
  // Files read are handed to a helper to close in batches of at least this many (more where the
  // lead is long): a helper otherwise wakes only for candidates to open, and where the scan opens
  // them itself (pages deeper than one step from the root, on some systems) read files would stay
  // open until the scan ends.
  static constexpr size_t kCloseBatch = 8;
  // An open that takes longer than this, and read from the storage (where the OS tells),
  // waited for it.
  static constexpr std::chrono::microseconds kSlowOpen{1000};

  // Warm, a helper opens this many candidates in one go where the file system takes several opens
  // in one call to the OS; cold, one at a time, so that none waits for a slower one's disk read.
  static constexpr size_t kOpenBatchWarm = 8;
  // Batches slower than kSlowOpen in a row that end the batching: one alone is mostly a helper
  // that lost its processor for a while, which a busy machine does now and then.
  static constexpr int kSlowBatchesToStop = 3;
  // What a helper holds of its own while it works: its handle of the root, and what the file
  // system keeps to take several opens in one call. They come out of the files the process may
  // hold ahead, as the files opened ahead do.
  static constexpr size_t kHeldByEachHelper = 2;

  using Opened = OpenedFile;

  // Opens the `count` candidates of a scan below `tree`'s root; `name_of(i)` gives the full path
  // of candidate i and `listed_regular(i)` whether the search's listing gave it as a regular
  // file. Both are called on the constructing thread only. Without helpers (a backend whose
  // folders are not to be used from other threads, or no thread to be had) every candidate is
  // opened on the calling thread, `kAheadWarm` ahead. `while_searching`: the search found the
  // disk cold and has listed `count` candidates so far (see Extend); only helpers open then.
  CandidateOpener(SearchedTree& tree, size_t count, std::function<std::string(size_t)> name_of,
                  std::function<bool(size_t)> listed_regular, bool while_searching = false);
  // Stops the helpers and waits for them; closes every file still held.
  ~CandidateOpener();
  CandidateOpener(const CandidateOpener&) = delete;
  CandidateOpener& operator=(const CandidateOpener&) = delete;

  // The list has `count` candidates now (it only grows); those within the lead are queued.
  void Extend(size_t count);
  // The next candidate in list order, opened (or why it could not be); waits for its open.
  Opened TakeNext();
  // Closes a candidate the scan has read, on a helper where there are some.
  void Done(std::unique_ptr<File> file);
  size_t helpers() const { return helpers_.size(); }

 private:
  struct Slot {
    std::string relative;  // below the root, for a helper's open; empty where opened here
    bool claimed = false;
    bool opened = false;
    // Queued while the search listed, for no helper to open: the scan's thread opens it when it
    // takes it.
    bool open_when_taken = false;
    Opened result;
  };

  // Starts helpers until there are `wanted`, as far as threads and root handles can be had and
  // their own handles leave a batch of opens' lead of the files the process may hold ahead.
  void StartHelpers(size_t wanted);
  // `wanted` candidates ahead, or as many as the files the process may hold ahead leave beside
  // the helpers' own.
  size_t Lead(size_t wanted) const;
  // Opens candidate `index` on this thread, as one thread does.
  Opened OpenHere(size_t index);
  // Where the process ran out of descriptors: stops the helpers, which let go of their own, closes
  // every file opened ahead and waiting to be closed, and opens from here on one at a time, on
  // this thread, each when the scan comes to it.
  void GiveBackAhead();
  // Where a helper's open waited for the storage: more helpers, further ahead.
  void GoCold();
  // Queues the candidates up to the lead beyond the next to take.
  void QueueAhead();
  void Run(std::unique_ptr<Directory> root);
  // Waits, `lock` held, until the front slot is opened.
  void WaitForFront(std::unique_lock<std::mutex>& lock);
  static constexpr int kSpinRounds = 4;
  static constexpr int kSpinsPerRound = 50;
  std::atomic<uint64_t> opens_done_{0};
  // Waits for slots to open (up to `most` of them, in list order, into `*claimed`) or files to
  // close; false once the helpers are to stop.
  bool ClaimWork(size_t most, std::vector<Slot*>* claimed,
                 std::vector<std::unique_ptr<File>>* to_close);
  // Opens the `claimed` slots below `root` and hands them to the scan.
  void OpenClaimed(Directory& root, const std::vector<Slot*>& claimed,
                   std::optional<uint64_t>* storage_reads);

  SearchedTree& tree_;
  size_t count_;
  std::function<std::string(size_t)> name_of_;
  std::function<bool(size_t)> listed_regular_;
  size_t next_to_queue_ = 0;
  size_t next_to_take_ = 0;
  const size_t most_ahead_;  // the lead the file system allows
  size_t ahead_;
  bool cold_ = false;
  // Until the scan takes its first candidate: the search goes on listing, and no candidate is
  // opened on its thread (one no helper opens waits in its slot for the scan).
  bool searching_;
  std::atomic<bool> slow_open_seen_{false};
  std::atomic<size_t> open_batch_{kOpenBatchWarm};
  std::atomic<int> slow_batches_in_a_row_{0};

  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable opened_;
  std::deque<Slot> slots_;      // from the next to take on, in list order
  size_t first_unclaimed_ = 0;  // in list order; slots before it are claimed
  std::vector<std::unique_ptr<File>> to_close_;
  bool stop_ = false;
  std::vector<std::thread> helpers_;
};

}  // namespace quelix
