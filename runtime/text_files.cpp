#include "runtime/text_files.h"

#include <algorithm>
#include <cstring>

#include "runtime/byte_search.h"
#include "runtime/text_channel.h"

namespace quelix {

namespace {

Status ChannelError(const char* what) {
  return {ErrorCode::kBadChannel, what};
}

size_t FindLineEnd(const char* data, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (data[i] == '\r' || data[i] == '\n') return i;
  }
  return to;
}

}  // namespace

TextFiles::TextFiles(FileSystem& fs) : fs_(fs) {}

TextFiles::~TextFiles() {
  for (int n = 1; n <= kChannels; ++n) {
    if (channels_[n] && channels_[n]->file) {
      IgnoreResult(Close(n), "a channel that mattered was closed, and checked, by its owner");
    }
  }
}

Status TextFiles::Lookup(int channel, bool for_input, Channel** found) {
  if (channel < 1 || channel > kChannels) return ChannelError("no such channel");
  Channel* c = channels_[channel].get();
  if (!c || !c->file) return ChannelError("channel not open");
  if (c->input != for_input) return ChannelError("channel open in another mode");
  *found = c;
  return Status::Ok();
}

Status TextFiles::Attach(int channel, std::unique_ptr<File> file, bool input) {
  if (channel < 1 || channel > kChannels) return ChannelError("no such channel");
  auto& slot = channels_[channel];
  if (!slot) slot = std::make_unique<Channel>();
  if (slot->file) return ChannelError("channel already open");
  Channel& c = *slot;
  c.file = std::move(file);
  c.input = input;
  c.buffer.resize(kBlockSize);
  c.pos = c.len = 0;
  c.eof = false;
  c.mid_line = false;
  c.rewind_pending = false;
  c.hole = 0;
  return Status::Ok();
}

Status TextFiles::Detach(int channel, std::unique_ptr<File>* file) {
  Channel* c = nullptr;
  Status status = Lookup(channel, &c);
  if (!status.ok()) return status;
  const Status flushed = c->input ? Status::Ok() : Flush(channel, false);
  *file = std::move(c->file);
  c->pos = c->len = 0;
  return flushed;
}

Status TextFiles::GetInfo(int channel, FileInfo* info) {
  Channel* c = nullptr;
  Status status = Lookup(channel, &c);
  if (!status.ok()) return status;
  return c->file->GetInfo(info);
}

Status TextFiles::Lookup(int channel, Channel** found) {
  if (channel < 1 || channel > kChannels) return ChannelError("no such channel");
  Channel* c = channels_[channel].get();
  if (!c || !c->file) return ChannelError("channel not open");
  *found = c;
  return Status::Ok();
}

Status TextFiles::OpenAppend(int channel, const std::string& path) {
  if (channel < 1 || channel > kChannels) return ChannelError("no such channel");
  if (channels_[channel] && channels_[channel]->file) return ChannelError("channel already open");
  std::unique_ptr<File> file;
  Status status = fs_.Open(path, OpenMode::kAppend, &file);
  if (!status.ok()) return status;
  return Attach(channel, std::move(file), false);
}

Status TextFiles::Flush(int channel, bool to_disk) {
  Channel* c = nullptr;
  Status status = Lookup(channel, false, &c);
  if (!status.ok()) return status;
  if (c->len > 0) {
    status = c->file->Write(c->buffer.data(), c->len);
    // Whatever happened, the bytes are not written twice: a failed write is reported once.
    c->len = 0;
    if (!status.ok()) return status;
  }
  return to_disk ? c->file->Sync() : Status::Ok();
}

Status TextFiles::Close(int channel) {
  if (channel < 1 || channel > kChannels) return ChannelError("no such channel");
  Channel* c = channels_[channel].get();
  if (!c || !c->file) return ChannelError("channel not open");
  Status flushed = c->input ? Status::Ok() : Flush(channel, false);
  Status closed = c->file->Close();
  c->file.reset();
  c->pos = c->len = 0;
  return flushed.ok() ? closed : flushed;
}

Status TextFiles::Fill(Channel& c) {
  if (c.pos < c.len || c.eof) return Status::Ok();
  size_t got = 0;
  Status status = c.Read(c.buffer.data(), c.buffer.size(), &got, &bytes_read_);
  if (!status.ok()) return status;
  c.pos = 0;
  c.len = got;
  c.eof = got == 0;
  return Status::Ok();
}

Status TextFiles::Peek(Channel& c, int* byte) {
  Status status = Fill(c);
  if (!status.ok()) return status;
  *byte = c.pos < c.len ? static_cast<unsigned char>(c.buffer[c.pos]) : -1;
  return Status::Ok();
}

Status TextFiles::AtEnd(int channel, bool* at_end) {
  Channel* c = nullptr;
  Status status = Lookup(channel, true, &c);
  if (!status.ok()) return status;
  int byte = 0;
  status = Peek(*c, &byte);
  if (!status.ok()) return status;
  *at_end = byte < 0;
  return Status::Ok();
}

Status TextFiles::SkipLineEnd(Channel& c, LineEnd* end) {
  int byte = 0;
  Status status = Peek(c, &byte);
  if (!status.ok()) return status;
  if (byte == '\n') {
    ++c.pos;
    *end = LineEnd::kLf;
    return Status::Ok();
  }
  if (byte != '\r') {
    *end = LineEnd::kNone;
    return Status::Ok();
  }
  ++c.pos;
  status = Peek(c, &byte);
  if (!status.ok()) return status;
  if (byte == '\n') ++c.pos;
  *end = byte == '\n' ? LineEnd::kCrLf : LineEnd::kCr;
  return Status::Ok();
}

Status TextFiles::ReadLinePart(int channel, std::string* part, size_t max_length, bool* complete,
                               LineEnd* end, uint64_t* hole) {
  Channel* c = nullptr;
  Status status = Lookup(channel, true, &c);
  if (!status.ok()) return status;
  part->clear();
  *complete = false;
  if (hole) *hole = 0;
  int byte = 0;
  status = Peek(*c, &byte);
  if (!status.ok()) return status;
  if (byte < 0 && !c->mid_line) return {ErrorCode::kEndOfInput, "no line remains"};
  for (;;) {
    status = Fill(*c);
    if (!status.ok()) return status;
    if (c->pos == c->len) break;
    const size_t room = max_length - part->size();
    // A hole's byte fills the buffer alone, until it is taken.
    if (hole && c->hole > 0 && c->pos == 0 && room > 0) {
      part->push_back('\0');
      c->pos = 1;
      *hole = c->hole;
      c->mid_line = true;
      return Status::Ok();
    }
    const size_t stop = FindLineEnd(c->buffer.data(), c->pos, c->len);
    const size_t take = std::min(room, stop - c->pos);
    part->append(c->buffer.data() + c->pos, take);
    c->pos += take;
    if (c->pos < stop) {
      c->mid_line = true;  // the part is full and more of the line remains
      return Status::Ok();
    }
    if (stop < c->len) break;
  }
  c->mid_line = false;
  *complete = true;
  return SkipLineEnd(*c, end);
}

Status TextFiles::Rewind(int channel) {
  Channel* c = nullptr;
  Status status = Lookup(channel, true, &c);
  if (!status.ok()) return status;
  c->pos = c->len = 0;
  c->hole = 0;
  c->eof = false;
  c->mid_line = false;
  c->rewind_pending = false;
  return c->file->Rewind();
}

Status TextFiles::WriteLine(int channel, std::string_view text, LineEnd end) {
  Channel* c = nullptr;
  Status status = Lookup(channel, false, &c);
  if (!status.ok()) return status;
  std::string_view terminator = end == LineEnd::kLf     ? "\n"
                                : end == LineEnd::kCr   ? "\r"
                                : end == LineEnd::kNone ? ""
                                                        : "\r\n";
  for (std::string_view part : {text, terminator}) {
    if (c->len + part.size() > c->buffer.size()) {
      status = Flush(channel, false);
      if (!status.ok()) return status;
    }
    if (part.size() > c->buffer.size()) {
      status = c->file->Write(part.data(), part.size());
      if (!status.ok()) return status;
      continue;
    }
    std::memcpy(c->buffer.data() + c->len, part.data(), part.size());
    c->len += part.size();
  }
  return Status::Ok();
}

Status TextFiles::WriteHole(int channel, uint64_t length) {
  Channel* c = nullptr;
  Status status = Flush(channel, false);
  if (status.ok()) status = Lookup(channel, false, &c);
  return status.ok() ? c->file->WriteHole(length) : status;
}

Status TextFiles::Contains(int channel, std::string_view needle, bool* found,
                           const std::function<bool()>& between_blocks) {
  Channel* c = nullptr;
  Status status = Lookup(channel, true, &c);
  if (!status.ok()) return status;
  *found = false;
  // The same needle is searched for in every candidate: its searcher is made once.
  if (!search_ || search_needle_ != needle) {
    search_needle_ = needle;
    search_ = std::make_unique<ByteSearch>(search_needle_);
  }
  const ByteSearch& search = *search_;
  const size_t keep_max = needle.empty() ? 0 : needle.size() - 1;
  for (;;) {
    if (search.FindIn(c->buffer.data() + c->pos, c->len - c->pos)) {
      *found = true;
      break;
    }
    if (c->eof || !between_blocks()) break;
    // Keep the tail that could be the start of a match running into the next block.
    const size_t keep = std::min(keep_max, c->len - c->pos);
    std::memmove(c->buffer.data(), c->buffer.data() + c->len - keep, keep);
    size_t got = 0;
    status = c->Read(c->buffer.data() + keep, c->buffer.size() - keep, &got, &bytes_read_);
    if (!status.ok()) return status;
    c->pos = 0;
    c->len = keep + got;
    c->eof = got == 0;
  }
  c->pos = c->len = 0;
  c->hole = 0;
  c->eof = false;
  c->rewind_pending = true;
  return Status::Ok();
}

}  // namespace quelix
