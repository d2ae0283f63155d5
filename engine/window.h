// What the commands work with besides the files: the window, whose lists and controls they read
// and write, and the host that runs them, which keeps the event log and lets the window take in
// input between steps. Every front end (the two windows, the headless driver, the command-line
// program) is a Window; the command controller is the host. Engine tests record both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quelix {

// What became of one file or folder, the moment it is known: for a front end that tells each
// result as it happens (the command line). The windows show the lists and the log instead.
struct FileEvent {
  enum class Kind {
    kCleaned,     // `path` was cleaned; `other_names` of it (hard links) still hold the virus
    kNotCleaned,  // `path` could not be cleaned, for `reason`
    kSkipped,     // `path` was left alone by design (a link), for `reason`; no error
    kUnreadable,  // the candidate `path` could not be read, for `reason`
    kUnsearched,  // the folder `path` could not be searched, for `reason`
  };
  Kind kind;
  std::string path;  // the real bytes of the name
  std::string reason;
  uint64_t other_names = 0;
};

class Window {
 public:
  virtual ~Window() = default;

  // Candidate list (List1): an ordered list of full paths.
  virtual void ClearCandidates() = 0;
  virtual void AppendCandidate(const std::string& path) = 0;
  virtual size_t CandidateCount() const = 0;
  virtual std::string Candidate(size_t index) const = 0;
  virtual void HideCandidates() = 0;

  // Infected list (lInfected): an ordered list of full paths, duplicates allowed; each scan clears
  // it first, so that it always holds the last scan's findings.
  virtual void ClearInfected() = 0;
  virtual void AppendInfected(const std::string& path) = 0;
  virtual size_t InfectedCount() const = 0;
  virtual std::string Infected(size_t index) const = 0;
  virtual void ShowInfected() = 0;

  // Status line (Label1). `text` may hold one "\r\n" line break.
  virtual void SetStatus(const std::string& text) = 0;

  // Log switch (cLog): true while checked. Read at the moment of every gated entry.
  virtual bool LogSwitch() const = 0;

  // The directory the search starts from for the drive the chooser (Drive1) shows: on Windows the
  // designation's first two characters ("c:"), on Linux the volume's mount path.
  virtual std::string SearchRoot() const = 0;

  // Tells what became of one file or folder, as it happens. Nothing by default.
  virtual void Tell(const FileEvent&) {}
};

class CommandHost {
 public:
  virtual ~CommandHost() = default;

  // Log sink: appends one entry to the event log.
  virtual void WriteLog(const std::string& entry) = 0;
  // Hands the entries written so far to the OS. The engine calls it after every cleaned file and
  // at the end of the Remove command; the controller also flushes at the end of every command.
  virtual void FlushLog() = 0;

  // Yield point: lets the window process its pending events. Returns false once the window is
  // closing; the running command must then stop (a Remove command once the file it is cleaning
  // is done).
  virtual bool YieldPoint() = 0;
};

}  // namespace quelix
