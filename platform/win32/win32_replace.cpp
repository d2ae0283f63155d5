// A cleaned copy takes its original's place, or is deleted, only while the names still name the
// files the program holds; both are changed through their handles.
#include <winternl.h>

#include "platform/win32/win32_directory.h"
#include "platform/win32/win32_errors.h"
#include "platform/win32/win32_paths.h"

namespace quelix::win32 {
namespace {

constexpr LONG kStatusAccessDenied = static_cast<LONG>(0xC0000022);
constexpr LONG kStatusNameNotFound = static_cast<LONG>(0xC0000034);

Win32File* Own(File* file) {
  return dynamic_cast<Win32File*>(file);
}

}  // namespace

Status Win32Directory::LookAt(const std::string& name, const Identity& expected, Handle* target,
                              Identity* found) const {
  const std::string path = path_ + name;
  Status status = CheckName(name, path);
  if (!status.ok()) return status;
  // Attributes are not shared like data, so this open never stands in anyone's way; the right to
  // change them is needed only to take a read-only bit away.
  OpenRequest request{FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                      FILE_OPEN_REPARSE_POINT};
  LONG opened = OpenRelative(handle_.get(), Widen(name), request, target);
  if (opened == kStatusAccessDenied) {
    request.access = FILE_READ_ATTRIBUTES;
    opened = OpenRelative(handle_.get(), Widen(name), request, target);
  }
  if (opened == kStatusNameNotFound) return {ErrorCode::kChanged, path + ": no longer there"};
  if (opened < 0) return FromNtStatus(opened, path);
  if (!Identify(target->get(), found)) return LastError(path);
  // A link there is a change too, even one to the very file the program holds.
  if (!found->SameFile(expected) || IsNameSurrogate(found->attributes, found->reparse_tag)) {
    return {ErrorCode::kChanged, path + ": replaced by another file"};
  }
  return Status::Ok();
}

void Win32Directory::GiveBackReadOnly(const std::string& name, const Identity& expected,
                                      DWORD word) const {
  Handle target;
  Identity found;
  if (LookAt(name, expected, &target, &found).ok()) {
    IgnoreResult(SetAttributeWord(target.get(), word, path_ + name), "the failed rename is told");
  }
}

Status Win32Directory::Replace(std::unique_ptr<File> original, const std::string& name,
                               std::unique_ptr<File> copy, const std::string& copy_name) {
  Win32File* held = Own(original.get());
  Win32File* made = Own(copy.get());
  const std::string path = path_ + name;
  if (held == nullptr || made == nullptr) return {ErrorCode::kOther, path + ": foreign file"};
  // `copy_name` needs no look: the copy is open without FILE_SHARE_DELETE, so while the program
  // holds it nobody can rename or delete it, or put another file in its place.
  Identity was;
  Handle target;
  Identity found;
  Status status =
      Identify(held->handle(), &was) ? LookAt(name, was, &target, &found) : LastError(path);
  // Windows replaces no read-only file; the copy already carries the original's word.
  const bool read_only = status.ok() && (found.attributes & FILE_ATTRIBUTE_READONLY);
  if (read_only) {
    status =
        SetAttributeWord(target.get(), found.attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}, path);
  }
  // The name is replaced while the original is still held, so that no program can open it to
  // write between the last look and the rename: it would write into a file that no name leads
  // to. A system that replaces no open file gets the original closed first; until that rename
  // nothing holds the name, and a file put there meanwhile is what the copy replaces (never a
  // folder or what a link leads to: a rename replaces the name itself, and no folder).
  if (status.ok()) {
    LONG renamed = RenameRelative(made->handle(), handle_.get(), Widen(name), true);
    if (RenameWhileOpenUnknown(renamed)) {
      target.Close();
      IgnoreResult(original->Close(), "held for reading only: its close loses nothing");
      renamed = RenameRelative(made->handle(), handle_.get(), Widen(name));
    }
    if (renamed < 0) {
      status = FromNtStatus(renamed, path);
      if (read_only) GiveBackReadOnly(name, was, found.attributes);
    }
  }
  if (!status.ok()) {
    IgnoreResult(DeleteThroughHandle(made->handle(), path_ + copy_name), "the first error is told");
    return status;
  }
  // What MOVEFILE_WRITE_THROUGH does: the renamed file flushed, its new name with it.
  status = made->Sync();
  const Status closed = made->Close();
  return status.ok() ? closed : status;
}

Status Win32Directory::Remove(std::unique_ptr<File> file, const std::string& name) {
  Win32File* made = Own(file.get());
  const std::string path = path_ + name;
  Identity identity;
  if (made == nullptr || !Identify(made->handle(), &identity)) {
    return {ErrorCode::kChanged, path + ": no longer the program's file"};
  }
  Handle target;
  Identity found;
  Status status = LookAt(name, identity, &target, &found);
  if (status.code() == ErrorCode::kChanged) {
    return {ErrorCode::kChanged, path + ": no longer the program's file"};
  }
  target.Close();
  if (status.ok()) status = DeleteThroughHandle(made->handle(), path);
  const Status closed = made->Close();
  return status.ok() ? closed : status;
}

}  // namespace quelix::win32
