#include "engine/scan.h"

namespace quelix {

bool InfectionScan::ScanCandidates() {
  const size_t count = window_.CandidateCount();
  for (size_t i = 0; i < count; ++i) {
    const Status opened = files_.OpenInput(kChannel, window_.Candidate(i));
    if (window_.LogSwitch()) window_.WriteLog("Scanning " + window_.Candidate(i));
    window_.SetStatus("Scanning \r\n" + window_.Candidate(i));
    Outcome outcome = Outcome::kRead;
    if (opened.ok()) {
      outcome = ScanOpenCandidate(window_.Candidate(i));
      files_.Close(kChannel);
    } else if (!window_.YieldPoint()) {
      outcome = Outcome::kClosing;
    }
    if (outcome == Outcome::kClosing) return false;
    if (outcome == Outcome::kUnreadable && window_.LogSwitch()) {
      window_.WriteLog("Could not read " + window_.Candidate(i));
    }
  }
  window_.SetStatus("Scan complete. The list of infected files is given above.");
  window_.HideCandidates();
  window_.ShowInfected();
  return true;
}

InfectionScan::Outcome InfectionScan::ScanOpenCandidate(const std::string& name) {
  // A field equal to the signature is a run of the file's bytes, so a file without those bytes
  // anywhere has no such field; only the few that hold them are read field by field.
  bool open = true;
  bool found = false;
  const Status searched = files_.Contains(kChannel, signature_, &found, [&] {
    open = window_.YieldPoint();
    return open;
  });
  if (!open) return Outcome::kClosing;
  if (!searched.ok()) {
    // Read what can be read the exact way; the field reader meets the same fault and gives up.
    files_.Close(kChannel);
    if (!files_.OpenInput(kChannel, name).ok()) return Outcome::kUnreadable;
    found = true;
  }
  if (!found) return window_.YieldPoint() ? Outcome::kRead : Outcome::kClosing;
  return ReadFields(name);
}

InfectionScan::Outcome InfectionScan::ReadFields(const std::string& name) {
  std::string field;
  bool longer = false;
  int failures = 0;
  for (;;) {
    // Only as much of a field as the signature is kept: a longer field cannot equal it.
    const Status read = files_.ReadField(kChannel, &field, signature_.size(), &longer);
    if (read.ok()) {
      failures = 0;
      if (!longer && field == signature_) {
        if (window_.LogSwitch()) window_.WriteLog("Virus found in " + name);
        window_.AppendInfected(name);
      }
    } else if (read.code() != ErrorCode::kEndOfInput && ++failures >= kMaxReadFailures) {
      return Outcome::kUnreadable;
    }
    if (!window_.YieldPoint()) return Outcome::kClosing;
    bool at_end = false;
    const Status tested = files_.AtEnd(kChannel, &at_end);
    if (tested.code() == ErrorCode::kBadChannel) return Outcome::kUnreadable;
    if (!tested.ok() && ++failures >= kMaxReadFailures) return Outcome::kUnreadable;
    if (at_end) return Outcome::kRead;
  }
}

}  // namespace quelix
