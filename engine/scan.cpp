#include "engine/scan.h"

#include "engine/signature_fields.h"
#include "runtime/shown_name.h"

namespace quelix {

bool InfectionScan::ScanCandidates(const std::vector<bool>* listed_regular,
                                   std::unique_ptr<CandidateOpener> opener) {
  const size_t count = window_.CandidateCount();
  listed_regular_ = listed_regular;
  unreadable_ = 0;
  // Folders may have been swapped since the search; each scan looks them up afresh.
  tree_.ForgetFolders();
  OpenAhead(count, std::move(opener));
  for (size_t i = 0; i < count; ++i) {
    CandidateOpener::Opened candidate = opener_->TakeNext();
    Status opened = candidate.status;
    if (opened.ok()) opened = files_.Attach(kChannel, std::move(candidate.file), true);
    const std::string name = window_.Candidate(i);
    const std::string shown = ShownName(name);
    if (window_.LogSwitch() && !checking_changes_) host_.WriteLog("Scanning " + shown);
    window_.SetStatus("Scanning \r\n" + shown);
    if (!opened.ok()) {
      // Nothing to read: the candidate's one read yields nothing and its reading ends. A folder,
      // pipe or device named like a page holds no page, and a link is never followed (what it
      // leads to is checked where it lies, if below the root); anything else is worth a word.
      if (opened.code() == ErrorCode::kLink) {
        Skipped(name, opened);
      } else if (opened.code() != ErrorCode::kNotAFile &&
                 !(checking_changes_ && opened.code() == ErrorCode::kNotFound)) {
        Unreadable(name, opened);
      }
      if (!host_.YieldPoint()) return Stop();
      continue;
    }
    if (!ScanOne(name)) return Stop();
  }
  // On Windows nobody can rename or delete a folder the program holds: the last one read is let
  // go, so that the user's folders are free between commands.
  Stop();
  window_.SetStatus("Scan complete. The list of infected files is given above.");
  window_.HideCandidates();
  window_.ShowInfected();
  return true;
}

void InfectionScan::OpenAhead(size_t count, std::unique_ptr<CandidateOpener> opener) {
  opener_ = std::move(opener);
  if (opener_) return opener_->Extend(count);
  opener_ = std::make_unique<CandidateOpener>(
      tree_, count, [this](size_t i) { return window_.Candidate(i); },
      [this](size_t i) {
        return listed_regular_ != nullptr && i < listed_regular_->size() && (*listed_regular_)[i];
      });
}

bool InfectionScan::Stop() {
  opener_.reset();
  tree_.ForgetFolders();
  return false;
}

bool InfectionScan::ScanOne(const std::string& name) {
  bool recorded = false;
  const FieldScan outcome = ReadSignatureFields(
      files_, kChannel, signature_, [this] { return host_.YieldPoint(); },
      [&] {
        if (window_.LogSwitch()) host_.WriteLog("Virus found in " + ShownName(name));
        window_.AppendInfected(name);
        FileInfo info;
        if (!recorded && files_.GetInfo(kChannel, &info).ok()) Record(name, info);
        recorded = true;
      });
  std::unique_ptr<File> read;
  if (files_.Detach(kChannel, &read).ok()) opener_->Done(std::move(read));
  if (outcome == FieldScan::kUnreadable) {
    Unreadable(name, {ErrorCode::kIoError, "the file could not be read to its end"});
  }
  return outcome != FieldScan::kStopped;
}

void InfectionScan::Unreadable(const std::string& name, const Status& why) {
  ++unreadable_;
  // Always logged: the status line at the end sends the user to the log for these.
  host_.WriteLog("Could not read " + ShownName(name) + ": " + ShownName(Reason(why)));
  window_.Tell({FileEvent::Kind::kUnreadable, name, Reason(why)});
}

void InfectionScan::Skipped(const std::string& name, const Status& why) {
  if (window_.LogSwitch()) host_.WriteLog("Skipped " + ShownName(name) + ": " + Reason(why));
  window_.Tell({FileEvent::Kind::kSkipped, name, Reason(why)});
}

uint64_t InfectionScan::OtherNamesFound(const std::string& path, const FileInfo& original) const {
  uint64_t names = 0;
  for (const auto& [name, info] : found_as_) {
    names += name != path && info.volume == original.volume && info.file_id == original.file_id;
  }
  return names;
}

const FileInfo* InfectionScan::FoundAs(const std::string& path) const {
  const auto it = found_as_.find(path);
  return it == found_as_.end() ? nullptr : &it->second;
}

}  // namespace quelix
