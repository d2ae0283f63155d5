// Listing folders is most of the search's own work: on a warm disk the system calls that read
// them, on a cold one the waits for the storage, one folder after another. Helper threads list
// the folders the walk comes to next, a bounded number ahead of it and several at once, and hand
// each listing to the walk when it comes to that folder. The walk reports, yields and lists
// candidates from what it is handed exactly as from a listing of its own, in its own order: all
// a user sees still comes from the walk alone.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "engine/tree.h"
#include "platform/file_system.h"

namespace quelix {

// What one listing of a folder gave the search, compactly. Names hold no NUL (a name is cut at
// its first), which ends each one here.
struct FolderListing {
  // Beside the patterns' bits in a match's mask: the listing gave the entry as a regular file.
  static constexpr uint8_t kListedRegular = 0x80;

  Status opened;               // where not ok, the folder could not be opened, nor listed
  Status listed;               // where not ok, the listing stopped; the entries before it stand
  std::string subdirectories;  // each name followed by a NUL
  size_t subdirectory_count = 0;
  // For each entry that matches a pattern: its mask (kPatterns' bits and kListedRegular), then
  // its name and a NUL.
  std::string matches;
  size_t entries = 0;  // the entries looked at: not "." or "..", and not left out

  size_t bytes() const { return subdirectories.size() + matches.size(); }
};

// Cuts `OriginalStr` at its first NUL, in place, and returns it.
std::string& StripNulls(std::string& OriginalStr);

// Whether the search leaves out `name`, an entry of the folder `folder` (its path below the
// root, ending in `separator`, or empty for the root): `exclude` is given the entry's path below
// the root with its names joined by '/'.
using Exclusion = std::function<bool(const std::string& relative)>;
bool ExcludedEntry(const Exclusion& exclude, const std::string& folder, const std::string& name,
                   char separator);

// Takes `entry` of the folder `folder` (as for ExcludedEntry) into `listing`, as the walk does.
void TakeEntry(const DirEntry& entry, const Exclusion& exclude, const std::string& folder,
               char separator, FolderListing* listing);

class FolderReadAhead {
 public:
  // How many folders the helpers list ahead of the walk at most, and the bytes of listings they
  // hold for it at most; how deep below the root they go; how many list at once: on a warm disk
  // as many as there are processors beside the walk's, on a cold one more (the storage serves
  // several requests at a time).
  static constexpr size_t kLead = 256;
  static constexpr size_t kMostHeldBytes = 16u << 20;
  // The bytes the folders queued to list may take at most (their paths and places): a folder of
  // a million subfolders deep down would take gigabytes. Subfolders beyond it the walk lists
  // itself.
  static constexpr size_t kMostQueuedBytes = 8u << 20;
  static constexpr size_t kMaxDepth = 64;
  static constexpr size_t kListersWarm = 2;
  static constexpr size_t kListersCold = 4;
  // A listing whose first entry took longer than this, and that read from the storage (where
  // the OS tells), waited for it: the disk is cold.
  static constexpr std::chrono::milliseconds kSlowListing{2};
  // How many entries a helper looks at between telling the walk how far it is, and looking
  // whether it is to stop.
  static constexpr size_t kProgressStep = 256;

  // Starts listing below the root of `tree`, in the walk's order: a folder's subfolders before
  // the folders that come after it, in listing order, leaving out what `exclude` (which must
  // outlive this) holds true for. Without a thread or a handle of the root to be had, none list.
  FolderReadAhead(SearchedTree& tree, const Exclusion& exclude,
                  size_t most_queued_bytes = kMostQueuedBytes);
  // Stops the helpers and waits for them: they hold no folder open afterwards.
  ~FolderReadAhead();
  FolderReadAhead(const FolderReadAhead&) = delete;
  FolderReadAhead& operator=(const FolderReadAhead&) = delete;

  size_t listers() const { return listers_.size(); }
  // The listing of the folder at `relative` below the root (its names joined by the separator;
  // "" for the root), waiting for it where a helper is to list it. False where no helper lists
  // it (deeper than kMaxDepth, or not found in its folder's listing): the walk lists it itself.
  bool Take(const std::string& relative, FolderListing* listing) {
    size_t turns = 0;
    return Take(relative, listing, nullptr, &turns);
  }
  // The same, giving the window a turn by `turn` for each entry the helper has looked at while
  // the walk waits (as the walk's own listing would), counted in `*turns`. Where `turn` returns
  // false the walk waits no longer: true, with the listing left empty.
  bool Take(const std::string& relative, FolderListing* listing, const std::function<bool()>& turn,
            size_t* turns);
  // Whether a helper's listing waited for the storage.
  bool SlowListingSeen() const { return slow_listing_seen_.load(std::memory_order_relaxed); }
  // More helpers, for a cold disk.
  void GoCold();

 private:
  // A folder still to list, by its place in the walk's order: the positions, among their
  // folders' subfolders, of the folders on its way down from the root. The walk goes depth first
  // in listing order, so places compare as the walk comes to them.
  struct Pending {
    std::vector<uint32_t> place;
    std::string relative;  // below the root
  };
  struct ComesLater {
    bool operator()(const Pending& a, const Pending& b) const { return a.place > b.place; }
  };
  struct Handed {
    bool started = false;  // a helper took it from the queue
    bool done = false;
    size_t seen = 0;          // entries looked at so far, every kProgressStep
    size_t queued_bytes = 0;  // of the folder's place in the queue and here
    FolderListing listing;
  };

  void StartListers(size_t wanted);
  void Run(std::unique_ptr<Directory> root);
  // Waits for the next folder to list; false when the helpers are to stop or all is listed.
  bool Next(Pending* next);
  // Lists `folder` below `root`; `storage_reads`: what this thread had read from the storage at
  // its last look.
  void ListOne(Directory& root, const Pending& folder, std::optional<uint64_t>* storage_reads,
               FolderListing* listing);
  // Tells the walk that `entries` of `folder` were looked at; false where the helpers stop.
  bool Progress(const Pending& folder, size_t entries);
  // Waits until `waited` is listed or more of it was looked at than `turns`.
  void AwaitProgress(std::unique_lock<std::mutex>& lock, const Handed& waited, size_t turns);
  // Hands `listing` over and queues the subfolders in it.
  void Listed(const Pending& folder, FolderListing listing);

  SearchedTree& tree_;
  const Exclusion& exclude_;
  const char separator_;
  const size_t most_queued_bytes_;
  std::atomic<bool> slow_listing_seen_{false};

  std::mutex mutex_;
  std::condition_variable changed_;  // for the helpers
  std::condition_variable handed_;   // for the walk
  size_t walk_taken_ = 0;
  size_t helpers_listed_ = 0;
  size_t held_bytes_ = 0;
  size_t queued_bytes_ = 0;
  // The folder the walk waits for, while it waits: until a helper takes it, helpers list
  // whatever the lead and the bytes held (nothing in the queue comes before it).
  const Handed* waited_ = nullptr;
  size_t listing_ = 0;  // folders a helper is listing now
  bool stop_ = false;
  std::priority_queue<Pending, std::vector<Pending>, ComesLater> pending_;
  // Every folder queued and not yet taken by the walk, by its path below the root.
  std::unordered_map<std::string, Handed> handed_over_;
  std::vector<std::thread> listers_;
};

}  // namespace quelix
