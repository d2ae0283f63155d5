// The infection scan: reads every candidate and lists each one that holds the signature line.
#pragma once

#include <string>

#include "engine/window.h"
#include "runtime/text_files.h"

namespace quelix {

class InfectionScan {
 public:
  InfectionScan(Window& window, TextFiles& files, const std::string& signature)
      : window_(window), files_(files), signature_(signature) {}

  // Reads every candidate field by field and appends it to the infected list once for every field
  // equal to the signature line; then shows the infected list. A candidate that cannot be opened
  // or read is skipped. Returns false when the window closed meanwhile.
  bool ScanCandidates();

 private:
  static constexpr int kChannel = 1;
  // Consecutive failed reads after which the rest of a candidate is given up.
  static constexpr int kMaxReadFailures = 3;

  enum class Outcome { kRead, kUnreadable, kClosing };

  // Scans the candidate open on the channel.
  Outcome ScanOpenCandidate(const std::string& name);
  // Reads every field and lists `name` for each one equal to the signature.
  Outcome ReadFields(const std::string& name);

  Window& window_;
  TextFiles& files_;
  const std::string& signature_;
};

}  // namespace quelix
