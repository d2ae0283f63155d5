#include "tests/posix/pause_at_rename.h"

#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <future>
#include <thread>

namespace quelix {
namespace {

// Hands the thread's renames to a listener, which lets each one go on once it has looked at it.
int StopRenamesOfThisThread() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_renameat2, 2, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_renameat, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return -1;
  return static_cast<int>(
      syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &program));
}

// Takes one stopped rename, if one is waiting; returns whether it is onto a name ending in
// `name`. The rename's arguments are addresses in this very process, and stay valid while the
// thread that made it waits.
bool TakeRename(int listener, const std::string& name, uint64_t* id) {
  seccomp_notif request{};
  if (ioctl(listener, SECCOMP_IOCTL_NOTIF_RECV, &request) != 0) return false;
  *id = request.id;
  const auto* target = reinterpret_cast<const char*>(request.data.args[3]);
  return ioctl(listener, SECCOMP_IOCTL_NOTIF_ID_VALID, &request.id) == 0 &&
         std::string(target).ends_with(name);
}

void LetGoOn(int listener, uint64_t id) {
  seccomp_notif_resp response{};
  response.id = id;
  response.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
  ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, &response);
}

}  // namespace

void PauseAtRename(const std::string& name, const std::function<void()>& work,
                   const std::function<void()>& at_rename) {
  std::promise<int> listening;
  std::atomic<bool> done{false};
  // The filter stays with the thread until it ends; no other thread ever has it.
  std::thread worker([&] {
    const int listener = StopRenamesOfThisThread();
    listening.set_value(listener);
    if (listener >= 0) work();
    done = true;
  });
  const int listener = listening.get_future().get();
  bool acted = false;
  while (listener >= 0 && !done) {
    pollfd ready{listener, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0 || (ready.revents & POLLIN) == 0) continue;
    uint64_t id = 0;
    if (TakeRename(listener, name, &id) && !acted) {
      acted = true;
      at_rename();
    }
    LetGoOn(listener, id);
  }
  worker.join();
  ASSERT_GE(listener, 0) << "this system cannot stop a thread's renames";
  close(listener);
  EXPECT_TRUE(acted) << "no rename onto " << name;
}

}  // namespace quelix
