// A front end without a screen (the command line, the headless driver): the two lists are plain
// vectors, nothing is hidden or shown, and the log switch is always checked.
#pragma once

#include <string>
#include <vector>

#include "app/front_end.h"
#include "runtime/path_list.h"

namespace quelix {

class ListedFrontEnd : public FrontEnd {
 public:
  void ClearCandidates() override { candidates_.Clear(); }
  void AppendCandidate(const std::string& path) override { candidates_.Append(path); }
  size_t CandidateCount() const override { return candidates_.size(); }
  std::string Candidate(size_t index) const override { return candidates_[index]; }
  void HideCandidates() override {}
  void ClearInfected() override { infected_.clear(); }
  void AppendInfected(const std::string& path) override { infected_.push_back(path); }
  size_t InfectedCount() const override { return infected_.size(); }
  std::string Infected(size_t index) const override { return infected_[index]; }
  void ShowInfected() override {}
  bool LogSwitch() const override { return true; }
  std::string SearchRoot() const override { return root_; }

  // The folder the next command searches.
  void SetRoot(std::string root) { root_ = std::move(root); }
  const std::vector<std::string>& infected() const { return infected_; }

 protected:
  std::string root_;
  PathList candidates_;
  std::vector<std::string> infected_;
};

}  // namespace quelix
