// The infection scan: reads every candidate and lists each one that holds the signature line.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/candidate_opener.h"
#include "engine/tree.h"
#include "engine/window.h"
#include "platform/file_system.h"
#include "runtime/text_files.h"

namespace quelix {

class InfectionScan {
 public:
  InfectionScan(Window& window, CommandHost& host, SearchedTree& tree, TextFiles& files,
                const std::string& signature)
      : window_(window), host_(host), tree_(tree), files_(files), signature_(signature) {}

  // Reads every candidate field by field and appends it to the infected list once for every field
  // equal to the signature line; then shows the infected list. A candidate that cannot be opened
  // or read is skipped and logged ("Could not read"); a link is skipped as no error ("Skipped").
  // Returns false when the window closed meanwhile. `listed_regular`, where given, says for each
  // candidate whether the search's listing gave it as a regular file. `opener`, where given, is
  // the search's (CandidateSearch::TakeOpener), which began opening this very list.
  bool ScanCandidates(const std::vector<bool>* listed_regular = nullptr,
                      std::unique_ptr<CandidateOpener> opener = nullptr);
  // With `checking`, the scan is a watch's check of files that just changed: a candidate that no
  // longer exists is neither counted nor told, and no candidate is logged "Scanning " (only what
  // is found in it or goes wrong), so that a busy server's log grows with findings, not saves.
  void CheckingChanges(bool checking) { checking_changes_ = checking; }
  // The candidates of the last scan that could not be opened or read.
  size_t unreadable() const { return unreadable_; }

  // How an infected file was when the scan found it, so that the cleaning can tell whether it
  // changed since; null for a path the scan has not found infected.
  const FileInfo* FoundAs(const std::string& path) const;
  // Records how `path` is now, after the program itself rewrote it.
  void Record(const std::string& path, const FileInfo& now) { found_as_[path] = now; }
  // How many infected names other than `path` the scan found to be the file `original` (hard
  // links of it), and that the program has not rewritten since: each is cleaned, or reported, in
  // its own turn.
  uint64_t OtherNamesFound(const std::string& path, const FileInfo& original) const;

 private:
  static constexpr int kChannel = 1;

  // Has the `count` candidates opened ahead of the reading: by `opener` where the search began
  // it, else afresh.
  void OpenAhead(size_t count, std::unique_ptr<CandidateOpener> opener);
  // Closes what was opened ahead and lets go of the last folder; returns false.
  bool Stop();
  // Reads the candidate open on the channel; false when the window closed meanwhile.
  bool ScanOne(const std::string& name);
  void Unreadable(const std::string& name, const Status& why);
  // A candidate left alone by design: a link.
  void Skipped(const std::string& name, const Status& why);

  Window& window_;
  CommandHost& host_;
  SearchedTree& tree_;
  TextFiles& files_;
  const std::string& signature_;
  std::unordered_map<std::string, FileInfo> found_as_;
  size_t unreadable_ = 0;
  bool checking_changes_ = false;
  std::unique_ptr<CandidateOpener> opener_;  // during a scan
  const std::vector<bool>* listed_regular_ = nullptr;
};

}  // namespace quelix
