// Places for tests: the volumes, program folder, readme and log places a test chooses.
#pragma once

#include <string>
#include <vector>

#include "platform/places.h"

namespace quelix {

class FakePlaces : public Places {
 public:
  std::vector<Volume> volumes;
  size_t start_volume = 0;
  std::string program_dir;
  std::string readme;
  std::vector<LogPlace> log_places;
  std::string backup_folder;
  int volume_reads = 0;  // how often the volumes were read

  std::vector<Volume> Volumes() override {
    ++volume_reads;
    return volumes;
  }
  size_t StartVolume(const std::vector<Volume>&) override { return start_volume; }
  std::string ProgramDirectory() override { return program_dir; }
  std::string ReadmePath() override { return readme; }
  std::vector<LogPlace> LogPlaces() override { return log_places; }
  std::string BackupFolder() override { return backup_folder; }
};

}  // namespace quelix
