// The disinfection engine: the commands the window's buttons run, acting on the window through
// the Window interface, on the drive through the platform's file services and on the registry
// through the platform's Registry.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/clean.h"
#include "engine/scan.h"
#include "engine/search.h"
#include "engine/tree.h"
#include "engine/window.h"
#include "platform/file_system.h"
#include "platform/registry.h"
#include "runtime/text_files.h"

namespace quelix {

// Opens the registry to repair for the drive whose search root is given.
using RegistryOpener = std::function<std::unique_ptr<Registry>(const std::string& search_root)>;

// What the Remove command did to one file of the infected list.
struct RemovalResult {
  std::string path;
  CleanResult result;
};

class Engine {
 public:
  // Prepares the signature line; `window` and `fs` must outlive the engine.
  Engine(Window& window, FileSystem& fs, RegistryOpener open_registry = CreateNativeRegistry);

  // The Scan command: announces the search, lists the candidates of the chosen drive, then scans
  // them. Returns false when the window closed meanwhile; the command has then stopped.
  bool ScanCommand();

  // The Remove command: cleans every file of the infected list, repairs the registry after each,
  // and tells the user the outcome in a message box. It passes no yield point.
  void RemoveCommand();

  // The outcome for each file of the last Remove command, in list order.
  const std::vector<RemovalResult>& removal() const { return removal_; }

  CandidateSearch& search() { return search_; }
  InfectionScan& scan() { return scan_; }
  const std::string& signature() const { return signature_; }

 private:
  // Repairs the registry and keeps each problem it reports once, for the log.
  void Repair(std::unique_ptr<Registry>& registry, std::vector<std::string>* problems);
  // Logs what the cleaning of `path` left behind: metadata it could not keep, other names.
  void LogLeftovers(const std::string& path, const CleanResult& result);
  std::string Summary(size_t cleaned, size_t registry_problems) const;

  Window& window_;
  FileSystem& fs_;
  TextFiles files_;
  SearchedTree tree_;
  std::string signature_;
  CandidateSearch search_;
  InfectionScan scan_;
  FileCleaner cleaner_;
  RegistryOpener open_registry_;
  std::vector<RemovalResult> removal_;
  uint64_t other_names_ = 0;  // of the files the last Remove command cleaned
};

}  // namespace quelix
