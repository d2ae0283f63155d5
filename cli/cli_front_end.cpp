#include "cli/cli_front_end.h"

#include <cstdio>

#include "app/controller.h"
#include "runtime/shown_name.h"

namespace quelix {
namespace {

constexpr auto kRedraw = std::chrono::milliseconds(100);
constexpr char kSearching[] = "Searching \r\n";
constexpr char kScanning[] = "Scanning \r\n";
constexpr char kRemoving[] = "Removing virus from \r\n";

}  // namespace

CliFrontEnd::CliFrontEnd(std::ostream& err, Console& console, bool show_progress)
    : err_(err), console_(console), show_progress_(show_progress) {}

void CliFrontEnd::Attach(CommandController* controller, std::function<uint64_t()> bytes_read) {
  controller_ = controller;
  bytes_read_ = std::move(bytes_read);
}

void CliFrontEnd::SetStatus(const std::string& text) {
  if (text.rfind(kSearching, 0) == 0) {
    folder_ = text.substr(sizeof kSearching - 1);
  } else if (text.rfind(kScanning, 0) == 0) {
    // The folder is cut from the file's own name, which the scan reads in the order listed: in
    // the name as shown, a backslash may start an escape (a slash never does).
    const std::string shown = text.substr(sizeof kScanning - 1);
    const bool known = checked_ < candidates_.size() && ShownName(candidates_[checked_]) == shown;
    const std::string& path = known ? candidates_[checked_] : shown;
    const size_t slash = path.find_last_of(known ? "/\\" : "/");
    folder_ = slash == std::string::npos ? shown : ShownName(path.substr(0, slash + 1));
    phase_ = Phase::kScanning;
    ++checked_;
  } else if (text.rfind(kRemoving, 0) == 0) {
    folder_ = text.substr(sizeof kRemoving - 1);
    phase_ = Phase::kCleaning;
    ++checked_;
  }
}

void CliFrontEnd::AppendInfected(const std::string& path) {
  ListedFrontEnd::AppendInfected(path);
  if (!reporter_ || !report_found_) return;
  ClearProgress();
  reporter_->Found(path);
}

void CliFrontEnd::Tell(const FileEvent& event) {
  if (!reporter_) return;
  // The PATH itself not opened is said once by the command, with the name it was given by.
  if (event.kind == FileEvent::Kind::kUnsearched && controller_ &&
      !controller_->engine().tree().is_open()) {
    return;
  }
  ClearProgress();
  // The backup run is named as soon as it holds an original: the original of a file is kept
  // before the file is replaced, so it comes before that file's result.
  if (controller_) reporter_->Kept(controller_->backup_run());
  reporter_->Tell(event);
}

void CliFrontEnd::SetBusyPointer(bool busy) {
  if (!busy) return;
  // A command starts: the counts start afresh.
  phase_ = Phase::kSearching;
  checked_ = 0;
  folder_ = ShownName(root_);
  started_ = std::chrono::steady_clock::now();
  bytes_at_start_ = bytes_read_ ? bytes_read_() : 0;
}

void CliFrontEnd::ProcessEvents() {
  if (controller_ && console_.StopRequested()) {
    controller_->RequestClose("the program was interrupted.");
  }
  // Called at every yield, so that a stop is seen at once; the clock, for the progress line, only
  // as often as the pace allows.
  if (!show_progress_ || !clock_pace_.Due()) return;
  const auto now = std::chrono::steady_clock::now();
  clock_pace_.Read(now);
  if (now - drawn_ < kRedraw) return;
  drawn_ = now;
  Draw();
}

std::string CliFrontEnd::ProgressLine() const {
  if (phase_ == Phase::kSearching) {
    return "searching: " + std::to_string(candidates_.size()) + " files found, ";
  }
  if (phase_ == Phase::kCleaning) {
    return "cleaning " + std::to_string(checked_) + " of " + std::to_string(infected_.size()) +
           " files, ";
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  const uint64_t bytes = (bytes_read_ ? bytes_read_() : 0) - bytes_at_start_;
  char rate[32];
  const double megabytes = static_cast<double>(bytes) / 1e6;
  std::snprintf(rate, sizeof rate, "%.1f MB/s", seconds > 0 ? megabytes / seconds : 0.0);
  return "checked " + std::to_string(checked_) + " of " + std::to_string(candidates_.size()) +
         " files, " + rate + ", ";
}

void CliFrontEnd::Draw() {
  const size_t width = static_cast<size_t>(std::max(console_.Columns(), 20)) - 1;
  std::string line = ProgressLine();
  line += ShortenShown(folder_, width > line.size() ? width - line.size() : 0);
  // Padded over what the line before left, so that no tail of it stays on screen.
  const size_t shown = line.size();
  if (shown < drawn_width_) line.append(drawn_width_ - shown, ' ');
  drawn_width_ = shown;
  err_ << '\r' << line << std::flush;
}

void CliFrontEnd::ClearProgress() {
  if (drawn_width_ == 0) return;
  err_ << '\r' << std::string(drawn_width_, ' ') << '\r' << std::flush;
  drawn_width_ = 0;
}

bool OpenEventLog(CommandController& controller, const CliOptions& options, Places& places,
                  std::ostream& err) {
  if (options.no_log) return true;
  if (!options.log_file.empty()) {
    const Status opened = controller.OpenLog({{options.log_file, false}});
    if (opened.ok()) return true;
    err << "quelix: cannot open the log " << ShownName(options.log_file) << ": "
        << ShownName(Reason(opened)) << '\n';
    return false;
  }
  if (!controller.OpenLog(places.LogPlaces()).ok()) {
    err << "quelix: no event log could be opened; events are not logged\n";
  }
  return true;
}

void TellBackupShortage(const CommandController& controller, const std::string& outcome,
                        std::ostream& err) {
  err << "quelix: " << controller.backup_shortage() << ' ' << outcome
      << "; --no-backup removes without keeping them.\n";
}

}  // namespace quelix
