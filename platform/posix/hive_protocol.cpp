#include "platform/posix/hive_protocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace quelix {
namespace {

constexpr size_t kHeader = 4;
// A list of subkey names is the largest reply; no honest frame comes near this.
constexpr uint32_t kLargestFrame = 64u << 20;

void PutLittleEndian(std::string* bytes, uint64_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) bytes->push_back(static_cast<char>(value >> (8 * i)));
}

uint64_t GetLittleEndian(const char* bytes, size_t size) {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) {
    value |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  }
  return value;
}

bool ReceiveAll(int socket, char* buffer, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t got = ::recv(socket, buffer + done, size - done, 0);
    if (got > 0) {
      done += static_cast<size_t>(got);
    } else if (got == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

// Receives the frame's header and the descriptor that came with it.
bool ReceiveHeader(int socket, char* header, OwnedFd* fd) {
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  iovec part{header, kHeader};
  msghdr msg{};
  msg.msg_iov = &part;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t got = -1;
  do {
    got = ::recvmsg(socket, &msg, MSG_CMSG_CLOEXEC);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return false;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS &&
        c->cmsg_len == CMSG_LEN(sizeof(int))) {
      int received = -1;
      std::memcpy(&received, CMSG_DATA(c), sizeof(int));
      fd->Reset(received);
    }
  }
  return ReceiveAll(socket, header + got, kHeader - static_cast<size_t>(got));
}

}  // namespace

void HiveMessage::PutU32(uint32_t value) {
  PutLittleEndian(&bytes_, value, 4);
}
void HiveMessage::PutU64(uint64_t value) {
  PutLittleEndian(&bytes_, value, 8);
}

void HiveMessage::PutString(const std::string& text) {
  PutU32(static_cast<uint32_t>(text.size()));
  bytes_ += text;
}

void HiveMessage::PutStatus(const Status& status) {
  PutU8(static_cast<uint8_t>(status.code()));
  PutString(status.message());
}

bool HiveMessage::GetU8(uint8_t* value) {
  if (bytes_.size() - read_ < 1) return false;
  *value = static_cast<uint8_t>(bytes_[read_++]);
  return true;
}

bool HiveMessage::GetU32(uint32_t* value) {
  if (bytes_.size() - read_ < 4) return false;
  *value = static_cast<uint32_t>(GetLittleEndian(bytes_.data() + read_, 4));
  read_ += 4;
  return true;
}

bool HiveMessage::GetU64(uint64_t* value) {
  if (bytes_.size() - read_ < 8) return false;
  *value = GetLittleEndian(bytes_.data() + read_, 8);
  read_ += 8;
  return true;
}

bool HiveMessage::GetString(std::string* text) {
  uint32_t size = 0;
  if (!GetU32(&size)) return false;
  if (bytes_.size() - read_ < size) {
    read_ -= 4;
    return false;
  }
  text->assign(bytes_, read_, size);
  read_ += size;
  return true;
}

bool HiveMessage::GetStatus(Status* status) {
  uint8_t code = 0;
  std::string text;
  if (!GetU8(&code) || code > static_cast<uint8_t>(ErrorCode::kOther)) return false;
  if (!GetString(&text)) return false;
  *status = code == 0 ? Status::Ok() : Status(static_cast<ErrorCode>(code), std::move(text));
  return true;
}

bool SendFrame(int socket, const HiveMessage& message, int fd) {
  std::string frame;
  PutLittleEndian(&frame, message.bytes().size(), kHeader);
  frame += message.bytes();
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  size_t done = 0;
  while (done < frame.size()) {
    iovec part{frame.data() + done, frame.size() - done};
    msghdr msg{};
    msg.msg_iov = &part;
    msg.msg_iovlen = 1;
    if (done == 0 && fd >= 0) {
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      cmsghdr* c = CMSG_FIRSTHDR(&msg);
      c->cmsg_level = SOL_SOCKET;
      c->cmsg_type = SCM_RIGHTS;
      c->cmsg_len = CMSG_LEN(sizeof(int));
      std::memcpy(CMSG_DATA(c), &fd, sizeof(int));
    }
    // Never SIGPIPE: a helper that has gone is an answer, not a reason to stop the program.
    const ssize_t sent = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

bool ReceiveFrame(int socket, HiveMessage* message, OwnedFd* fd) {
  fd->Reset();
  OwnedFd attached;
  char header[kHeader];
  bool received = ReceiveHeader(socket, header, &attached);
  const uint64_t size = received ? GetLittleEndian(header, kHeader) : 0;
  received = received && size <= kLargestFrame;
  *message = HiveMessage();
  if (received) {
    message->bytes().resize(size);
    received = ReceiveAll(socket, message->bytes().data(), size);
  }
  // A frame that did not arrive whole takes its descriptor with it.
  if (received) *fd = std::move(attached);
  return received;
}

}  // namespace quelix
