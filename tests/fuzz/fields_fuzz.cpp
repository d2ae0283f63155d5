// The scan's field reading: with the fast byte search first and fields kept only up to the
// signature's length, it must find exactly the fields that reading every field whole finds.
#include <cstdlib>

#include "engine/signature.h"
#include "engine/signature_fields.h"
#include "tests/fuzz/memory_file.h"

namespace quelix {
namespace {

constexpr int kChannel = 1;

// How often the whole field equals `signature`, reading every field in full.
int CountWholeFields(TextFiles& files, const std::string& signature) {
  int found = 0;
  std::string field;
  for (;;) {
    const Status read = files.ReadField(kChannel, &field);
    if (read.ok() && field == signature) ++found;
    bool at_end = false;
    if (!files.AtEnd(kChannel, &at_end).ok() || at_end) return found;
  }
}

}  // namespace
}  // namespace quelix

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quelix;
  static std::unique_ptr<FileSystem> fs = CreateNativeFileSystem();
  FuzzInput input(data, size);
  const size_t read_size = input.Byte();
  // A short signature drawn from the input makes matches common; 0 means the virus's own.
  const size_t length = input.Byte() % 9;
  const std::string signature = length == 0 ? SignatureLine() : input.Take(length);
  const std::string content = input.Rest();

  TextFiles files(*fs);
  if (!files.Attach(kChannel, std::make_unique<MemoryFile>(content, read_size), true).ok())
    std::abort();
  const int expected = CountWholeFields(files, signature);
  if (!files.Close(kChannel).ok()) std::abort();  // a file in memory has nothing to fail

  if (!files.Attach(kChannel, std::make_unique<MemoryFile>(content, read_size), true).ok())
    std::abort();
  int found = 0;
  const FieldScan outcome = ReadSignatureFields(
      files, kChannel, signature, [] { return true; }, [&] { ++found; });
  if (!files.Close(kChannel).ok()) std::abort();
  if (outcome != FieldScan::kRead || found != expected) std::abort();
  return 0;
}
