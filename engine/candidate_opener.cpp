#include "engine/candidate_opener.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace quelix {
namespace {

void CloseRead(std::unique_ptr<File> file) {
  if (file) IgnoreResult(file->Close(), "a file only read loses nothing when its close fails");
}

}  // namespace

CandidateOpener::CandidateOpener(SearchedTree& tree, size_t count,
                                 std::function<std::string(size_t)> name_of,
                                 std::function<bool(size_t)> listed_regular, bool while_searching)
    : tree_(tree),
      count_(count),
      name_of_(std::move(name_of)),
      listed_regular_(std::move(listed_regular)),
      most_ahead_(std::max<size_t>(1, tree_.FilesHeldAheadAllowed())),
      ahead_(std::min(kAheadWarm, most_ahead_)),
      searching_(while_searching) {
  if (!tree_.is_open()) return;
  if (searching_) {
    GoCold();
    ahead_ = std::min(kAheadWhileSearching, most_ahead_);
    QueueAhead();
  } else if (count_ > 1) {
    StartHelpers(kHelpersWarm);
    ahead_ = Lead(kAheadWarm);
  }
}

CandidateOpener::~CandidateOpener() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  for (std::thread& helper : helpers_) helper.join();
  for (Slot& slot : slots_) CloseRead(std::move(slot.result.file));
  for (std::unique_ptr<File>& file : to_close_) CloseRead(std::move(file));
}

size_t CandidateOpener::Lead(size_t wanted) const {
  const size_t held_by_helpers = helpers_.size() * kHeldByEachHelper;
  return std::min(wanted, most_ahead_ > held_by_helpers ? most_ahead_ - held_by_helpers : 1);
}

void CandidateOpener::StartHelpers(size_t wanted) {
  // Where the process may hold few files, the helpers' own would leave the lead too short to be
  // worth a thread: one thread opens then, as without helpers.
  while (helpers_.size() < wanted &&
         (helpers_.size() + 1) * kHeldByEachHelper + kOpenBatchWarm <= most_ahead_) {
    // Each helper opens from a handle of the root of its own: a backend's folder is used by one
    // thread at a time.
    std::unique_ptr<Directory> root;
    if (!tree_.root_directory().OpenDirectory("", &root).ok() || !root->UsableFromAnotherThread()) {
      return;
    }
    try {
      helpers_.emplace_back([this, dir = std::move(root)]() mutable { Run(std::move(dir)); });
    } catch (const std::system_error&) {
      return;  // no thread to be had: the helpers there are do the work, or this thread does
    }
  }
}

void CandidateOpener::GoCold() {
  if (cold_ || (helpers_.empty() && !searching_)) return;
  cold_ = true;
  open_batch_ = 1;
  StartHelpers(std::max(kHelpersWarm, std::min(kHelpersCold, most_ahead_ / 16)));
  ahead_ = Lead(kAheadCold);
}

void CandidateOpener::QueueAhead() {
  if (slow_open_seen_.load(std::memory_order_relaxed)) GoCold();
  // Queued in batches, so that a helper is woken once for many candidates, not for each.
  if (next_to_queue_ > next_to_take_ + ahead_ / 2) return;
  size_t closing = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closing = to_close_.size();
  }
  // Files read and not yet closed count as held too: where the process may hold them beside the
  // lead, the helpers woken for the next candidates close them first; elsewhere the lead is
  // shorter by as many.
  const size_t ahead = ahead_ + closing <= most_ahead_ ? ahead_
                       : ahead_ > closing              ? ahead_ - closing
                                                       : 0;
  bool queued_for_helpers = false;
  std::vector<Slot> queued;
  for (; next_to_queue_ < count_ && next_to_queue_ <= next_to_take_ + ahead; ++next_to_queue_) {
    const std::string name = name_of_(next_to_queue_);
    const bool regular = listed_regular_(next_to_queue_);
    Slot slot;
    const bool for_helpers =
        !helpers_.empty() && tree_.OpensInOneStep(name, regular, &slot.relative);
    if (!for_helpers && searching_) {
      // Opened once the scan comes to it, on its thread; the helpers go on with those after it.
      slot.relative.clear();
      slot.claimed = slot.opened = slot.open_when_taken = true;
    } else if (!for_helpers) {
      slot.relative.clear();
      slot.claimed = slot.opened = true;
      slot.result.status = tree_.OpenForReading(name, &slot.result.file, regular);
      if (slot.result.status.ok()) slot.result.file->WillNeed();
    }
    queued_for_helpers |= !slot.claimed;
    queued.push_back(std::move(slot));
  }
  if (queued.empty()) return;
  {
    // Added at once: the helpers wait for the lock once, not for each candidate.
    const std::lock_guard<std::mutex> lock(mutex_);
    for (Slot& slot : queued) slots_.push_back(std::move(slot));
  }
  if (queued_for_helpers) work_.notify_all();
}

void CandidateOpener::Extend(size_t count) {
  count_ = std::max(count_, count);
  QueueAhead();
}

CandidateOpener::Opened CandidateOpener::TakeNext() {
  if (searching_) {
    // The search is over: from here on, as far ahead as the scan of a cold disk reads.
    searching_ = false;
    ahead_ = Lead(helpers_.empty() ? kAheadWarm : kAheadCold);
  }
  QueueAhead();
  std::unique_lock<std::mutex> lock(mutex_);
  if (slots_.empty()) return {{ErrorCode::kOther, "no candidate left to open"}, nullptr};
  WaitForFront(lock);
  Opened next = std::move(slots_.front().result);
  const bool by_helper = !slots_.front().relative.empty();
  const bool open_here = slots_.front().open_when_taken;
  slots_.pop_front();
  const size_t index = next_to_take_++;  // with the pop: helpers count slots from it
  lock.unlock();
  if (open_here) next = OpenHere(index);
  if (next.status.code() == ErrorCode::kTooManyOpen) {
    // The process held as many files as it may, many of them the scan's own: the helpers', those
    // opened ahead and those read and waiting to be closed. An open refused for want of a
    // descriptor never came to the name, so it is made again once they are let go.
    GiveBackAhead();
    return OpenHere(index);
  }
  // A name the helper found to be no regular file (a pipe, a device, a folder) was opened once
  // already, and one thread tells nothing for it either: opening it again would act on it twice.
  if (by_helper && !next.status.ok() && next.status.code() != ErrorCode::kNotAFile) {
    // Opened again here, the way one thread opens, so that every failure is told as it would be
    // without helpers. Where that succeeds, the helpers' own files may have been the cause: no
    // further ahead than a warm disk needs from here on.
    next = OpenHere(index);
    if (next.status.ok()) ahead_ = Lead(kAheadWarm);
  }
  return next;
}

CandidateOpener::Opened CandidateOpener::OpenHere(size_t index) {
  Opened opened;
  opened.status = tree_.OpenForReading(name_of_(index), &opened.file, listed_regular_(index));
  if (opened.status.ok()) opened.file->WillNeed();
  return opened;
}

void CandidateOpener::GiveBackAhead() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  // A helper ends the opens it claimed before it stops: no slot is left half taken.
  for (std::thread& helper : helpers_) helper.join();
  helpers_.clear();
  stop_ = false;
  for (Slot& slot : slots_) {
    // A name found to be no regular file, or refused, keeps what its open told: opening it again
    // would act on it twice. A file opened and not yet read is closed, and opened again later.
    if (slot.opened && !slot.result.status.ok() &&
        slot.result.status.code() != ErrorCode::kTooManyOpen) {
      continue;
    }
    CloseRead(std::move(slot.result.file));
    slot.result = {};
    slot.relative.clear();
    slot.claimed = slot.opened = slot.open_when_taken = true;
  }
  for (std::unique_ptr<File>& file : to_close_) CloseRead(std::move(file));
  to_close_.clear();
  open_batch_ = 1;
  ahead_ = 0;
}

void CandidateOpener::WaitForFront(std::unique_lock<std::mutex>& lock) {
  // A helper is mostly in the middle of the open the scan waits for: a few microseconds more.
  // Sleeping would cost a switch each way, and a processor that goes idle meanwhile.
  for (int round = 0; round < kSpinRounds && !slots_.front().opened; ++round) {
    const uint64_t seen = opens_done_.load(std::memory_order_acquire);
    lock.unlock();
    for (int spin = 0; spin < kSpinsPerRound && opens_done_.load(std::memory_order_acquire) == seen;
         ++spin) {
      std::this_thread::yield();
    }
    lock.lock();
  }
  opened_.wait(lock, [this] { return slots_.front().opened; });
}

void CandidateOpener::Done(std::unique_ptr<File> file) {
  if (helpers_.empty()) return CloseRead(std::move(file));
  // Closed by a helper in batches: waking one for each file costs more than the close. The
  // helpers woken for the next candidates to open close them too, so one is woken for files to
  // close only where no candidates came for as many.
  bool batch_full = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    to_close_.push_back(std::move(file));
    batch_full = to_close_.size() >= std::max(kCloseBatch, ahead_ / 2 + 1);
  }
  if (batch_full) work_.notify_one();
}

bool CandidateOpener::ClaimWork(size_t most, std::vector<Slot*>* claimed,
                                std::vector<std::unique_ptr<File>>* to_close) {
  std::unique_lock<std::mutex> lock(mutex_);
  claimed->clear();
  work_.wait(lock, [&] {
    if (stop_ || !to_close_.empty()) return true;
    // Slots are claimed in list order: only those from the first unclaimed one on are looked at.
    size_t at = first_unclaimed_ > next_to_take_ ? first_unclaimed_ - next_to_take_ : 0;
    for (; at < slots_.size() && claimed->size() < most; ++at) {
      if (!slots_[at].claimed) claimed->push_back(&slots_[at]);
    }
    first_unclaimed_ = next_to_take_ + at;
    return !claimed->empty();
  });
  if (stop_) return false;
  to_close->swap(to_close_);
  for (Slot* slot : *claimed) slot->claimed = true;
  return true;
}

void CandidateOpener::Run(std::unique_ptr<Directory> root) {
  std::vector<std::unique_ptr<File>> to_close;
  std::vector<Slot*> claimed;
  std::optional<uint64_t> storage_reads = tree_.StorageReadsOfThisThread();
  const size_t at_once = root->ListedFilesOpenedAtOnce();
  while (ClaimWork(std::min(at_once, open_batch_.load(std::memory_order_relaxed)), &claimed,
                   &to_close)) {
    root->CloseReadFiles(&to_close);
    if (!claimed.empty()) OpenClaimed(*root, claimed, &storage_reads);
  }
}

void CandidateOpener::OpenClaimed(Directory& root, const std::vector<Slot*>& claimed,
                                  std::optional<uint64_t>* storage_reads) {
  // The slots stay where they are until they are marked opened: the scan takes slots only then,
  // and the deque keeps its elements in place while others are added at its end.
  std::vector<std::string> names;
  names.reserve(claimed.size());
  for (const Slot* slot : claimed) names.push_back(slot->relative);
  std::vector<Opened> results;
  const auto start = std::chrono::steady_clock::now();
  root.OpenListedFiles(names, &results);
  const bool slow = std::chrono::steady_clock::now() - start > kSlowOpen;
  if (claimed.size() > 1 && !slow) {
    slow_batches_in_a_row_.store(0, std::memory_order_relaxed);
  } else if (claimed.size() > 1) {
    // A batch's opens that had to wait were made by the OS's own workers, whose reads this
    // thread does not see: after a few such batches, one at a time from here on, where a slow
    // open tells what it waited for.
    if (slow_batches_in_a_row_.fetch_add(1, std::memory_order_relaxed) + 1 >= kSlowBatchesToStop) {
      open_batch_.store(1, std::memory_order_relaxed);
    }
  } else if (slow) {
    // Slow because it read from the storage, not because the machine is busy.
    const std::optional<uint64_t> now = tree_.StorageReadsOfThisThread();
    if (!now || !*storage_reads || *now > **storage_reads) {
      slow_open_seen_.store(true, std::memory_order_relaxed);
    }
    *storage_reads = now;
  }
  for (Opened& result : results) {
    if (result.status.ok()) result.file->WillNeed();
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < claimed.size(); ++i) {
      claimed[i]->result = std::move(results[i]);
      claimed[i]->opened = true;
    }
  }
  opens_done_.fetch_add(claimed.size(), std::memory_order_release);
  opened_.notify_one();
}

}  // namespace quelix
