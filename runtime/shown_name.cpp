#include "runtime/shown_name.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quelix {
namespace {

// The length of the valid UTF-8 sequence at `text[at]`, with its code point in `*code`; 0 where
// the bytes there are not valid UTF-8 (overlong, surrogate, beyond U+10FFFF, cut short).
size_t Utf8Length(std::string_view text, size_t at, uint32_t* code) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  uint32_t least = 0;
  if (lead < 0x80) {
    *code = lead;
    return 1;
  } else if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2, least = 0x80, *code = lead & 0x1f;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3, least = 0x800, *code = lead & 0x0f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4, least = 0x10000, *code = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xc0) != 0x80) return 0;
    *code = (*code << 6) | (byte(at + i) & 0x3f);
  }
  const bool surrogate = *code >= 0xd800 && *code <= 0xdfff;
  if (*code < least || surrogate || *code > 0x10ffff) return 0;
  return length;
}

// True for the characters a terminal or a text viewer acts on instead of showing.
bool ActsOnScreen(uint32_t code) {
  return code < 0x20 || (code >= 0x7f && code <= 0x9f) || code == 0x2028 || code == 0x2029 ||
         (code >= 0x202a && code <= 0x202e) || (code >= 0x2066 && code <= 0x2069);
}

void Escape(unsigned char byte, std::string* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  switch (byte) {
    case '\n':
      *out += "\\n";
      return;
    case '\r':
      *out += "\\r";
      return;
    case '\t':
      *out += "\\t";
      return;
    default:
      break;
  }
  *out += "\\x";
  *out += kHex[byte >> 4];
  *out += kHex[byte & 0x0f];
}

// True where the character at `at` must be escaped: not valid UTF-8, or acted on by a screen.
// `*length` gets the bytes it spans (one for a byte that is not valid UTF-8).
bool NeedsEscape(std::string_view name, size_t at, size_t* length) {
  uint32_t code = 0;
  *length = Utf8Length(name, at, &code);
  if (*length != 0) return ActsOnScreen(code);
  *length = 1;
  return true;
}

// Whether any of the eight bytes of `word` lies outside printable ASCII (0x20 to 0x7e): below
// 0x20, or with its top bit set once 1 is added (0x7f and up). Exact for the word as a whole.
bool AnyUnprintable(uint64_t word) {
  constexpr uint64_t kEach = 0x0101010101010101u;
  constexpr uint64_t kTop = 0x8080808080808080u;
  const uint64_t below_space = (word - kEach * 0x20) & ~word & kTop;
  const uint64_t del_or_more = ((word + kEach) | word) & kTop;
  return (below_space | del_or_more) != 0;
}

bool HoldsEscape(std::string_view name) {
  // Names are mostly printable ASCII from end to end: eight bytes are looked at at once until
  // a word holds anything else, and from there on each character.
  size_t start = 0;
  for (uint64_t word = 0; start + sizeof word <= name.size(); start += sizeof word) {
    std::memcpy(&word, name.data() + start, sizeof word);
    if (AnyUnprintable(word)) break;
  }
  size_t length = 0;
  for (size_t at = start; at < name.size(); at += length) {
    // Printable ASCII, nearly every byte of a name, needs no decoding.
    const auto byte = static_cast<unsigned char>(name[at]);
    length = 1;
    if (byte >= 0x20 && byte < 0x7f) continue;
    if (NeedsEscape(name, at, &length)) return true;
  }
  return false;
}

// True where a backslash followed by the name's text at `next` would read as an escape.
bool ReadsAsEscape(std::string_view name, size_t next) {
  if (next >= name.size()) return false;
  size_t length = 0;
  if (NeedsEscape(name, next, &length)) return true;  // its escape starts with a backslash
  const char c = name[next];
  return c == 'n' || c == 'r' || c == 't' || c == 'x' || c == '\\';
}

// The bytes of the character or escape that starts at `shown[at]`, and the columns it takes.
size_t UnitLength(std::string_view shown, size_t at, size_t* columns) {
  const auto hex = [&](size_t i) { return std::isxdigit(static_cast<unsigned char>(shown[i])); };
  size_t length = 0;
  if (shown[at] == '\\' && at + 1 < shown.size()) {
    const char next = shown[at + 1];
    if (next == 'x' && at + 3 < shown.size() && hex(at + 2) && hex(at + 3)) length = 4;
    if (next == 'n' || next == 'r' || next == 't' || next == '\\') length = 2;
  }
  *columns = length;
  if (length > 0) return length;
  uint32_t code = 0;
  length = Utf8Length(shown, at, &code);
  *columns = 1;
  return length == 0 ? 1 : length;
}

}  // namespace

std::string ShortenShown(std::string_view shown, size_t width) {
  std::vector<size_t> starts;  // of each character or escape, and the end
  std::vector<size_t> columns;
  size_t total = 0;
  for (size_t at = 0; at < shown.size();) {
    size_t wide = 0;
    starts.push_back(at);
    at += UnitLength(shown, at, &wide);
    columns.push_back(wide);
    total += wide;
  }
  starts.push_back(shown.size());
  if (total <= width) return std::string(shown);
  const size_t head_width = width < 5 ? width : (width - 3) / 2;
  size_t head = 0;
  for (size_t used = 0; head < columns.size() && used + columns[head] <= head_width; ++head) {
    used += columns[head];
  }
  if (width < 5) return std::string(shown.substr(0, starts[head]));
  size_t tail = columns.size();
  for (size_t used = 0; tail > head && used + columns[tail - 1] <= width - 3 - head_width; --tail) {
    used += columns[tail - 1];
  }
  return std::string(shown.substr(0, starts[head])) + "..." +
         std::string(shown.substr(starts[tail]));
}

std::string ShownName(std::string_view name) {
  if (!HoldsEscape(name)) return std::string(name);
  std::string shown;
  shown.reserve(name.size() + 16);
  size_t length = 0;
  for (size_t at = 0; at < name.size(); at += length) {
    if (NeedsEscape(name, at, &length)) {
      for (size_t i = 0; i < length; ++i) Escape(static_cast<unsigned char>(name[at + i]), &shown);
    } else if (name[at] == '\\' && ReadsAsEscape(name, at + 1)) {
      shown += "\\\\";
    } else {
      shown.append(name, at, length);
    }
  }
  return shown;
}

}  // namespace quelix
