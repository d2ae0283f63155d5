#include "app/last_removal.h"

#include <algorithm>
#include <vector>

#include "engine/backup_format.h"
#include "runtime/shown_name.h"

namespace quelix {
namespace {

// Names shown in the message box at most: the box must still fit on the screen.
constexpr size_t kNamesShown = 5;

std::string Count(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Items(size_t files, size_t values) {
  std::string text = Count(files, "file", "files");
  if (values > 0) text += " and " + Count(values, "registry value", "registry values");
  return text;
}

}  // namespace

std::string RestoreQuestion(const RunSummary* summary) {
  std::string text = "Restore the last removal?";
  if (summary) {
    // The time without its seconds: enough to recognise the removal by.
    const std::string time = IsoTime(summary->time);
    text += " It was made on " + time.substr(0, 10) + " at " + time.substr(11, 5) + " UTC (" +
            ShownName(summary->name) + ") and kept " + Items(summary->files, summary->values) + ".";
  }
  return text +
         "\r\n\r\nEach original is put back where the file is still as the removal left it; "
         "a file changed since then is left alone.";
}

Message RestoreMessage(const RestoreReport& report) {
  size_t back = 0;
  std::vector<const RestoredItem*> left;
  for (const auto* items : {&report.files, &report.values}) {
    for (const RestoredItem& item : *items) {
      const bool done =
          item.outcome == RestoreOutcome::kRestored || item.outcome == RestoreOutcome::kAsItWas;
      if (done) ++back;
      if (!done) left.push_back(&item);
    }
  }
  if (left.empty()) {
    return {"The last removal has been restored: " + Count(back, "item is", "items are") +
                " as before the removal.",
            MessageIcon::kInformation};
  }
  std::string text =
      "The last removal could not be restored completely: " + Count(back, "item is", "items are") +
      " as before the removal, " + Count(left.size(), "was", "were") + " left alone:";
  for (size_t i = 0; i < std::min(left.size(), kNamesShown); ++i) {
    text += "\r\n" + ShownName(left[i]->name) + ": " + ShownName(left[i]->reason);
  }
  if (left.size() > kNamesShown) {
    text += "\r\nand " + std::to_string(left.size() - kNamesShown) + " more.";
  }
  return {text, MessageIcon::kWarning};
}

bool RestoreLastRemoval(const CommandController& controller, FrontEnd& front, FileSystem& fs,
                        const std::string& folder, const RegistryOpener& open_registry) {
  if (controller.running()) return false;
  std::vector<RunSummary> runs;
  if (folder.empty() || (ListRuns(fs, folder, &runs).ok() && runs.empty())) {
    front.ShowMessage("No removal has been kept, so there is nothing to restore.",
                      MessageIcon::kInformation);
    return false;
  }
  // The run `quelix restore` takes; the listing only describes it in the question.
  std::string run;
  Status status = FindRun(fs, folder, "", &run);
  const auto summary =
      std::find_if(runs.begin(), runs.end(), [&](const RunSummary& r) { return r.path == run; });
  // A removal whose every original was withdrawn (its file was not replaced after all) left its
  // run folder behind with nothing in it: there is nothing to ask about.
  if (status.ok() && summary != runs.end() && summary->files + summary->values == 0) {
    front.ShowMessage("The last removal kept no originals, so there is nothing to restore.",
                      MessageIcon::kInformation);
    return false;
  }
  if (status.ok() && !front.Ask(RestoreQuestion(summary == runs.end() ? nullptr : &*summary))) {
    return false;
  }
  RestoreReport report;
  front.SetBusyPointer(true);
  if (status.ok()) status = RestoreRun(fs, run, open_registry, &report);
  front.SetBusyPointer(false);
  if (!status.ok()) {
    front.ShowMessage("The last removal cannot be restored: " + ShownName(Reason(status)),
                      MessageIcon::kWarning);
    return false;
  }
  const Message message = RestoreMessage(report);
  front.ShowMessage(message.text, message.icon);
  return true;
}

}  // namespace quelix
