// quelix-hive: the hive helper program. The program starts it with its end of a socket on
// descriptor 3; it gives up every right it does not need before it reads a single request.
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "platform/posix/hive_helper_path.h"
#include "platform/posix/hive_server.h"

namespace quelix {
namespace {

// The unprivileged user and group ("nobody", "nogroup") the helper runs as when started by root.
constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;
// More than the hive library needs for the largest hive it is given (kLargestHive), and the time
// it needs to read or write it.
[[maybe_unused]] constexpr rlim_t kAddressSpace = rlim_t{1} << 30;
constexpr rlim_t kCpuSeconds = 60;

// Nothing of the program's but the socket, and signals as a new process has them, but for the
// terminal's and a closed socket's: the program ends the helper by closing the socket.
void KeepOnlyTheSocket() {
  if (::close_range(kHiveHelperSocket + 1, UINT_MAX, 0) != 0) {
    // Not owned here: descriptors inherited by number, most of them not open at all.
    for (int fd = kHiveHelperSocket + 1; fd < 65536; ++fd) ::close(fd);
  }
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  for (int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPIPE}) {
    ::sigaction(signal, &action, nullptr);
  }
}

Status Failed(const char* what) {
  return {ErrorCode::kAccessDenied,
          std::string("the hive helper could not ") + what + ": " + std::strerror(errno)};
}

// Run by root, the helper becomes nobody, with no supplementary groups; no one may gain rights
// through it by running a set-user-ID program afterwards.
Status DropRights() {
  if (::getuid() == 0 || ::geteuid() == 0 || ::getgid() == 0 || ::getegid() == 0) {
    if (::setgroups(0, nullptr) != 0) return Failed("drop its groups");
    if (::setresgid(kNoGroup, kNoGroup, kNoGroup) != 0) return Failed("give up root's group");
    if (::setresuid(kNobody, kNobody, kNobody) != 0) return Failed("give up root's rights");
    if (::setuid(0) == 0) {
      errno = EPERM;
      return Failed("give up root's rights for good");
    }
  }
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return Failed("forgo new rights");
  return Status::Ok();
}

// Sanitizer builds reserve far more address space than they use (GCC and clang tell it apart).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUELIX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUELIX_SANITIZED 1
#endif
#endif

// A hive made to make the library allocate or loop without end stops at these limits.
Status Limit() {
#if !defined(QUELIX_SANITIZED)
  const rlimit memory{kAddressSpace, kAddressSpace};
  if (::setrlimit(RLIMIT_AS, &memory) != 0) return Failed("limit its memory");
#endif
  const rlimit cpu{kCpuSeconds, kCpuSeconds};
  if (::setrlimit(RLIMIT_CPU, &cpu) != 0) return Failed("limit its processor time");
  return Status::Ok();
}

}  // namespace
}  // namespace quelix

int main() {
  quelix::KeepOnlyTheSocket();
  quelix::Status refusal = quelix::DropRights();
  if (refusal.ok()) refusal = quelix::Limit();
  quelix::RunHiveServer(quelix::kHiveHelperSocket, refusal);
}
