#include "app/event_log.h"

namespace quelix {

Status EventLog::Open(const std::string& path) {
  if (open_) Close();
  Status status = files_.OpenAppend(kChannel, path);
  // The log names the files of every tree searched. A file someone else made where the log is
  // to go (in /tmp, say, before the command ran) would hand those names to them.
  if (status.ok()) {
    FileInfo info;
    status = files_.GetInfo(kChannel, &info);
    if (status.ok()) status = fs_.CheckOwn(info, path, false);
    if (!status.ok()) IgnoreResult(files_.Close(kChannel), "the refusal is what is reported");
  }
  open_ = status.ok();
  path_ = path;
  first_failure_ = Status::Ok();
  return status;
}

void EventLog::Keep(const Status& status) {
  if (!status.ok() && first_failure_.ok()) first_failure_ = status;
}

void EventLog::Write(const std::string& entry) {
  if (open_) Keep(files_.WriteLine(kChannel, entry));
}

void EventLog::Flush() {
  if (open_) Keep(files_.Flush(kChannel, false));
}

void EventLog::Close() {
  if (!open_) return;
  open_ = false;
  Keep(files_.Close(kChannel));
}

}  // namespace quelix
