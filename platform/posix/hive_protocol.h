// The messages between the program and its hive helper, the child process that runs every hivex
// call (hivex stops the whole process on some damaged hives). Each message is a frame: a 32-bit
// little-endian length, then that many bytes. A request starts with its operation and the number
// of the hive it is about; a reply starts with a status (code and text). A descriptor travels
// with a frame as SCM_RIGHTS.
#pragma once

#include <cstdint>
#include <string>

#include "platform/posix/owned_fd.h"
#include "platform/status.h"

namespace quelix {

// No registry hive comes near this length; the hive library holds a whole hive in memory.
constexpr uint64_t kLargestHive = uint64_t{256} << 20;

enum class HiveOp : uint8_t {
  kLoad = 1,     // + descriptor of the hive file; reply: status
  kUnload,       // reply: status
  kOpenKey,      // u32 count, count names; reply: status, u64 node
  kListSubkeys,  // u64 node; reply: status, u32 count, count names
  kDeleteValue,  // u64 node, name; reply: status, u8 ValueDeletion, u8 hive left half changed
  kCommit,       // + descriptor of the new file; reply: status
  kVerify,       // + descriptor of the written file; reply: status
  kHasValue,     // u64 node, name; reply: status, u8 present
};

// The body of one frame, written or read in order.
class HiveMessage {
 public:
  void PutU8(uint8_t value) { bytes_.push_back(static_cast<char>(value)); }
  void PutU32(uint32_t value);
  void PutU64(uint64_t value);
  void PutString(const std::string& text);
  void PutStatus(const Status& status);

  // Each returns false, taking nothing, when the message has too few bytes left.
  bool GetU8(uint8_t* value);
  bool GetU32(uint32_t* value);
  bool GetU64(uint64_t* value);
  bool GetString(std::string* text);
  bool GetStatus(Status* status);

  std::string& bytes() { return bytes_; }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
  size_t read_ = 0;
};

// Sends `message` as one frame on `socket`, with the descriptor `fd` unless it is -1. False when
// the peer is gone.
bool SendFrame(int socket, const HiveMessage& message, int fd = -1);

// Receives one frame into `*message`, and in `*fd` the descriptor sent with it (none if none was
// sent). False at the end of input, on an error, or on a frame too large to be one.
bool ReceiveFrame(int socket, HiveMessage* message, OwnedFd* fd);

}  // namespace quelix
