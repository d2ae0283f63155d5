// The cleaning's line reading: a line streamed in parts of any size (each but its last one full)
// is the line as CR, LF and CR LF end it, with the same end; and a line holds the signature as a
// field exactly when the scan's field reader, given that line alone, finds it.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "engine/signature_fields.h"
#include "tests/fuzz/memory_file.h"

namespace quelix {
namespace {

constexpr int kParts = 1;

// The line of `content` that starts at `*at`, and where the next one starts; false at the end.
bool NextLine(const std::string& content, size_t* at, std::string* line, LineEnd* end) {
  if (*at >= content.size()) return false;
  const size_t stop = std::min(content.find_first_of("\r\n", *at), content.size());
  *line = content.substr(*at, stop - *at);
  if (stop == content.size()) {
    *end = LineEnd::kNone;
  } else if (content[stop] == '\n') {
    *end = LineEnd::kLf;
  } else {
    *end = content.compare(stop, 2, "\r\n") == 0 ? LineEnd::kCrLf : LineEnd::kCr;
  }
  *at = stop + (*end == LineEnd::kCrLf ? 2 : *end == LineEnd::kNone ? 0 : 1);
  return true;
}

}  // namespace
}  // namespace quelix

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quelix;
  static std::unique_ptr<FileSystem> fs = CreateNativeFileSystem();
  FuzzInput input(data, size);
  const size_t read_size = input.Byte();
  const size_t part_size = 1 + input.Byte() % 16;
  // The virus's signature holds a double quote, so no quoted field can ever equal it; the matcher
  // counts on that, and so does the signature drawn here.
  std::string signature = input.Take(input.Byte() % 8);
  signature.insert(input.Byte() % (signature.size() + 1), 1, '"');
  const std::string content = input.Rest();

  TextFiles files(*fs);
  if (!files.Attach(kParts, std::make_unique<MemoryFile>(content, read_size), true).ok())
    std::abort();
  LineFieldMatcher matcher(signature);
  for (size_t at = 0;;) {
    std::string line;
    LineEnd end = LineEnd::kNone;
    const bool more = NextLine(content, &at, &line, &end);
    std::string joined;
    std::string part;
    bool complete = false;
    LineEnd part_end = LineEnd::kNone;
    Status parts;
    do {
      parts = files.ReadLinePart(kParts, &part, part_size, &complete, &part_end);
      if (parts.ok() && !complete && part.size() != part_size) std::abort();
      if (parts.ok()) joined += part;
      if (parts.ok()) matcher.Feed(part);
    } while (parts.ok() && !complete);
    if (parts.code() != (more ? ErrorCode::kOk : ErrorCode::kEndOfInput)) std::abort();
    if (!more) break;
    if (joined != line || end != part_end) std::abort();
    if (matcher.Finish() != FieldReaderFinds(*fs, line, signature)) std::abort();
  }
  return 0;
}
