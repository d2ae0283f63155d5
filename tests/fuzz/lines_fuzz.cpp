// The cleaning's line reading: a line streamed in parts of any size is the line read whole, with
// the same end; and a line holds the signature as a field exactly when the scan's field reader,
// given that line alone, finds it.
#include <cstdlib>

#include "engine/signature_fields.h"
#include "tests/fuzz/memory_file.h"

namespace quelix {
namespace {

constexpr int kWhole = 1;
constexpr int kParts = 2;

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
  if (!files.Attach(kWhole, std::make_unique<MemoryFile>(content, read_size), true).ok())
    std::abort();
  if (!files.Attach(kParts, std::make_unique<MemoryFile>(content, read_size), true).ok())
    std::abort();
  LineFieldMatcher matcher(signature);
  for (;;) {
    std::string line;
    LineEnd end = LineEnd::kNone;
    const Status whole = files.ReadLine(kWhole, &line, &end);
    std::string joined;
    std::string part;
    bool complete = false;
    LineEnd part_end = LineEnd::kNone;
    Status parts;
    do {
      parts = files.ReadLinePart(kParts, &part, part_size, &complete, &part_end);
      if (parts.ok()) joined += part;
      if (parts.ok()) matcher.Feed(part);
    } while (parts.ok() && !complete);
    if (whole.code() != parts.code()) std::abort();
    if (!whole.ok()) break;
    if (joined != line || end != part_end) std::abort();
    if (matcher.Finish() != FieldReaderFinds(*fs, line, signature)) std::abort();
  }
  return 0;
}
