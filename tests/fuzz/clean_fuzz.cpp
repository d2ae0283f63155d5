// The cleaning of one real file: whatever the file holds, it ends either exactly as it was or
// cleaned (no signature line left as a field, by the scan's own rule), reported as what happened,
// with no copy left beside it.
#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "engine/clean.h"
#include "engine/signature.h"
#include "engine/signature_fields.h"
#include "tests/fuzz/memory_file.h"

namespace quelix {
namespace {

// Token bytes of the input that stand for the virus's lines, so that the fuzzer meets them often.
std::string Expand(const std::string& raw) {
  static const std::string kSignature = SignatureLine();
  static const std::string kMarker = MarkerLine();
  std::string text;
  for (const char c : raw) {
    switch (static_cast<unsigned char>(c)) {
      case 0xF0:
        text += kMarker;
        break;
      case 0xF1:
        text += kSignature;
        break;
      case 0xF2:
        text += "<body ONLOAD=\"VBSCRIPT:kj_start()\">";
        break;
      default:
        text += c;
    }
  }
  return text;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

int Entries(const std::string& dir) {
  int n = 0;
  DIR* d = opendir(dir.c_str());
  while (const dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

}  // namespace
}  // namespace quelix

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quelix;
  static std::unique_ptr<FileSystem> fs = CreateNativeFileSystem();
  static const std::string dir = [] {
    char pattern[] = "/tmp/quelix-clean-fuzz-XXXXXX";
    return std::string(mkdtemp(pattern)) + "/";
  }();
  static const std::string signature = SignatureLine();
  const std::string original = Expand(std::string(reinterpret_cast<const char*>(data), size));
  const std::string path = dir + "a.htm";
  std::ofstream(path, std::ios::binary) << original;

  TextFiles files(*fs);
  SearchedTree tree(*fs);
  if (!tree.Open(dir).ok()) std::abort();
  FileCleaner cleaner(tree, files, signature);
  const CleanResult result = cleaner.CleanFile(path, nullptr);
  const std::string now = ReadAll(path);
  if (Entries(dir) != 1) std::abort();                   // a copy left behind
  if (!result.cleaned && now != original) std::abort();  // changed, yet not cleaned
  if (result.cleaned && FieldReaderFinds(*fs, now, SignatureLine()))
    std::abort();                                                    // cleaned, yet infected
  if (result.cleaned && now.size() > original.size()) std::abort();  // more than was there
  unlink(path.c_str());
  return 0;
}
