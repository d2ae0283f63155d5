// The disinfection engine: the commands the window's buttons run, acting on the window through
// the Window interface, logging and yielding through its CommandHost, on the drive through the
// platform's file services and on the registry through the platform's Registry.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/beside_keeper.h"
#include "engine/clean.h"
#include "engine/other_names.h"
#include "engine/registry_repair.h"
#include "engine/scan.h"
#include "engine/search.h"
#include "engine/tree.h"
#include "engine/window.h"
#include "platform/file_system.h"
#include "platform/keeper.h"
#include "platform/registry.h"
#include "runtime/text_files.h"

namespace quelix {

// Opens the registry to repair for the drive whose search root, held open by the command, is given.
using RegistryOpener = std::function<std::unique_ptr<Registry>(Directory& root)>;

// What the last Scan command found.
struct ScanReport {
  bool done = false;  // a scan ran to its end
  std::string root;   // where it searched
  size_t candidates = 0;
  size_t infected = 0;         // entries of the infected list
  size_t unreadable = 0;       // candidates that could not be opened or read
  size_t unsearched = 0;       // folders the walk could not search
  bool root_searched = false;  // the folder the search starts from could be opened
  Status root_status;          // else why not
  // The virus's registry values present in the searched volume's registry.
  std::vector<RegistryValueRef> registry_found;
};

// What the Remove command did to one file of the infected list.
struct RemovalResult {
  std::string path;
  CleanResult result;
};

// What the last Remove command did.
struct RemovalReport {
  // One per distinct listed file, in list order, with the outcome of its last entry.
  std::vector<RemovalResult> files;
  size_t cleaned = 0;        // distinct files
  uint64_t other_names = 0;  // hard links of cleaned files, which still hold it
  // The cleaned files that have such names, with those found below the folder searched.
  std::vector<OtherNamesLeft> other_names_left;
  bool registry_repaired = false;              // the repair ran at least once
  std::vector<std::string> registry_problems;  // as logged, each once
  // Each value once: deleted by one of the repairs, or not deleted (the last reason), and the
  // stores and keys that could not be opened.
  std::vector<RegistryValueRef> registry_deleted;
  std::vector<RegistryValueFailure> registry_failed;
  std::vector<RegistryOpenFailure> registry_unopened;
  bool stopped = false;  // the window closed before every entry was worked
};

class Engine {
 public:
  // Prepares the signature line; `window`, `host` and `fs` must outlive the engine.
  Engine(Window& window, CommandHost& host, FileSystem& fs, RegistryOpener open_registry);

  // The Scan command: announces the search, lists the candidates of the chosen drive, scans
  // them, and looks for the virus's values in that drive's registry without changing it. Returns
  // false when the window closed meanwhile; the command has then stopped.
  bool ScanCommand();
  const ScanReport& scan_report() const { return scan_report_; }
  // The watch's check of files that just changed: lists `paths`, full paths below the folder the
  // window shows, as the candidates and scans them as the Scan command does, leaving the
  // registry alone. The folder is held from one check to the next and opened again only where
  // another one is asked for; where `expected` is given and the folder opened is another one,
  // nothing is read (the root is reported not searched). A candidate gone by then is
  // passed over without a word: a save's temporary file often is. Only what is found or goes
  // wrong is logged, not each file read. Returns false when the window closed meanwhile.
  bool CheckCommand(const std::vector<std::string>& paths, const TreeIdentity* expected);
  // The bytes the commands have read so far, for a measure of progress.
  uint64_t bytes_read() const { return files_.bytes_read(); }

  // The Remove command's work: cleans every file of the infected list and repairs the registry
  // of the last scan's drive after each (once, where the list is empty but the scan found the
  // virus's registry values). Passes a yield point before each file and while it cleans one;
  // returns false when the window closed, after the file being cleaned. With `keeper`, every
  // original is kept with it before it is replaced or deleted; without, only each hive the repair
  // rewrites is kept, as "<hive>.bak" beside it.
  bool RemoveCommand(OriginalKeeper* keeper = nullptr);
  const RemovalReport& removal() const { return removal_; }

  // The folder the last scan chose, held open: the Remove command and its backups work from it.
  const SearchedTree& tree() const { return tree_; }
  CandidateSearch& search() { return search_; }
  InfectionScan& scan() { return scan_; }
  const std::string& signature() const { return signature_; }

 private:
  // Finds the virus's values in the registry of the drive just scanned, changing nothing.
  void LookForRegistryValues();
  void RemoveEntry(const std::string& path, std::unique_ptr<Registry>& registry);
  void RecordOutcome(const std::string& path, const CleanResult& result);
  // Repairs the registry and keeps each problem it reports once, for the log.
  void Repair(std::unique_ptr<Registry>& registry);
  // Adds what one repair did to the removal's record of each value.
  void Accumulate(const RepairReport& report);
  // Logs what the cleaning of `path` left behind: metadata it could not keep, other names.
  void LogLeftovers(const std::string& path, const CleanResult& result);
  // Notes the other names of the original of `path`, as the scan found it, that still hold the
  // virus after the cleaning, once per file.
  void NoteOtherNames(const std::string& path, const FileInfo& original, uint64_t count);
  // Looks for the names noted in the folder searched; false where the window closed meanwhile.
  bool FindOtherNamesBelow();

  Window& window_;
  CommandHost& host_;
  TextFiles files_;
  SearchedTree tree_;
  std::string signature_;
  CandidateSearch search_;
  InfectionScan scan_;
  FileCleaner cleaner_;
  RegistryOpener open_registry_;
  ScanReport scan_report_;
  RemovalReport removal_;
  BesideKeeper beside_;
  OriginalKeeper* keeper_ = nullptr;
};

}  // namespace quelix
