#include "engine/clean.h"

#include "engine/copy_names.h"
#include "engine/room.h"
#include "engine/signature.h"
#include "engine/signature_fields.h"

namespace quelix {
namespace {

// Lines are streamed in parts of this size, so a line of any length costs no more memory.
constexpr size_t kPart = 64 * 1024;

CleanResult Failed(const std::string& reason) {
  CleanResult result;
  result.reason = reason;
  return result;
}
CleanResult Failed(const Status& status) {
  return Failed(Reason(status));
}

// What a file whose cleaning would leave the signature line in it is reported with.
Status WouldStayInfected() {
  return {ErrorCode::kOther, "cleaning would leave the virus in it, so it was left as it was"};
}

// Whether `now` is the file as it was read (`read_as`): a save in place changes its size, its
// modification time or at least its change time.
Status StillAsRead(File& original, const FileInfo& read_as) {
  FileInfo now;
  const Status status = original.GetInfo(&now);
  if (!status.ok()) return status;
  if (!SameFileUnchanged(read_as, now) || read_as.changed_ns != now.changed_ns) {
    return {ErrorCode::kChanged, "changed while it was read"};
  }
  return Status::Ok();
}

}  // namespace

FileCleaner::FileCleaner(SearchedTree& tree, TextFiles& files, const std::string& signature)
    : tree_(tree), files_(files), signature_(signature), marker_(MarkerLine()) {}

CleanResult FileCleaner::CleanFile(const std::string& path, const FileInfo* found_as,
                                   const std::function<void()>& progress) {
  progress_ = progress;
  CleanResult result;
  std::unique_ptr<Directory> dir;
  std::string name;
  std::unique_ptr<File> original;
  Status status = tree_.OpenParent(path, &dir, &name);
  // Held from the first read to the replace, so that a save made meanwhile is seen.
  if (status.ok()) status = dir->OpenFile(name, OpenMode::kReadHeld, &original);
  if (status.ok()) status = original->GetInfo(&result.now);
  if (!status.ok()) return Failed(status);
  if (found_as && !SameFileUnchanged(*found_as, result.now))
    return Failed("changed since the scan");
  read_as_ = result.now;
  result.other_names = result.now.links > 1 ? result.now.links - 1 : 0;

  status = files_.Attach(kSource, std::move(original), true);
  Plan plan;
  if (status.ok()) status = MakePlan(&plan);
  if (status.ok() && plan.DropsNothing()) {
    // Nothing to drop, so nothing is rewritten (a rewrite would only change line ends); the
    // file may still hold the signature as a field that spans its lines.
    bool infected = false;
    status = files_.Rewind(kSource);
    if (status.ok()) status = HoldsSignature(kSource, &infected);
    if (status.ok() && infected) status = WouldStayInfected();
  } else if (status.ok()) {
    // Checked for every file as it comes: the run itself, and other programs, use up the room.
    status = RoomToClean(*dir, read_as_, keeper_);
    if (status.ok()) status = Replace(*dir, name, path, plan, &result);
  }
  // Already taken off the channel where the copy took the file's place; else only read from.
  IgnoreResult(files_.Close(kSource), "a file only read loses nothing when its close fails");
  if (!status.ok()) return Failed(status);
  result.cleaned = true;
  return result;
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
      progress_();
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

Status FileCleaner::CopyKeptLines(const Plan& plan) {
  std::string part;
  LineEnd end = LineEnd::kCrLf;
  LineEnd previous = LineEnd::kCrLf;
  for (uint64_t index = 0; !plan.end || index < *plan.end; ++index) {
    const bool keep = index != plan.marker;
    bool complete = false;
    bool first = true;
    do {
      uint64_t hole = 0;
      const Status read = files_.ReadLinePart(kSource, &part, kPart, &complete, &end, &hole);
      if (read.code() == ErrorCode::kEndOfInput && first) return Status::Ok();
      if (!read.ok()) return read;
      if (keep) {
        const Status written = WriteKept(part, hole);
        if (!written.ok()) return written;
      }
      first = false;
      progress_();
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

Status FileCleaner::WriteKept(const std::string& part, uint64_t hole) {
  if (hole == 0) return files_.WriteLine(kCopy, part, LineEnd::kNone);
  // The part's last byte stands for the hole, which the copy keeps as a hole: a sparse page
  // cleaned takes no more room than before.
  const std::string_view before(part.data(), part.size() - 1);
  const Status written = files_.WriteLine(kCopy, before, LineEnd::kNone);
  return written.ok() ? files_.WriteHole(kCopy, hole) : written;
}

Status FileCleaner::Replace(Directory& dir, const std::string& name, const std::string& path,
                            const Plan& plan, CleanResult* result) {
  std::string copy_name;
  std::unique_ptr<File> copy;
  Status status = files_.Rewind(kSource);
  if (status.ok()) status = CreateCopyBeside(dir, name, &copy_name, &copy);
  if (!status.ok()) return status;
  status = files_.Attach(kCopy, std::move(copy), false);
  if (status.ok()) status = CopyKeptLines(plan);
  if (status.ok()) status = files_.Flush(kCopy, true);
  Status step = files_.Detach(kCopy, &copy);
  if (status.ok()) status = step;
  // The copy is read back the way the scan reads: a signature line the plan keeps (one before
  // the marker line) must not end up in place of the original.
  bool infected = false;
  if (status.ok()) status = copy->Rewind();
  if (status.ok()) status = files_.Attach(kCopy, std::move(copy), true);
  if (status.ok()) status = HoldsSignature(kCopy, &infected);
  step = files_.Detach(kCopy, &copy);
  if (status.ok()) status = infected ? WouldStayInfected() : step;
  std::unique_ptr<File> original;
  step = files_.Detach(kSource, &original);
  if (status.ok()) status = step;
  // The copy gets the metadata before it takes the file's place, so that it never stands there
  // without it.
  if (status.ok()) status = original->CopyMetadataTo(*copy, &result->lost);
  if (status.ok()) status = copy->GetInfo(&result->now);
  // Checked before the original is kept and again after (keeping it takes time); the folder
  // looks a last time right before the replace.
  if (status.ok()) status = StillAsRead(*original, read_as_);
  if (status.ok() && keeper_) status = KeepOriginal(*original, path, *copy);
  if (status.ok() && keeper_) {
    return ReplaceKept(dir, name, path, std::move(original), std::move(copy), copy_name,
                       result->now);
  }
  if (status.ok()) status = StillAsRead(*copy, result->now);
  if (status.ok()) return dir.Replace(std::move(original), name, std::move(copy), copy_name);
  if (copy) IgnoreResult(dir.Remove(std::move(copy), copy_name), "the first error is told");
  return status;
}

Status FileCleaner::ReplaceKept(Directory& dir, const std::string& name, const std::string& path,
                                std::unique_ptr<File> original, std::unique_ptr<File> copy,
                                const std::string& copy_name, const FileInfo& copy_as_made) {
  // The copy is checked too: once it has the original's owner, the owner may write into it.
  Status status = StillAsRead(*original, read_as_);
  if (status.ok()) status = StillAsRead(*copy, copy_as_made);
  if (status.ok()) status = dir.Replace(std::move(original), name, std::move(copy), copy_name);
  if (copy) IgnoreResult(dir.Remove(std::move(copy), copy_name), "the first error is told");
  return status.ok() ? status : Withdraw(dir, name, path, copy_as_made, status);
}

Status FileCleaner::Withdraw(Directory& dir, const std::string& name, const std::string& path,
                             const FileInfo& copy_as_made, const Status& failed) {
  std::unique_ptr<File> now;
  FileInfo info;
  if (dir.OpenFile(name, OpenMode::kRead, &now).ok() && now->GetInfo(&info).ok() &&
      info.volume == copy_as_made.volume && info.file_id == copy_as_made.file_id) {
    return failed;  // cleaned all the same: its original stays kept
  }
  // Where that fails too, the entry stays; a restore still refuses it, the file not being the
  // cleaned copy it names, and the file's own failure is what the user must hear of.
  IgnoreResult(keeper_->Withdraw(path), "the file's own failure is told");
  return failed;
}

Status FileCleaner::KeepOriginal(File& original, const std::string& path, File& copy) {
  const Status kept = keeper_->Keep(original, path, copy);
  if (kept.ok() || kept.code() == ErrorCode::kChanged) return kept;
  const std::string reason = Reason(kept);
  return {ErrorCode::kOther, "the backup of the original could not be written (" + reason + ")"};
}

Status FileCleaner::HoldsSignature(int channel, bool* infected) {
  *infected = false;
  const FieldScan outcome = ReadSignatureFields(
      files_, channel, signature_,
      [this] {
        progress_();
        return true;
      },
      [infected] { *infected = true; });
  if (outcome != FieldScan::kRead) return {ErrorCode::kIoError, "could not read"};
  return Status::Ok();
}

}  // namespace quelix
