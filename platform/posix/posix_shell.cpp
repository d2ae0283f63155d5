#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/owned_fd.h"
#include "platform/shell.h"

namespace quelix {
namespace {

class PosixShell : public Shell {
 public:
  Status hyperlink(const std::string& sURL) override {
    // Everything the children need is prepared here: after fork() in a program with threads only
    // async-signal-safe calls are allowed.
    const char* argv[] = {"xdg-open", sURL.c_str(), nullptr};
    OwnedFd null_device(open("/dev/null", O_RDWR | O_CLOEXEC));
    const int null_fd = null_device.get();
    // The viewer is started from a grandchild whose parent exits at once, so it is never left as
    // a zombie of this program and keeps running when the program ends.
    const pid_t child = fork();
    if (child < 0) {
      return Status(ErrorCode::kOther, std::strerror(errno));
    }
    if (child == 0) {
      setsid();
      if (fork() == 0) {
        if (null_fd >= 0) {
          // A desktop without a viewer for the document makes xdg-open complain; the program
          // does not examine the outcome, so neither is the user's terminal cluttered with it.
          dup2(null_fd, STDIN_FILENO);
          dup2(null_fd, STDOUT_FILENO);
          dup2(null_fd, STDERR_FILENO);
        }
        // The spare /dev/null descriptor goes at the exec (close-on-exec): a child between fork
        // and exec closes nothing itself, and _exit runs no destructor.
        execvp(argv[0], const_cast<char* const*>(argv));
        _exit(127);
      }
      _exit(0);
    }
    null_device.Reset();
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return Status::Ok();
  }
};

}  // namespace

std::unique_ptr<Shell> CreateNativeShell() {
  return std::make_unique<PosixShell>();
}

}  // namespace quelix
