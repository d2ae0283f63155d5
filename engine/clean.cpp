#include "engine/clean.h"

#include "engine/signature.h"
#include "engine/signature_fields.h"

namespace quelix {
namespace {

// Lines are streamed in parts of this size, so a line of any length costs no more memory.
constexpr size_t kPart = 64 * 1024;
// Numbered names tried beside a file when "<path>temp" is taken.
constexpr int kTempNames = 100;

bool SameFile(const FileInfo& a, const FileInfo& b) {
  return a.volume == b.volume && a.file_id == b.file_id && a.size == b.size &&
         a.modified_ns == b.modified_ns;
}

CleanResult Failed(const std::string& reason) {
  return {false, reason};
}
CleanResult Failed(const Status& status) {
  return {false, status.code() == ErrorCode::kOther ? status.message() : Describe(status.code())};
}

}  // namespace

FileCleaner::FileCleaner(FileSystem& fs, TextFiles& files, const std::string& signature)
    : fs_(fs), files_(files), signature_(signature), marker_(MarkerLine()) {}

CleanResult FileCleaner::CleanFile(const std::string& path, const FileInfo* found_as) {
  FileInfo before;
  const Status described = fs_.GetInfo(path, &before);
  if (!described.ok()) return Failed(described);
  if (before.is_link) return Failed("it is a link");
  if (!before.is_regular) return Failed("not a file");
  if (found_as && !SameFile(*found_as, before)) return Failed("changed since the scan");

  const Status opened = files_.OpenBinary(kSource, path);
  if (!opened.ok()) return Failed(opened);
  Plan plan;
  Status status = MakePlan(&plan);
  if (status.ok() && !plan.DropsNothing()) status = Replace(path, before, plan);
  files_.Close(kSource);  // already closed where the copy took the file's place
  if (!status.ok()) return Failed(status);

  bool infected = false;
  const Status checked = StillInfected(path, &infected);
  if (!checked.ok()) return Failed("could not be checked after cleaning");
  if (infected) return Failed("the virus is still in it");
  return {true, ""};
}

Status FileCleaner::MakePlan(Plan* plan) {
  std::optional<uint64_t> first_signature;  // anywhere in the file
  LineFieldMatcher matcher(signature_);
  std::string part;
  LineEnd end;
  for (uint64_t index = 0;; ++index) {
    bool complete = false;
    bool first = true;
    bool is_marker = false;
    bool is_signature = false;
    do {
      const Status read = files_.ReadLinePart(kSource, &part, kPart, &complete, &end);
      if (read.code() == ErrorCode::kEndOfInput) {
        plan->end = plan->marker ? plan->end : first_signature;
        return Status::Ok();
      }
      if (!read.ok()) return read;
      if (first && complete) {
        is_marker = EqualsIgnoringCase(part, marker_);
        is_signature = EqualsIgnoringCase(part, signature_);
      }
      matcher.Feed(part);
      first = false;
    } while (!complete);
    const bool holds_signature = matcher.Finish() || is_signature;
    if (!plan->marker && is_marker) {
      plan->marker = index;
    } else if (holds_signature) {
      if (!first_signature) first_signature = index;
      if (plan->marker) {
        plan->end = index;
        return Status::Ok();
      }
    }
  }
}

Status FileCleaner::CreateCopy(const std::string& path, std::string* copy) {
  const size_t slash = path.rfind(fs_.Separator());
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  bool short_names = false;
  for (int n = 0; n < 2 * kTempNames; ++n) {
    if (n == kTempNames) short_names = true;
    if (short_names) {
      *copy = dir + "qr" + std::to_string(n) + ".tmp";
    } else {
      *copy = path + "temp" + (n == 0 ? "" : std::to_string(n));
    }
    // Created only where the name is free: a file of that name is never the program's to replace.
    const Status created = files_.OpenNewOutput(kCopy, *copy);
    if (created.ok()) return created;
    if (created.code() == ErrorCode::kNameTooLong && !short_names) {
      n = kTempNames - 1;
    } else if (created.code() != ErrorCode::kAlreadyExists) {
      return created;
    }
  }
  return {ErrorCode::kOther, "no free name for the temporary copy"};
}

Status FileCleaner::CopyKeptLines(const Plan& plan) {
  std::string part;
  LineEnd end = LineEnd::kCrLf;
  LineEnd previous = LineEnd::kCrLf;
  for (uint64_t index = 0; !plan.end || index < *plan.end; ++index) {
    const bool keep = index != plan.marker;
    bool complete = false;
    bool first = true;
    do {
      const Status read = files_.ReadLinePart(kSource, &part, kPart, &complete, &end);
      if (read.code() == ErrorCode::kEndOfInput && first) return Status::Ok();
      if (!read.ok()) return read;
      if (keep) {
        const Status written = files_.WriteLine(kCopy, part, LineEnd::kNone);
        if (!written.ok()) return written;
      }
      first = false;
    } while (!complete);
    // A line feed alone comes back alone, so a Unix file keeps its line ends; every other line
    // ends in CR LF, the last one too.
    const bool lone_feed =
        end == LineEnd::kLf || (end == LineEnd::kNone && previous == LineEnd::kLf);
    if (keep) {
      const Status written = files_.WriteLine(kCopy, "", lone_feed ? LineEnd::kLf : LineEnd::kCrLf);
      if (!written.ok()) return written;
    }
    previous = end;
  }
  return Status::Ok();
}

Status FileCleaner::Replace(const std::string& path, const FileInfo& before, const Plan& plan) {
  Status status = files_.Rewind(kSource);
  if (!status.ok()) return status;
  std::string copy;
  status = CreateCopy(path, &copy);
  if (!status.ok()) return status;
  status = CopyKeptLines(plan);
  // Windows does not replace a file that is still open.
  files_.Close(kSource);
  if (status.ok()) status = files_.Flush(kCopy, true);
  const Status closed = files_.Close(kCopy);
  if (status.ok()) status = closed;
  // The copy gets the attributes before it takes the file's place, so that it never stands
  // there without them.
  if (status.ok()) status = fs_.SetAttributes(copy, before.attributes);
  FileInfo now;
  if (status.ok()) status = fs_.GetInfo(path, &now);
  if (status.ok() && (now.is_link || !SameFile(now, before))) {
    status = {ErrorCode::kOther, "changed while it was being cleaned"};
  }
  if (status.ok()) status = fs_.Replace(copy, path);
  if (!status.ok()) fs_.Remove(copy);
  return status;
}

Status FileCleaner::StillInfected(const std::string& path, bool* infected) {
  Status status = files_.OpenInput(kSource, path);
  if (!status.ok()) return status;
  *infected = false;
  const FieldScan outcome = ReadSignatureFields(
      files_, kSource, signature_, [] { return true; }, [infected] { *infected = true; });
  files_.Close(kSource);
  if (outcome != FieldScan::kRead) return {ErrorCode::kIoError, "could not read"};
  return Status::Ok();
}

}  // namespace quelix
