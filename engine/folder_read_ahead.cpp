#include "engine/folder_read_ahead.h"

#include <algorithm>
#include <cstdint>
#include <system_error>
#include <utility>

#include "engine/patterns.h"

namespace quelix {

std::string& StripNulls(std::string& OriginalStr) {
  const size_t nul = OriginalStr.find('\0');
  if (nul != std::string::npos) OriginalStr.resize(nul);
  return OriginalStr;
}

bool ExcludedEntry(const Exclusion& exclude, const std::string& folder, const std::string& name,
                   char separator) {
  if (!exclude) return false;
  std::string relative = folder + name;
  std::replace(relative.begin(), relative.end(), separator, '/');
  return exclude(relative);
}

void TakeEntry(const DirEntry& entry, const Exclusion& exclude, const std::string& folder,
               char separator, FolderListing* listing) {
  std::string name = entry.name;
  StripNulls(name);
  if (name == "." || name == ".." || ExcludedEntry(exclude, folder, name, separator)) return;
  ++listing->entries;
  if (entry.is_directory) {
    listing->subdirectories.append(name);
    listing->subdirectories.push_back('\0');
    ++listing->subdirectory_count;
  }
  if (const uint8_t mask = MatchingPatterns(name)) {
    listing->matches.push_back(
        static_cast<char>(mask | (entry.is_regular_file ? FolderListing::kListedRegular : 0)));
    listing->matches.append(name);
    listing->matches.push_back('\0');
  }
}

FolderReadAhead::FolderReadAhead(SearchedTree& tree, const Exclusion& exclude,
                                 size_t most_queued_bytes)
    : tree_(tree),
      exclude_(exclude),
      separator_(tree.Separator()),
      most_queued_bytes_(most_queued_bytes) {
  pending_.push(Pending{});
  handed_over_.emplace("", Handed{});
  StartListers(kListersWarm);
}

FolderReadAhead::~FolderReadAhead() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& lister : listers_) lister.join();
}

void FolderReadAhead::StartListers(size_t wanted) {
  while (listers_.size() < wanted) {
    // Each helper lists from a handle of the root of its own: a backend's folder is used by one
    // thread at a time.
    std::unique_ptr<Directory> root;
    Directory& walks_root = tree_.root_directory();
    if (!walks_root.UsableFromAnotherThread() || !walks_root.OpenDirectory("", &root).ok()) return;
    try {
      listers_.emplace_back([this, dir = std::move(root)]() mutable { Run(std::move(dir)); });
    } catch (const std::system_error&) {
      return;  // no thread to be had: the helpers there are list, or the walk lists alone
    }
  }
}

void FolderReadAhead::GoCold() {
  StartListers(kListersCold);
}

void FolderReadAhead::AwaitProgress(std::unique_lock<std::mutex>& lock, const Handed& waited,
                                    size_t turns) {
  handed_.wait(lock, [&] { return waited.done || waited.seen > turns; });
}

bool FolderReadAhead::Take(const std::string& relative, FolderListing* listing,
                           const std::function<bool()>& turn, size_t* turns) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (handed_over_.find(relative) == handed_over_.end()) return false;
  const Handed& waited = handed_over_.find(relative)->second;
  // The folder the walk waits for comes first in its order: a helper lists it whatever the
  // lead and the bytes held, and no other beyond them. The window has its turns meanwhile.
  waited_ = &waited;
  // Mostly listed already: waking the helpers at every folder would cost the walk a switch to
  // them each time.
  if (!waited.done) changed_.notify_all();
  // Without turns to give, only the end of the listing is waited for.
  const auto given = [&] { return turn ? *turns : SIZE_MAX; };
  for (AwaitProgress(lock, waited, given()); !waited.done; AwaitProgress(lock, waited, given())) {
    const size_t seen = waited.seen;
    lock.unlock();
    for (; *turns < seen; ++*turns) {
      if (turn()) continue;
      lock.lock();
      waited_ = nullptr;
      return true;
    }
    lock.lock();
  }
  waited_ = nullptr;
  const auto taken = handed_over_.find(relative);
  *listing = std::move(taken->second.listing);
  queued_bytes_ -= taken->second.queued_bytes;
  handed_over_.erase(taken);
  const bool helpers_held_back =
      helpers_listed_ >= walk_taken_ + kLead || held_bytes_ >= kMostHeldBytes;
  held_bytes_ -= std::min(held_bytes_, listing->bytes());
  ++walk_taken_;
  lock.unlock();
  // Only a helper held back waits for the walk; waking the helpers at every folder would cost
  // the walk a switch to them each time.
  if (helpers_held_back) changed_.notify_all();
  return true;
}

bool FolderReadAhead::Next(Pending* next) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] {
    if (stop_ || (pending_.empty() && listing_ == 0)) return true;
    const bool room = helpers_listed_ < walk_taken_ + kLead && held_bytes_ < kMostHeldBytes;
    return !pending_.empty() && (room || (waited_ != nullptr && !waited_->started));
  });
  if (stop_ || pending_.empty()) return false;
  *next = pending_.top();
  pending_.pop();
  handed_over_.find(next->relative)->second.started = true;
  ++helpers_listed_;
  ++listing_;
  return true;
}

void FolderReadAhead::ListOne(Directory& root, const Pending& folder,
                              std::optional<uint64_t>* storage_reads, FolderListing* listing) {
  std::unique_ptr<Directory> opened;
  if (!folder.relative.empty()) {
    listing->opened = root.OpenDirectory(folder.relative, &opened);
    if (!listing->opened.ok()) return;
  }
  const std::string prefix = folder.relative.empty() ? "" : folder.relative + separator_;
  const auto started = std::chrono::steady_clock::now();
  bool first = true;
  size_t looked = 0;
  listing->listed = (opened ? *opened : root).List([&](const DirEntry& entry) {
    if (first && std::chrono::steady_clock::now() - started > kSlowListing) {
      // Slow because the helper read from the storage, not because the machine is busy.
      const std::optional<uint64_t> reads_now = tree_.StorageReadsOfThisThread();
      if (!reads_now || !*storage_reads || *reads_now > **storage_reads) {
        slow_listing_seen_.store(true, std::memory_order_relaxed);
      }
      *storage_reads = reads_now;
    }
    first = false;
    TakeEntry(entry, exclude_, prefix, separator_, listing);
    return ++looked % kProgressStep != 0 || Progress(folder, listing->entries);
  });
}

bool FolderReadAhead::Progress(const Pending& folder, size_t entries) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Handed& handed = handed_over_.find(folder.relative)->second;
  handed.seen = entries;
  if (waited_ == &handed) handed_.notify_one();
  return !stop_;
}

void FolderReadAhead::Listed(const Pending& folder, FolderListing listing) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    --listing_;
    if (folder.place.size() < kMaxDepth) {
      uint32_t index = 0;
      for (size_t at = 0; at < listing.subdirectories.size(); ++index) {
        const size_t end = listing.subdirectories.find('\0', at);
        Pending child{folder.place, folder.relative};
        child.place.push_back(index);
        if (!child.relative.empty()) child.relative += separator_;
        child.relative.append(listing.subdirectories, at, end - at);
        at = end + 1;
        // Counted twice for the path (here and as the key), with what the containers add.
        const size_t bytes = 2 * child.relative.size() + 4 * child.place.size() + 128;
        if (queued_bytes_ + bytes > most_queued_bytes_) break;
        // A name listed twice is listed by a helper once; the walk lists it again itself.
        if (!handed_over_.emplace(child.relative, Handed{false, false, 0, bytes, {}}).second)
          continue;
        queued_bytes_ += bytes;
        pending_.push(std::move(child));
      }
    }
    held_bytes_ += listing.bytes();
    Handed& handed = handed_over_.find(folder.relative)->second;
    handed.listing = std::move(listing);
    handed.done = true;
  }
  changed_.notify_all();
  handed_.notify_one();
}

void FolderReadAhead::Run(std::unique_ptr<Directory> root) {
  Pending folder;
  std::optional<uint64_t> storage_reads = tree_.StorageReadsOfThisThread();
  while (Next(&folder)) {
    FolderListing listing;
    ListOne(*root, folder, &storage_reads, &listing);
    Listed(folder, std::move(listing));
  }
}

}  // namespace quelix
