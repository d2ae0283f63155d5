#include "app/event_log.h"

namespace quelix {

Status EventLog::Open(const std::string& path) {
  if (open_) Close();
  Status status = files_.OpenAppend(kChannel, path);
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

Status EventLog::Flush() {
  if (!open_) return Status::Ok();
  Status status = files_.Flush(kChannel, false);
  Keep(status);
  return status;
}

Status EventLog::Close() {
  if (!open_) return Status::Ok();
  open_ = false;
  Status status = files_.Close(kChannel);
  Keep(status);
  return status;
}

}  // namespace quelix
