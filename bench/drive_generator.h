// A synthetic drive for measuring and checking the Scan command: a deep directory tree of web
// pages, scripts and other files, a few of them infected the way the virus does it, many of them
// almost infected, together with the infected list the Scan command must give for it.
//
// The expected list is worked out here on its own terms, without the engine's code: every planted
// signature line is counted where it is planted, the count is checked with a plain whole-file field
// reader, and the order comes from listing the written tree with readdir, as the walk does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quelix::bench {

struct DriveSpec {
  uint64_t seed = 1;
  size_t files = 1000;           // regular files, candidates and others
  uint64_t bytes = 32ull << 20;  // about this many bytes of file content in all
  size_t directories = 0;        // about this many folders; 0: one for every 30 files
  int depth = 10;                // the deepest folders sit this many levels down
  size_t max_entries = 3000;     // the largest folders hold up to this many files
  size_t largest = 0;            // where not 0: one folder holds this many files besides
  size_t name_length = 0;        // where not 0: folder names and file stems about this long
};

struct DriveReport {
  std::string root;  // OUTDIR/drive: the folder to give the Scan command
  size_t files = 0;
  size_t directories = 0;
  size_t candidate_files = 0;  // regular files that match a pattern
  uint64_t bytes = 0;
  uint64_t candidate_bytes = 0;
  size_t infected_files = 0;  // candidates holding the signature line as a field at least once
  size_t near_misses = 0;     // candidates holding something close to it, but no such field
  std::vector<std::string> expected;    // the infected list, in the order the Scan command gives
  std::vector<std::string> candidates;  // every candidate regular file, in walk order
};

// Builds the tree under `outdir`/drive (which must not exist yet) from `spec`, deterministically
// from the seed, and writes `outdir`/expected.txt (the infected list, one path per line),
// `outdir`/candidates.txt (every candidate regular file) and `outdir`/summary.txt. Returns false
// with `*error` set when a file or directory cannot be written.
bool GenerateDrive(const std::string& outdir, const DriveSpec& spec, DriveReport* report,
                   std::string* error);

// The number of fields of `content` equal to `signature`, reading the whole text the way the
// scan's field reader does: blanks (space, tab) skipped before and dropped after an unquoted field;
// a field opening with a double quote runs to the next one, across line ends, and the rest up to a
// comma or line end is dropped; CR, CR LF and LF end a line.
size_t CountSignatureFields(std::string_view content, std::string_view signature);

// True when `name` matches one of the six patterns ("*.htm" ... "folder.htt"), ignoring the case
// of ASCII letters; `*pattern` receives the pattern's index.
bool MatchesCandidatePattern(std::string_view name, size_t* pattern);

// The signature line and the marker line, spelt out here so that the expectation does not
// borrow the engine's constants.
std::string BenchSignature();
std::string BenchMarker();

}  // namespace quelix::bench
