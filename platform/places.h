// Where the program is and what it offers to search: the volumes (Linux: the mounted file systems
// with real storage; Windows: the drives), the program's folder, and the places of its readme and
// its event log. Each platform has its own; tests use a fake.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace quelix {

struct Volume {
  std::string root;     // the search root: a mount path ("/mnt/c"), or a drive ("c:")
  std::string caption;  // what the drive chooser shows
  std::string device;   // Linux: "/dev/sda1" or the source the mount table names
  std::string label;    // the file system label where one is known
  std::string type;     // Linux: "ext4", "fuseblk", ...
};

// A place for the event log, best first.
struct LogPlace {
  std::string path;
  bool make_folder = false;  // the folder is the program's own state folder, made when needed
};

class Places {
 public:
  virtual ~Places() = default;

  // The volumes to offer, read afresh at every call (a volume may be mounted meanwhile). Never
  // empty: without a readable mount table the whole tree is the one volume there is.
  virtual std::vector<Volume> Volumes() = 0;
  // The index in `volumes` of the one to show at start: the volume that holds the user's home
  // folder (Linux) or the current drive (Windows); 0 when none does.
  virtual size_t StartVolume(const std::vector<Volume>& volumes) = 0;
  // The folder that holds the running program.
  virtual std::string ProgramDirectory() = 0;
  // The readme handed to the viewer at every start, whether or not it exists.
  virtual std::string ReadmePath() = 0;
  // Where the event log may go, best first.
  virtual std::vector<LogPlace> LogPlaces() = 0;
  // The folder that holds the backups of what Remove replaced, one folder per run (made when
  // first needed, private to the user); "" where no place for it is known.
  virtual std::string BackupFolder() = 0;
};

std::unique_ptr<Places> CreateNativePlaces();

}  // namespace quelix
