#include "app/outcome.h"

#include "runtime/shown_name.h"

namespace quelix {
namespace {

constexpr char kScanComplete[] = "Scan complete. The list of infected files is given above.";
constexpr char kRemoved[] =
    "The HTML.Quelix.A Virus has been removed successfully from your system.";
constexpr char kNotRemoved[] = "The HTML.Quelix.A Virus could not be removed completely.";
constexpr char kRemovedFromFound[] =
    "The HTML.Quelix.A Virus was removed from every file found, but not everything could be "
    "checked.";
constexpr char kLogIncomplete[] = "The event log could not be written completely.";
constexpr char kNoLog[] = "No event log could be opened.";

// "1 file could not be read; the log lists it." or "3 files ...; the log lists them."
std::string CountSentence(size_t n, const char* one, const char* many, const char* what,
                          bool log_lists) {
  std::string text = std::to_string(n) + " " + (n == 1 ? one : many) + " " + what;
  if (log_lists) text += n == 1 ? "; the log lists it" : "; the log lists them";
  return text + ".";
}

std::string LogSentence(const LogState& log) {
  return log.open ? kLogIncomplete : kNoLog;
}

void Add(std::string* text, const std::string& sentence) {
  if (sentence.empty()) return;
  if (!text->empty()) *text += " ";
  *text += sentence;
}

// "1 file could not be read; ..." and "2 folders could not be searched; ...", as they apply.
std::string UncheckedSentences(const ScanReport& scan, const LogState& log) {
  std::string text;
  if (scan.unreadable > 0) {
    Add(&text, CountSentence(scan.unreadable, "file", "files", "could not be read", log.intact));
  }
  if (scan.unsearched > 0) {
    Add(&text,
        CountSentence(scan.unsearched, "folder", "folders", "could not be searched", log.intact));
  }
  return text;
}

}  // namespace

std::string ScanStatus(const ScanReport& scan, const LogState& log) {
  std::string more;
  if (!scan.registry_found.empty()) Add(&more, "The virus's registry values were found too.");
  Add(&more, UncheckedSentences(scan, log));
  if (log.wanted && !log.intact) Add(&more, LogSentence(log));
  return more.empty() ? kScanComplete : std::string(kScanComplete) + "\r\n" + more;
}

std::string BackupSentence(const BackupState& backup) {
  if (!backup.run.empty()) return "The originals are kept in " + ShownName(backup.run) + ".";
  if (backup.declined) return "The originals were not kept.";
  return {};
}

RemovalOutcome RemovalMessage(const ScanReport& scan, const RemovalReport& removal,
                              const LogState& log, const BackupState& backup) {
  const size_t files = removal.files.size();
  const bool all_removed =
      removal.cleaned == files && removal.registry_problems.empty() && removal.other_names == 0;
  // A file not read or a folder not searched may hold the virus still: no success is claimed.
  const std::string unchecked = UncheckedSentences(scan, log);
  if (all_removed && unchecked.empty()) {
    std::string text = kRemoved;
    Add(&text, BackupSentence(backup));
    return {text, MessageIcon::kInformation};
  }
  std::string text = all_removed ? kRemovedFromFound : kNotRemoved;
  if (removal.cleaned < files) {
    Add(&text, "It was removed from " + std::to_string(removal.cleaned) + " of " +
                   std::to_string(files) + (files == 1 ? " file." : " files."));
  }
  if (!removal.registry_problems.empty()) {
    Add(&text, "Some registry values it set could not be deleted.");
  }
  if (removal.other_names == 1) {
    Add(&text, "1 other name (hard link) of a cleaned file still holds it.");
  } else if (removal.other_names > 1) {
    Add(&text, std::to_string(removal.other_names) +
                   " other names (hard links) of cleaned files still hold it.");
  }
  Add(&text, unchecked);
  Add(&text, BackupSentence(backup));
  if (log.wanted) {
    Add(&text, log.intact ? "The log has the details: " + ShownName(log.path) : LogSentence(log));
  }
  return {text, MessageIcon::kWarning};
}

RemovalOutcome NothingToRemove() {
  return {"No infected files are listed. Press Scan for virus first.", MessageIcon::kInformation};
}

std::string FirstSentence(const std::string& text) {
  const size_t end = text.find(". ");
  return end == std::string::npos ? text : text.substr(0, end + 1);
}

}  // namespace quelix
