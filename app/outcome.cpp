#include "app/outcome.h"

#include <algorithm>

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

// The store or key a value lies in that the removal could not open; null where it opened.
const RegistryOpenFailure* Unopened(const RemovalReport& removal, const RegistryValueRef& value) {
  for (const RegistryOpenFailure& f : removal.registry_unopened) {
    if (f.store == value.store && (f.key.empty() || f.key == value.key)) return &f;
  }
  return nullptr;
}

}  // namespace

Leftovers WhatIsLeft(const ScanReport& scan, const RemovalReport& removal) {
  Leftovers left;
  left.files = removal.files.size() - removal.cleaned;
  left.other_names = removal.other_names;
  // A value failed at one repair and deleted at a later one is gone: the record of failures
  // keeps each value's last outcome only.
  left.values = removal.registry_failed;
  for (const RegistryValueRef& value : scan.registry_found) {
    const auto& deleted = removal.registry_deleted;
    const auto& failed = removal.registry_failed;
    if (std::find(deleted.begin(), deleted.end(), value) != deleted.end()) continue;
    if (std::any_of(failed.begin(), failed.end(),
                    [&](const RegistryValueFailure& f) { return f.value == value; })) {
      continue;
    }
    // Neither deleted nor failed: gone by then, or never reached for want of its store or key.
    const RegistryOpenFailure* unopened = Unopened(removal, value);
    if (unopened) left.values.push_back({value, unopened->status});
  }
  return left;
}

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
  const Leftovers left = WhatIsLeft(scan, removal);
  const bool all_removed = !left.any();
  // A file not read or a folder not searched may hold the virus still: no success is claimed.
  const std::string unchecked = UncheckedSentences(scan, log);
  if (all_removed && unchecked.empty()) {
    std::string text = kRemoved;
    Add(&text, BackupSentence(backup));
    return {text, MessageIcon::kInformation};
  }
  std::string text = all_removed ? kRemovedFromFound : kNotRemoved;
  if (left.files > 0) {
    Add(&text, "It was removed from " + std::to_string(removal.cleaned) + " of " +
                   std::to_string(files) + (files == 1 ? " file." : " files."));
  }
  if (!left.values.empty()) {
    Add(&text, "Some registry values it set could not be deleted.");
  }
  if (left.other_names == 1) {
    Add(&text, "1 other name (hard link) of a cleaned file still holds it.");
  } else if (left.other_names > 1) {
    Add(&text, std::to_string(left.other_names) +
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
