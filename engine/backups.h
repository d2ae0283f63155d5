// The runs in the backup store: listed for people, found by name, and pruned by age.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace quelix {

struct RunSummary {
  std::string name;                            // "20261207T140512Z-1"
  std::string path;                            // the run's folder
  std::chrono::system_clock::time_point time;  // when it began
  std::vector<std::string> roots;              // the folders it cleaned
  size_t files = 0;                            // originals kept
  size_t values = 0;                           // registry values kept
};

// The runs in `folder`, oldest first. A folder that does not exist holds none.
Status ListRuns(FileSystem& fs, const std::string& folder, std::vector<RunSummary>* runs);

// The run `which` names: "" the latest, else a run's name in `folder` or the path of its folder.
Status FindRun(FileSystem& fs, const std::string& folder, const std::string& which,
               std::string* run);

// Deletes the runs in `folder` that began more than `days` days before `now`, naming each in
// `*removed`.
Status PruneRuns(FileSystem& fs, const std::string& folder, int days,
                 std::chrono::system_clock::time_point now, std::vector<std::string>* removed);

}  // namespace quelix
