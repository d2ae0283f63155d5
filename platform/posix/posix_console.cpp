#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

#include "platform/console.h"

namespace quelix {
namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStop(int) {
  g_stop = 1;
}

class PosixConsole final : public Console {
 public:
  PosixConsole() {
    struct sigaction stop {};
    stop.sa_handler = OnStop;
    sigemptyset(&stop.sa_mask);
    // A result line being written into a full pipe when Ctrl+C comes is written whole, not
    // failed with EINTR (which would leave the output stream failed for every line after).
    stop.sa_flags = SA_RESTART;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
  }

  bool ErrorIsTerminal() override { return ::isatty(STDERR_FILENO) == 1; }

  int Columns() override {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
  }

  bool StopRequested() override { return g_stop != 0; }
};

}  // namespace

std::unique_ptr<Console> CreateNativeConsole() {
  return std::make_unique<PosixConsole>();
}

}  // namespace quelix
