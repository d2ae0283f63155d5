#include "tests/posix/quelix_process.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

namespace quelix {

using Clock = std::chrono::steady_clock;

void GiveAway(const std::filesystem::path& top) {
  if (geteuid() != 0) return;
  lchown(top.c_str(), kProcessUser, kProcessUser);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(top)) {
    lchown(entry.path().c_str(), kProcessUser, kProcessUser);
  }
}

void GiveAway(int fd) {
  if (geteuid() == 0 && fchown(fd, kProcessUser, kProcessUser) != 0) ADD_FAILURE() << "fchown";
}

QuelixProcess::QuelixProcess(const TempTree& state, std::vector<std::string> args,
                             bool (*become_user)())
    : err_path_(state.Path("err")) {
  // A process before this one with the same state folder left its words there.
  unlink(err_path_.c_str());
  int out[2];
  if (pipe(out) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    if (geteuid() == 0 && become_user != nullptr && !become_user()) _exit(126);
    if (geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(kProcessUser) != 0 || setuid(kProcessUser) != 0)) {
      _exit(126);
    }
    setenv("XDG_STATE_HOME", state.root().c_str(), 1);
    dup2(out[1], STDOUT_FILENO);
    const int err = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(err, STDERR_FILENO);
    close(out[0]);
    std::vector<char*> argv{const_cast<char*>("quelix")};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(QUELIX_CLI, argv.data());
    _exit(127);
  }
  close(out[1]);
  out_ = out[0];
}

QuelixProcess::~QuelixProcess() {
  if (out_ >= 0) close(out_);
  if (pid_ > 0 && status_ < 0) {
    kill(pid_, SIGKILL);
    Wait();
  }
}

bool QuelixProcess::ReadLine(std::string* line) {
  const Clock::time_point limit = Clock::now() + kProcessPatience;
  size_t end;
  while ((end = buffer_.find('\n')) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - Clock::now());
    pollfd ready{out_, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
    char chunk[4096];
    const ssize_t got = read(out_, chunk, sizeof chunk);
    if (got <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(got));
  }
  *line = buffer_.substr(0, end);
  buffer_.erase(0, end + 1);
  return true;
}

std::vector<std::string> QuelixProcess::RestOfOutput() {
  std::vector<std::string> lines;
  for (std::string line; ReadLine(&line);) lines.push_back(line);
  EXPECT_EQ(buffer_, "") << "a line cut short";
  return lines;
}

bool QuelixProcess::SaysOnError(const std::string& text) const {
  const Clock::time_point limit = Clock::now() + kProcessPatience;
  while (Errors().find(text) == std::string::npos) {
    if (Clock::now() > limit || !Running()) return Errors().find(text) != std::string::npos;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string QuelixProcess::Errors() const {
  std::ifstream in(err_path_, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

bool QuelixProcess::Running() const {
  // Looked at, not reaped: Wait() still gets the exit status.
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0;
}

void QuelixProcess::Signal(int signal) const {
  kill(pid_, signal);
}

int QuelixProcess::Wait() {
  int status = 0;
  waitpid(pid_, &status, 0);
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  return status_;
}

}  // namespace quelix
