// The field reader of TextFiles: comma-separated fields, quoted or not, across line ends.
#include <algorithm>
#include <cstring>

#include "runtime/text_channel.h"

namespace quelix {
namespace {

// Index of the first byte in [from, to) that ends an unquoted field, or `to`.
size_t FindFieldEnd(const char* data, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    const char c = data[i];
    if (c == ',' || c == '\r' || c == '\n') return i;
  }
  return to;
}

}  // namespace

// Collects a field's bytes up to a limit; beyond it only notes whether text was dropped.
struct TextFiles::FieldBuilder {
  std::string* field;
  size_t limit;
  bool dropped = false;

  // `blanks_count`: whether a dropped blank makes the field longer (inside quotes it does; at the
  // end of an unquoted field blanks are dropped anyway).
  void Append(const char* data, size_t n, bool blanks_count) {
    const size_t room = limit > field->size() ? limit - field->size() : 0;
    const size_t take = std::min(room, n);
    field->append(data, take);
    for (size_t i = take; i < n && !dropped; ++i) dropped = blanks_count || !IsBlank(data[i]);
  }
};

Status TextFiles::ReadField(int channel, std::string* field) {
  bool longer = false;
  return ReadField(channel, field, std::string::npos, &longer);
}

Status TextFiles::ReadField(int channel, std::string* field, size_t max_length, bool* longer) {
  Channel* c = nullptr;
  Status status = Lookup(channel, true, &c);
  if (!status.ok()) return status;
  field->clear();
  *longer = false;
  int byte = 0;
  for (;;) {
    status = Peek(*c, &byte);
    if (!status.ok()) return status;
    if (!IsBlank(byte)) break;
    ++c->pos;
  }
  if (byte < 0) return {ErrorCode::kEndOfInput, "no field remains"};
  if (IsLineEnd(byte)) {
    LineEnd end;
    return SkipLineEnd(*c, &end);
  }
  FieldBuilder builder{field, max_length};
  status = byte == '"' ? ReadQuoted(*c, builder) : ReadUnquoted(*c, builder);
  *longer = builder.dropped;
  return status;
}

Status TextFiles::ReadUnquoted(Channel& c, FieldBuilder& field) {
  for (;;) {
    Status status = Fill(c);
    if (!status.ok()) return status;
    if (c.pos == c.len) break;  // end of input ends the field
    const size_t end = FindFieldEnd(c.buffer.data(), c.pos, c.len);
    field.Append(c.buffer.data() + c.pos, end - c.pos, false);
    c.pos = end;
    if (end < c.len) break;
  }
  std::string& text = *field.field;
  if (!field.dropped) {
    while (!text.empty() && IsBlank(text.back())) text.pop_back();
  }
  int byte = 0;
  Status status = Peek(c, &byte);
  if (!status.ok()) return status;
  if (byte == ',') {
    ++c.pos;
    return Status::Ok();
  }
  LineEnd end;
  return SkipLineEnd(c, &end);
}

Status TextFiles::ReadQuoted(Channel& c, FieldBuilder& field) {
  ++c.pos;  // the opening quote
  for (;;) {
    Status status = Fill(c);
    if (!status.ok()) return status;
    if (c.pos == c.len) return Status::Ok();  // no closing quote: the field runs to the end
    const char* start = c.buffer.data() + c.pos;
    const void* quote = std::memchr(start, '"', c.len - c.pos);
    const size_t n =
        quote ? static_cast<size_t>(static_cast<const char*>(quote) - start) : c.len - c.pos;
    field.Append(start, n, true);
    c.pos += n;
    if (quote) {
      ++c.pos;
      break;
    }
  }
  return SkipToNextField(c);
}

// After a closing quote, the rest of the text up to the next comma or line end belongs to no field.
Status TextFiles::SkipToNextField(Channel& c) {
  for (;;) {
    Status status = Fill(c);
    if (!status.ok()) return status;
    if (c.pos == c.len) return Status::Ok();
    const size_t end = FindFieldEnd(c.buffer.data(), c.pos, c.len);
    c.pos = end;
    if (end < c.len) break;
  }
  if (c.buffer[c.pos] == ',') {
    ++c.pos;
    return Status::Ok();
  }
  LineEnd end;
  return SkipLineEnd(c, &end);
}

}  // namespace quelix
