// The pieces of a synthetic drive: a seeded random source that gives the same drive on every
// machine, names, and file contents with or without a planted signature line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quelix::bench {

// splitmix64: small, fast, and the same sequence everywhere (the standard distributions are not).
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n); n > 0.
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }
  // Uniform in [lo, hi].
  size_t Between(size_t lo, size_t hi) { return lo + Below(hi - lo + 1); }
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  bool Chance(double p) { return Unit() < p; }

 private:
  uint64_t state_;
};

// How a signature line is (or is almost) planted in a candidate.
enum class Plant {
  kNone,
  // Infections: the marker line, then the signature line as a field.
  kPlain,           // on its own line
  kLeadingBlanks,   // preceded by blanks
  kCommaMore,       // followed by ",more"
  kAfterField,      // after "x,"
  kTwice,           // two signature lines: listed twice
  kTrailingBlanks,  // followed by blanks
  kAtEnd,           // the last bytes of the file, no line end
  kBinary,          // on its own line inside binary data with NUL bytes
  kStraddle,        // across the 256 KiB boundary where the reader's first block ends
  // Near misses: the signature's text or bytes, but no field equal to it.
  kCaseChanged,  // one letter in the other case
  kTruncated,    // cut short by the end of the file
  kQuotedSpan,   // swallowed by a quoted field opened on the line before
  kExtraText,    // followed by more text without a comma
  kCount,
};

enum class ContentKind { kHtml, kScript, kText, kBinary };

// The number of signature fields a plant puts in a file.
size_t PlantedFields(Plant plant);
bool IsNearMiss(Plant plant);

// Replaces `*out` with about `size` bytes of `kind` content holding `plant`. The filler never
// holds the signature's text, and every quote it opens it closes on the same line.
void MakeContent(Rng& rng, ContentKind kind, Plant plant, size_t size, std::string* out);

// A directory name: mostly plain words, some with blanks, non-ASCII bytes or a leading dot.
std::string DirectoryName(Rng& rng);
// A file name without extension, in the same mix.
std::string FileStem(Rng& rng);

}  // namespace quelix::bench
