// gen_drive --seed N --files N --bytes TOTAL [--dirs N] [--depth N] [--max-entries N]
//           [--largest N] [--name-length N] OUTDIR
// Writes a synthetic drive under OUTDIR/drive and, beside it, expected.txt (the infected list the
// Scan command must give for OUTDIR/drive, in its order), candidates.txt and summary.txt.
// TOTAL may end in K, M or G (powers of 1024).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/drive_generator.h"

namespace {

bool ParseCount(const char* text, uint64_t* value) {
  char* end = nullptr;
  const unsigned long long n = std::strtoull(text, &end, 10);
  if (end == text) return false;
  uint64_t unit = 1;
  if (*end == 'K' || *end == 'k') unit = 1ull << 10;
  if (*end == 'M' || *end == 'm') unit = 1ull << 20;
  if (*end == 'G' || *end == 'g') unit = 1ull << 30;
  if (unit != 1) ++end;
  if (*end != '\0') return false;
  *value = n * unit;
  return true;
}

bool ParseArguments(int argc, char** argv, quelix::bench::DriveSpec* spec, std::string* outdir) {
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    uint64_t value = 0;
    if (std::strcmp(argv[i], "--seed") == 0 && has_value && ParseCount(argv[i + 1], &value)) {
      spec->seed = value;
      ++i;
    } else if (std::strcmp(argv[i], "--files") == 0 && has_value &&
               ParseCount(argv[i + 1], &value) && value > 0) {
      spec->files = static_cast<size_t>(value);
      ++i;
    } else if (std::strcmp(argv[i], "--bytes") == 0 && has_value &&
               ParseCount(argv[i + 1], &value)) {
      spec->bytes = value;
      ++i;
    } else if (std::strcmp(argv[i], "--dirs") == 0 && has_value &&
               ParseCount(argv[i + 1], &value)) {
      spec->directories = static_cast<size_t>(value);
      ++i;
    } else if (std::strcmp(argv[i], "--depth") == 0 && has_value &&
               ParseCount(argv[i + 1], &value) && value > 0) {
      spec->depth = static_cast<int>(value);
      ++i;
    } else if (std::strcmp(argv[i], "--max-entries") == 0 && has_value &&
               ParseCount(argv[i + 1], &value)) {
      spec->max_entries = static_cast<size_t>(value);
      ++i;
    } else if (std::strcmp(argv[i], "--largest") == 0 && has_value &&
               ParseCount(argv[i + 1], &value)) {
      spec->largest = static_cast<size_t>(value);
      ++i;
    } else if (std::strcmp(argv[i], "--name-length") == 0 && has_value &&
               ParseCount(argv[i + 1], &value)) {
      spec->name_length = static_cast<size_t>(value);
      ++i;
    } else if (argv[i][0] == '-' || !outdir->empty()) {
      return false;
    } else {
      *outdir = argv[i];
    }
  }
  return !outdir->empty();
}

}  // namespace

int main(int argc, char** argv) {
  quelix::bench::DriveSpec spec;
  std::string outdir;
  if (!ParseArguments(argc, argv, &spec, &outdir)) {
    std::fprintf(stderr,
                 "usage: gen_drive --seed N --files N --bytes TOTAL[K|M|G] [--dirs N] [--depth N] "
                 "[--max-entries N] [--largest N] [--name-length N] OUTDIR\n");
    return 2;
  }
  quelix::bench::DriveReport report;
  std::string error;
  if (!quelix::bench::GenerateDrive(outdir, spec, &report, &error)) {
    std::fprintf(stderr, "gen_drive: %s\n", error.c_str());
    return 1;
  }
  std::printf(
      "%s: %zu files in %zu directories, %llu bytes; %zu candidates (%llu bytes), %zu infected, "
      "%zu near misses, %zu expected entries\n",
      report.root.c_str(), report.files, report.directories,
      static_cast<unsigned long long>(report.bytes), report.candidate_files,
      static_cast<unsigned long long>(report.candidate_bytes), report.infected_files,
      report.near_misses, report.expected.size());
  return 0;
}
