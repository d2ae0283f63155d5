#include "platform/posix/hive_client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/hive_helper_path.h"

namespace quelix {
namespace {

HiveMessage Request(HiveOp op, uint32_t slot) {
  HiveMessage request;
  request.PutU8(static_cast<uint8_t>(op));
  request.PutU32(slot);
  return request;
}

Status Garbled() {
  return {ErrorCode::kOther, "the hive helper gave a malformed reply"};
}

// How the helper ended, for people.
std::string Ending(int wait_status) {
  if (wait_status == -1) return "the hive library stopped on it";
  if (WIFSIGNALED(wait_status)) {
    const char* name = ::strsignal(WTERMSIG(wait_status));
    return "the hive library stopped on it (" +
           std::string(name != nullptr ? name : "signal " + std::to_string(WTERMSIG(wait_status))) +
           ")";
  }
  if (WIFEXITED(wait_status)) {
    return "the hive library stopped on it (exit code " + std::to_string(WEXITSTATUS(wait_status)) +
           ")";
  }
  return "the hive library stopped on it";
}

// Waits for the child `pid`; its wait status, or -1 where it cannot be had (reaped elsewhere).
int Reap(pid_t pid) {
  int wait_status = 0;
  while (::waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return wait_status;
}

// Every send and receive on `socket` gives up after `patience`.
bool LimitWaits(int socket, std::chrono::milliseconds patience) {
  const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(patience).count();
  const timeval wait{static_cast<time_t>(usec / 1000000), static_cast<suseconds_t>(usec % 1000000)};
  return ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) == 0 &&
         ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait) == 0;
}

}  // namespace

HiveClient::~HiveClient() {
  Stop();
}

const Status* HiveClient::Damaged(uint32_t slot) const {
  const auto found = damaged_.find(slot);
  return found == damaged_.end() ? nullptr : &found->second;
}

// The helper is a program of its own, started afresh: the program may have threads, and a child
// forked from it could not safely run anything but a few system calls before exec.
Status HiveClient::Start() {
  const auto failed = [](int err) {
    return Status{ErrorCode::kOther,
                  std::string("cannot start the hive helper: ") + std::strerror(err)};
  };
  std::string program;
  const Status found = FindHiveHelper(&program);
  if (!found.ok()) return found;
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return failed(errno);
  OwnedFd ours(ends[0]);
  OwnedFd helper_end(ends[1]);
  // The time limit is what stops a hive that hangs the library: without it, no helper runs.
  if (!LimitWaits(ours.get(), patience_)) return failed(errno);
  // Above the helper's socket number, so that moving it there clears its close-on-exec flag.
  OwnedFd theirs(::fcntl(helper_end.get(), F_DUPFD_CLOEXEC, kHiveHelperSocket + 1));
  const int dup_error = errno;
  helper_end.Reset();
  if (!theirs.valid()) return failed(dup_error);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, theirs.get(), kHiveHelperSocket);
  ::posix_spawnattr_init(&attributes);
  sigset_t all;
  sigset_t none;
  sigfillset(&all);
  sigemptyset(&none);
  ::posix_spawnattr_setsigdefault(&attributes, &all);
  ::posix_spawnattr_setsigmask(&attributes, &none);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  char name[] = "quelix-hive";
  char* argv[] = {name, nullptr};
  char* envp[] = {nullptr};
  pid_t pid = -1;
  const int err = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp);
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  if (err != 0) return failed(err);
  pid_ = pid;
  socket_ = std::move(ours);
  return Status::Ok();
}

// Closing the socket is the helper's sign to end.
void HiveClient::Stop() {
  socket_.Reset();
  if (pid_ > 0) Reap(pid_);
  pid_ = -1;
  loaded_.clear();
}

Status HiveClient::Died(uint32_t slot, bool hung) {
  socket_.Reset();
  if (hung) ::kill(pid_, SIGKILL);
  const int ended = Reap(pid_);
  const int64_t ms = patience_.count();
  const std::string wait =
      ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
  const std::string why =
      hung ? "the hive library did not finish with it within " + wait : Ending(ended);
  const Status damaged{ErrorCode::kOther, "the hive is damaged: " + why};
  pid_ = -1;
  loaded_.clear();
  known_.clear();
  damaged_[slot] = damaged;
  return damaged;
}

Status HiveClient::Call(uint32_t slot, const HiveMessage& request, int fd, HiveMessage* reply) {
  if (socket_.valid()) {
    // A helper that ended while idle (killed from outside) is no fault of this hive.
    pollfd idle{socket_.get(), POLLIN, 0};
    if (::poll(&idle, 1, 0) > 0) Stop();
  }
  if (!socket_.valid()) {
    const Status status = Start();
    if (!status.ok()) return status;
  }
  OwnedFd unexpected;  // the helper sends no descriptor back; one that comes is closed unused
  errno = 0;           // a wait that ran out is told apart from the helper's end by EAGAIN
  if (!SendFrame(socket_.get(), request, fd) || !ReceiveFrame(socket_.get(), reply, &unexpected)) {
    return Died(slot, errno == EAGAIN || errno == EWOULDBLOCK);
  }
  Status status;
  if (!reply->GetStatus(&status)) return Garbled();
  return status;
}

Status HiveClient::Load(uint32_t slot, int fd, bool keep_known) {
  loaded_.erase(slot);
  pending_.erase(slot);
  if (!keep_known) known_.erase(slot);
  HiveMessage reply;
  const Status status = Call(slot, Request(HiveOp::kLoad, slot), fd, &reply);
  if (status.ok()) loaded_.insert(slot);
  return status;
}

// A helper with no hive loaded ends: all it allocated goes with it, and the next hive starts a
// helper with its whole time and memory allowance.
void HiveClient::Unload(uint32_t slot, bool keep_known) {
  pending_.erase(slot);
  if (!keep_known) known_.erase(slot);
  if (loaded_.erase(slot) == 0) return;
  if (loaded_.empty()) return Stop();
  HiveMessage reply;
  // A helper that fails here was recorded by Call (Died); the next load starts a fresh one.
  IgnoreResult(Call(slot, Request(HiveOp::kUnload, slot), -1, &reply), "recorded by Call");
}

void HiveClient::LoadWhenNeeded(uint32_t slot, std::function<Status()> load) {
  pending_[slot] = std::move(load);
}

Status HiveClient::Ready(uint32_t slot) {
  if (Loaded(slot)) return Status::Ok();
  const auto pending = pending_.find(slot);
  if (pending == pending_.end()) return {ErrorCode::kOther, "the hive is no longer loaded"};
  const std::function<Status()> load = std::move(pending->second);
  pending_.erase(pending);
  return load();
}

Status HiveClient::OpenKey(uint32_t slot, const std::vector<std::string>& parts, uint64_t* node) {
  std::string path;
  for (const std::string& part : parts) path += part + '\\';
  const auto known = known_[slot].keys.find(path);
  if (known != known_[slot].keys.end()) {
    *node = known->second.second;
    return known->second.first;
  }
  if (const Status ready = Ready(slot); !ready.ok()) return ready;
  HiveMessage request = Request(HiveOp::kOpenKey, slot);
  request.PutU32(static_cast<uint32_t>(parts.size()));
  for (const std::string& part : parts) request.PutString(part);
  HiveMessage reply;
  const Status status = Call(slot, request, -1, &reply);
  if (status.ok() && !reply.GetU64(node)) return Garbled();
  if ((status.ok() || status.code() == ErrorCode::kNotFound) && Loaded(slot)) {
    known_[slot].keys[path] = {status, status.ok() ? *node : 0};
  }
  return status;
}

Status HiveClient::ListSubkeys(uint32_t slot, uint64_t node, std::vector<std::string>* names) {
  names->clear();
  const auto known = known_[slot].subkeys.find(node);
  if (known != known_[slot].subkeys.end()) {
    *names = known->second;
    return Status::Ok();
  }
  if (const Status ready = Ready(slot); !ready.ok()) return ready;
  HiveMessage request = Request(HiveOp::kListSubkeys, slot);
  request.PutU64(node);
  HiveMessage reply;
  const Status status = Call(slot, request, -1, &reply);
  if (!status.ok()) return status;
  uint32_t count = 0;
  if (!reply.GetU32(&count)) return Garbled();
  for (uint32_t i = 0; i < count; ++i) {
    std::string name;
    if (!reply.GetString(&name)) return Garbled();
    names->push_back(std::move(name));
  }
  if (Loaded(slot)) known_[slot].subkeys[node] = *names;
  return status;
}

Status HiveClient::HasValue(uint32_t slot, uint64_t node, const std::string& name, bool* present) {
  *present = false;
  if (known_[slot].absent.count({node, name}) != 0) return Status::Ok();
  if (const Status ready = Ready(slot); !ready.ok()) return ready;
  HiveMessage request = Request(HiveOp::kHasValue, slot);
  request.PutU64(node);
  request.PutString(name);
  HiveMessage reply;
  const Status status = Call(slot, request, -1, &reply);
  if (!status.ok()) return status;
  uint8_t found = 0;
  if (!reply.GetU8(&found)) return Garbled();
  *present = found != 0;
  if (!*present && Loaded(slot)) known_[slot].absent.insert({node, name});
  return status;
}

ValueDeletion HiveClient::DeleteValue(uint32_t slot, uint64_t node, const std::string& name,
                                      Status* failure, bool* half_changed) {
  *half_changed = false;
  if (known_[slot].absent.count({node, name}) != 0) {
    *failure = Status::Ok();
    return ValueDeletion::kAbsent;
  }
  *failure = Ready(slot);
  if (!failure->ok()) return ValueDeletion::kFailed;
  HiveMessage request = Request(HiveOp::kDeleteValue, slot);
  request.PutU64(node);
  request.PutString(name);
  HiveMessage reply;
  *failure = Call(slot, request, -1, &reply);
  uint8_t result = 0;
  uint8_t half = 0;
  if (Damaged(slot) != nullptr) return ValueDeletion::kFailed;
  if (!reply.GetU8(&result) || !reply.GetU8(&half) ||
      result > static_cast<uint8_t>(ValueDeletion::kFailed)) {
    if (failure->ok()) *failure = Garbled();
    return ValueDeletion::kFailed;
  }
  *half_changed = half != 0;
  const auto deletion = static_cast<ValueDeletion>(result);
  if (deletion == ValueDeletion::kAbsent && Loaded(slot)) known_[slot].absent.insert({node, name});
  return deletion;
}

Status HiveClient::Commit(uint32_t slot, int fd) {
  if (!Loaded(slot)) return {ErrorCode::kOther, "the hive is no longer loaded"};
  HiveMessage reply;
  return Call(slot, Request(HiveOp::kCommit, slot), fd, &reply);
}

Status HiveClient::Verify(uint32_t slot, int fd) {
  if (!Loaded(slot)) return {ErrorCode::kOther, "the hive is no longer loaded"};
  HiveMessage reply;
  return Call(slot, Request(HiveOp::kVerify, slot), fd, &reply);
}

}  // namespace quelix
