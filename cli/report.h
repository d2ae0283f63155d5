// What `quelix scan` and `quelix remove` tell, line by line, the moment each thing is known: the
// results on standard output (plain lines, or JSON Lines with --json), and every file or folder
// not handled on standard error with its reason. Every line is flushed as it is written, so that
// a pipe or a file holds what was done even where the program is stopped.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "engine/other_names.h"
#include "engine/registry_repair.h"
#include "engine/window.h"

namespace quelix {

// `bytes` as a JSON string, quotes included: valid UTF-8 as it is; '"', '\' and the control
// characters escaped (\n, \r, \t, \b, \f, else \u00XX); every byte that is not part of valid
// UTF-8 as \udcXX, XX its value (80 to ff): a lone low surrogate, which no valid text holds, so
// that the exact bytes can be recovered (Python's "surrogateescape" reads them back so).
std::string JsonString(std::string_view bytes);

// What a run of scan or remove came to, for its summary.
struct RunCounts {
  const char* command = "scan";
  size_t checked = 0;
  size_t infected = 0;  // distinct files
  size_t unreadable = 0;
  size_t unsearched = 0;  // folders, the PATHs that could not be searched among them
  size_t skipped = 0;
  size_t cleaned = 0;
  size_t not_cleaned = 0;
  double seconds = 0;
  bool stopped = false;  // by Ctrl+C or SIGTERM, before every PATH was done
  int exit_status = 0;
};

class Reporter {
 public:
  // With `quiet`, files skipped by design (links) go unmentioned.
  Reporter(std::ostream& out, std::ostream& err, bool json, bool quiet);

  void Found(const std::string& path);
  // A file cleaned, not cleaned, skipped, not read; a folder not searched.
  void Tell(const FileEvent& event);
  // A PATH that could not be searched at all.
  void RootUnsearched(const std::string& path, const std::string& reason);
  // Where the other names of a cleaned file that still hold the virus are: each found below
  // `path`, the PATH searched, by its name, the rest as a count.
  void NamesLeft(const OtherNamesLeft& left, const std::string& path);
  void RegistryFound(const RegistryValueRef& value);
  void RegistryDeleted(const RegistryValueRef& value);
  void RegistryNotDeleted(const RegistryValueRef& value, const std::string& reason);
  // The backup run `run` holds its first original: said once per run.
  void Kept(const std::string& run);
  // quelix watch started watching `path`: `folders` folders, kept by `method`.
  void Watching(const std::string& path, size_t folders, const std::string& method);
  // A folder below a watched PATH that is not watched, for `reason`.
  void NotWatched(const std::string& folder, const std::string& reason);
  // The system dropped word of some changes: the files they touched were not checked.
  void Missed(const std::string& reason);
  // A file changed that the watch did not check, for `reason` (it was stopped first).
  void NotChecked(const std::string& path, const std::string& reason);
  // The summary line on standard error (and with --json a "summary" object on standard output).
  void Summary(const RunCounts& counts);

  size_t skipped() const { return skipped_; }
  size_t cleaned() const { return cleaned_; }
  size_t not_cleaned() const { return not_cleaned_; }

 private:
  // One result: `text` on standard output, or with --json the object of `json_fields`.
  void Result(const std::string& text, const std::string& json_fields);
  // One line on standard error, after "quelix: ".
  void Problem(const std::string& text);
  void Event(const FileEvent& event);

  std::ostream& out_;
  std::ostream& err_;
  const bool json_;
  const bool quiet_;
  std::string kept_;
  size_t skipped_ = 0;
  size_t cleaned_ = 0;
  size_t not_cleaned_ = 0;
};

}  // namespace quelix
