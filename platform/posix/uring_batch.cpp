#include "platform/posix/uring_batch.h"

#include <liburing.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace quelix {
namespace {

// Set once the kernel refused a ring or lacks an operation: no thread asks again.
std::atomic<bool> g_refused{false};

bool Supports(io_uring& ring) {
  io_uring_probe* probe = io_uring_get_probe_ring(&ring);
  if (probe == nullptr) return false;
  const bool all = io_uring_opcode_supported(probe, IORING_OP_OPENAT2) &&
                   io_uring_opcode_supported(probe, IORING_OP_CLOSE);
  io_uring_free_probe(probe);
  return all;
}

}  // namespace

UringBatch::UringBatch() : ring_(std::make_unique<io_uring>()) {}

UringBatch::~UringBatch() {
  if (ring_) io_uring_queue_exit(ring_.get());
}

bool UringBatch::Refused() {
  return g_refused.load(std::memory_order_relaxed);
}

std::unique_ptr<UringBatch> UringBatch::Create() {
  if (g_refused.load(std::memory_order_relaxed)) return nullptr;
  std::unique_ptr<UringBatch> batch(new UringBatch());
  const int made = io_uring_queue_init(kEntries, batch->ring_.get(), 0);
  if (made != 0) {
    // No io_uring in this kernel, or not for this process; short of memory or descriptors, the
    // next directory may ask again.
    if (made == -ENOSYS || made == -EPERM || made == -EACCES || made == -EINVAL) g_refused = true;
    batch->ring_.reset();
    return nullptr;
  }
  if (!Supports(*batch->ring_)) {
    g_refused = true;
    return nullptr;
  }
  return batch;
}

template <typename Done>
bool UringBatch::Run(unsigned count, unsigned* taken, Done done) {
  // Waiting for all of them in the same call: warm, they are done by the time it returns.
  const int submitted = io_uring_submit_and_wait(ring_.get(), count);
  *taken = submitted < 0 ? 0 : static_cast<unsigned>(submitted);
  // Every operation the kernel took is waited for, so that no descriptor it opens is lost.
  for (unsigned reaped = 0; reaped < *taken;) {
    io_uring_cqe* cqe = nullptr;
    const int waited = io_uring_wait_cqe(ring_.get(), &cqe);
    if (waited == -EINTR) continue;
    if (waited < 0) {
      // Nothing more can be learnt from this ring; what it still does is its own.
      usable_ = false;
      return false;
    }
    done(static_cast<unsigned>(cqe->user_data), cqe->res);
    io_uring_cqe_seen(ring_.get(), cqe);
    ++reaped;
  }
  // Operations the kernel did not take stay queued in the ring: it is never used again, so that
  // they never run.
  if (*taken < count) usable_ = false;
  return usable_;
}

void UringBatch::OpenAll(int dirfd, const std::vector<std::string>& names, const open_how& how,
                         std::vector<int>* results) {
  results->assign(names.size(), -EAGAIN);
  for (size_t first = 0; first < names.size() && usable_; first += kEntries) {
    const unsigned count = static_cast<unsigned>(std::min<size_t>(kEntries, names.size() - first));
    for (unsigned i = 0; i < count; ++i) {
      io_uring_sqe* sqe = io_uring_get_sqe(ring_.get());
      // `how` is read when the open is taken (the kernel copies it before submit returns).
      io_uring_prep_openat2(sqe, dirfd, names[first + i].c_str(), const_cast<open_how*>(&how));
      io_uring_sqe_set_data64(sqe, first + i);
    }
    unsigned taken = 0;
    Run(count, &taken, [&](unsigned index, int res) { (*results)[index] = res; });
  }
}

void UringBatch::CloseAll(const std::vector<int>& fds) {
  size_t first = 0;
  for (; first < fds.size() && usable_; first += kEntries) {
    const unsigned count = static_cast<unsigned>(std::min<size_t>(kEntries, fds.size() - first));
    for (unsigned i = 0; i < count; ++i) {
      io_uring_prep_close(io_uring_get_sqe(ring_.get()), fds[first + i]);
    }
    unsigned taken = 0;
    if (!Run(count, &taken, [](unsigned, int) {})) {
      // Those the kernel did not take are closed here.
      for (unsigned i = taken; i < count; ++i) ::close(fds[first + i]);
      first += kEntries;
      break;
    }
  }
  for (; first < fds.size(); ++first) ::close(fds[first]);
}

}  // namespace quelix
