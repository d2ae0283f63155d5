// The disinfection engine: the commands the window's buttons run, acting on the window through
// the Window interface and on the drive through the platform's file services.
#pragma once

#include <string>

#include "engine/scan.h"
#include "engine/search.h"
#include "engine/window.h"
#include "platform/file_system.h"
#include "runtime/text_files.h"

namespace quelix {

class Engine {
 public:
  // Prepares the signature line; `window` and `fs` must outlive the engine.
  Engine(Window& window, FileSystem& fs);

  // The Scan command: announces the search, lists the candidates of the chosen drive, then scans
  // them. Returns false when the window closed meanwhile; the command has then stopped.
  bool ScanCommand();

  CandidateSearch& search() { return search_; }
  InfectionScan& scan() { return scan_; }
  const std::string& signature() const { return signature_; }

 private:
  Window& window_;
  FileSystem& fs_;
  TextFiles files_;
  std::string signature_;
  CandidateSearch search_;
  InfectionScan scan_;
};

}  // namespace quelix
