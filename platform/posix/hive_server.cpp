#include "platform/posix/hive_server.h"

#include <hivex.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/hive_base_block.h"
#include "platform/posix/hive_protocol.h"
#include "platform/posix/posix_errors.h"
#include "platform/registry.h"

namespace quelix {
namespace {

// Hives from Windows XP on keep larger data in chained big-data cells, which hivex cannot write;
// a key holding such a value is never rewritten.
constexpr size_t kLargestPlainData = 16344;

// Frees what hivex allocates, on every path out of a function.
struct FreeDeleter {
  void operator()(void* allocated) const { std::free(allocated); }
};
template <typename T>
using HivexPtr = std::unique_ptr<T, FreeDeleter>;

struct HiveCloser {
  void operator()(hive_h* handle) const { hivex_close(handle); }
};
using HiveHandle = std::unique_ptr<hive_h, HiveCloser>;

struct LoadedHive {
  HiveHandle handle;
  // The values deleted since the last commit: the written file must not hold them.
  std::vector<std::pair<hive_node_h, std::string>> deleted;
};

bool SameIgnoringCase(const char* a, const std::string& b) {
  return std::strlen(a) == b.size() && strncasecmp(a, b.c_str(), b.size()) == 0;
}

Status ErrnoStatus(int err) {
  return {FromErrno(err, "").code(), std::strerror(err)};
}

Status HivexFailure() {
  const int err = errno;
  return {ErrorCode::kOther, err != 0 ? std::strerror(err) : "hive error"};
}

// The name under /proc/self/fd that stands for exactly the file open on `fd`: hivex opens hives
// by name, and the helper has no other name for what it was sent.
Status ProcFdPath(int fd, std::string* path) {
  *path = "/proc/self/fd/" + std::to_string(fd);
  struct stat named;
  struct stat held;
  if (::fstat(fd, &held) != 0) return ErrnoStatus(errno);
  // Anything but the held file under that name (no /proc, or something mounted in its place)
  // would have the hive library read or write a file nobody chose.
  if (::stat(path->c_str(), &named) != 0 || named.st_dev != held.st_dev ||
      named.st_ino != held.st_ino) {
    return {ErrorCode::kOther,
            "hives are only read and written through /proc/self/fd, and /proc is not mounted"};
  }
  if (static_cast<uint64_t>(held.st_size) > kLargestHive) {
    return {ErrorCode::kOther,
            "the hive is longer than 256 MiB, more than any registry hive holds"};
  }
  return Status::Ok();
}

Status BadRequest() {
  return {ErrorCode::kOther, "the hive helper was sent a malformed request"};
}

// The values of the key other than `name`, with their types and data, in their order; fails
// where the key cannot be given them back exactly.
Status Survivors(hive_h* h, hive_node_h node, const std::string& name,
                 std::vector<hive_set_value>* kept, std::vector<HivexPtr<char>>* buffers) {
  errno = 0;
  HivexPtr<hive_value_h> values(hivex_node_values(h, node));
  if (values == nullptr) return HivexFailure();
  for (const hive_value_h* handle = values.get(); *handle != 0; ++handle) {
    errno = 0;
    char* key = hivex_value_key(h, *handle);
    if (key == nullptr) return HivexFailure();
    buffers->emplace_back(key);
    errno = 0;
    const size_t length = hivex_value_key_len(h, *handle);
    if (length == 0 && errno != 0) return HivexFailure();
    // hivex takes names as C strings: a name with a null in it (a way to hide a value) would
    // come back cut short, beside the value it then seems to be.
    if (length != std::strlen(key)) {
      return {ErrorCode::kOther,
              "the key holds a value whose name has a null character, which cannot be rewritten"};
    }
    if (SameIgnoringCase(key, name)) continue;
    hive_set_value value{};
    value.key = key;
    char* data = hivex_value_value(h, *handle, &value.t, &value.len);
    if (data == nullptr) return HivexFailure();
    buffers->emplace_back(data);
    if (value.len > kLargestPlainData) {
      return {ErrorCode::kOther, "the key holds a value too large to rewrite"};
    }
    value.value = data;
    kept->push_back(value);
  }
  return Status::Ok();
}

class HiveServer {
 public:
  HiveServer(int socket, Status refusal) : socket_(socket), refusal_(std::move(refusal)) {}
  [[noreturn]] void Run();

 private:
  void Handle(HiveMessage& request, int fd, HiveMessage* reply);
  Status Load(uint32_t slot, int fd);
  void OpenKey(LoadedHive& hive, HiveMessage& request, HiveMessage* reply);
  void ListSubkeys(LoadedHive& hive, HiveMessage& request, HiveMessage* reply);
  void DeleteValue(LoadedHive& hive, HiveMessage& request, HiveMessage* reply);
  void HasValue(LoadedHive& hive, HiveMessage& request, HiveMessage* reply);
  Status Commit(LoadedHive& hive, int fd);
  Status Verify(LoadedHive& hive, int fd);

  const int socket_;
  // Why no hive may be loaded here (the helper could not give up root's rights), or success.
  const Status refusal_;
  std::map<uint32_t, LoadedHive> hives_;
};

void HiveServer::Run() {
  for (;;) {
    HiveMessage request;
    OwnedFd fd;
    if (!ReceiveFrame(socket_, &request, &fd)) ::_exit(0);
    HiveMessage reply;
    Handle(request, fd.get(), &reply);
    // Closed before the reply: once the program hears back, the helper holds none of its files.
    fd.Reset();
    if (!SendFrame(socket_, reply)) ::_exit(0);
  }
}

void HiveServer::Handle(HiveMessage& request, int fd, HiveMessage* reply) {
  uint8_t op = 0;
  uint32_t slot = 0;
  if (!request.GetU8(&op) || !request.GetU32(&slot)) return reply->PutStatus(BadRequest());
  if (op == static_cast<uint8_t>(HiveOp::kLoad)) return reply->PutStatus(Load(slot, fd));
  const auto found = hives_.find(slot);
  if (found == hives_.end()) {
    return reply->PutStatus({ErrorCode::kOther, "the hive is not loaded"});
  }
  LoadedHive& hive = found->second;
  switch (static_cast<HiveOp>(op)) {
    case HiveOp::kUnload:
      hives_.erase(found);
      return reply->PutStatus(Status::Ok());
    case HiveOp::kOpenKey:
      return OpenKey(hive, request, reply);
    case HiveOp::kListSubkeys:
      return ListSubkeys(hive, request, reply);
    case HiveOp::kDeleteValue:
      return DeleteValue(hive, request, reply);
    case HiveOp::kHasValue:
      return HasValue(hive, request, reply);
    case HiveOp::kCommit:
      return reply->PutStatus(Commit(hive, fd));
    case HiveOp::kVerify:
      return reply->PutStatus(Verify(hive, fd));
    default:
      return reply->PutStatus(BadRequest());
  }
}

Status HiveServer::Load(uint32_t slot, int fd) {
  hives_.erase(slot);
  if (!refusal_.ok()) return refusal_;
  if (fd < 0) return BadRequest();
  Status status = CheckBaseBlock(fd);
  std::string path;
  if (status.ok()) status = ProcFdPath(fd, &path);
  if (!status.ok()) return status;
  errno = 0;
  // Opened for writing, hivex reads the whole file into memory and keeps no descriptor.
  HiveHandle handle(hivex_open(path.c_str(), HIVEX_OPEN_WRITE));
  if (handle == nullptr) {
    const int err = errno;
    if (err == EACCES || err == EPERM || err == EIO) return ErrnoStatus(err);
    return {ErrorCode::kOther,
            "the hive is damaged" + (err != 0 ? " (" + std::string(std::strerror(err)) + ")" : "")};
  }
  hives_[slot].handle = std::move(handle);
  return Status::Ok();
}

void HiveServer::OpenKey(LoadedHive& hive, HiveMessage& request, HiveMessage* reply) {
  uint32_t count = 0;
  if (!request.GetU32(&count)) return reply->PutStatus(BadRequest());
  hive_h* h = hive.handle.get();
  hive_node_h node = hivex_root(h);
  for (uint32_t i = 0; i < count; ++i) {
    std::string part;
    if (!request.GetString(&part)) return reply->PutStatus(BadRequest());
    if (node == 0) continue;
    errno = 0;
    node = hivex_node_get_child(h, node, part.c_str());
    if (node == 0 && errno != 0) return reply->PutStatus(HivexFailure());
  }
  if (node == 0) return reply->PutStatus({ErrorCode::kNotFound, "no such key"});
  reply->PutStatus(Status::Ok());
  reply->PutU64(node);
}

void HiveServer::ListSubkeys(LoadedHive& hive, HiveMessage& request, HiveMessage* reply) {
  uint64_t node = 0;
  if (!request.GetU64(&node)) return reply->PutStatus(BadRequest());
  hive_h* h = hive.handle.get();
  errno = 0;
  HivexPtr<hive_node_h> children(hivex_node_children(h, node));
  if (children == nullptr) return reply->PutStatus(HivexFailure());
  std::vector<std::string> names;
  for (const hive_node_h* child = children.get(); *child != 0; ++child) {
    errno = 0;
    HivexPtr<char> name(hivex_node_name(h, *child));
    if (name == nullptr) return reply->PutStatus(HivexFailure());
    names.emplace_back(name.get());
  }
  reply->PutStatus(Status::Ok());
  reply->PutU32(static_cast<uint32_t>(names.size()));
  for (const std::string& name : names) reply->PutString(name);
}

void HiveServer::HasValue(LoadedHive& hive, HiveMessage& request, HiveMessage* reply) {
  uint64_t node = 0;
  std::string name;
  if (!request.GetU64(&node) || !request.GetString(&name)) return reply->PutStatus(BadRequest());
  errno = 0;
  const hive_value_h value = hivex_node_get_value(hive.handle.get(), node, name.c_str());
  if (value == 0 && errno != 0) return reply->PutStatus(HivexFailure());
  reply->PutStatus(Status::Ok());
  reply->PutU8(value != 0 ? 1 : 0);
}

void HiveServer::DeleteValue(LoadedHive& hive, HiveMessage& request, HiveMessage* reply) {
  uint64_t node = 0;
  std::string name;
  if (!request.GetU64(&node) || !request.GetString(&name)) return reply->PutStatus(BadRequest());
  hive_h* h = hive.handle.get();
  const auto answer = [reply](const Status& status, ValueDeletion result, bool half_changed) {
    reply->PutStatus(status);
    reply->PutU8(static_cast<uint8_t>(result));
    reply->PutU8(half_changed ? 1 : 0);
  };
  errno = 0;
  if (hivex_node_get_value(h, node, name.c_str()) == 0) {
    if (errno == 0) return answer(Status::Ok(), ValueDeletion::kAbsent, false);
    return answer(HivexFailure(), ValueDeletion::kFailed, false);
  }
  // hivex has no call that deletes one value: the key is given all the others back.
  std::vector<hive_set_value> kept;
  std::vector<HivexPtr<char>> buffers;
  const Status status = Survivors(h, node, name, &kept, &buffers);
  if (!status.ok()) return answer(status, ValueDeletion::kFailed, false);
  errno = 0;
  if (hivex_node_set_values(h, node, kept.size(), kept.data(), 0) != 0) {
    // The loaded hive may be half changed: it must never be written.
    return answer(HivexFailure(), ValueDeletion::kFailed, true);
  }
  hive.deleted.emplace_back(node, name);
  answer(Status::Ok(), ValueDeletion::kDeleted, false);
}

Status HiveServer::Commit(LoadedHive& hive, int fd) {
  if (fd < 0) return BadRequest();
  std::string path;
  const Status status = ProcFdPath(fd, &path);
  if (!status.ok()) return status;
  errno = 0;
  if (hivex_commit(hive.handle.get(), path.c_str(), 0) != 0) {
    return ErrnoStatus(errno != 0 ? errno : EIO);
  }
  return Status::Ok();
}

Status HiveServer::Verify(LoadedHive& hive, int fd) {
  if (fd < 0) return BadRequest();
  std::string path;
  Status status = CheckBaseBlock(fd);
  if (status.ok()) status = ProcFdPath(fd, &path);
  if (!status.ok()) return {status.code(), "the written hive is not sound: " + status.message()};
  errno = 0;
  const HiveHandle written(hivex_open(path.c_str(), 0));
  if (written == nullptr || hivex_root(written.get()) == 0) {
    return {ErrorCode::kOther, "the written hive cannot be read back"};
  }
  for (const auto& [node, name] : hive.deleted) {
    errno = 0;
    if (hivex_node_get_value(written.get(), node, name.c_str()) != 0 || errno != 0) {
      return {ErrorCode::kOther, "the written hive still holds the value " + name};
    }
  }
  hive.deleted.clear();
  return Status::Ok();
}

}  // namespace

void RunHiveServer(int socket, const Status& refusal) {
  HiveServer server(socket, refusal);
  server.Run();
}

}  // namespace quelix
