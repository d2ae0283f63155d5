#include "platform/posix/posix_metadata.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/posix/posix_errors.h"

namespace quelix {
namespace {

// ntfs-3g and ntfs3 show a file's Windows attribute word under this name, big-endian.
constexpr char kNtfsAttributes[] = "system.ntfs_attrib_be";
// The Windows security descriptor, as ntfs-3g and ntfs3 show it; neither lists it.
constexpr const char* kNtfsSecurity[] = {"system.ntfs_acl", "system.ntfs_security"};
// File flags a new file may be given; immutable and append-only files are never replaced, and
// the others are set by the file system itself.
constexpr int kSettableFlags = FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL | FS_SYNC_FL | FS_NODUMP_FL |
                               FS_NOATIME_FL | FS_NOCOMP_FL;

// The names of the file's extended attributes; empty where it has none or they cannot be listed.
std::vector<std::string> ListNames(int fd) {
  std::vector<char> buffer;
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size <= 0) return {};
    buffer.resize(static_cast<size_t>(size));
    const ssize_t got = ::flistxattr(fd, buffer.data(), buffer.size());
    if (got >= 0) {
      buffer.resize(static_cast<size_t>(got));
      break;
    }
    if (errno != ERANGE) return {};
  }
  std::vector<std::string> names;
  for (size_t start = 0; start < buffer.size();) {
    const std::string name(buffer.data() + start);
    start += name.size() + 1;
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

// The value of attribute `name`; false where it cannot be read.
bool ReadValue(int fd, const std::string& name, std::vector<char>* value) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) return false;
    value->resize(static_cast<size_t>(size));
    const ssize_t got = ::fgetxattr(fd, name.c_str(), value->data(), value->size());
    if (got >= 0) {
      value->resize(static_cast<size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;
  }
  return false;
}

std::string ItemName(const std::string& attribute) {
  if (attribute == "system.posix_acl_access") return "access control list";
  if (attribute == "security.capability") return "file capabilities";
  return "extended attribute " + attribute;
}

void CopyOwner(int to, const struct stat& from, std::vector<std::string>* lost) {
  if (::fchown(to, from.st_uid, from.st_gid) == 0) return;
  // Where the owner cannot be given away, the group alone may still be kept.
  const int group_only = ::fchown(to, static_cast<uid_t>(-1), from.st_gid);
  struct stat now {};
  if (::fstat(to, &now) != 0 || now.st_uid != from.st_uid) lost->push_back("owner");
  if (group_only != 0 || now.st_gid != from.st_gid) lost->push_back("group");
}

Status CopyMode(int to, const struct stat& from, std::vector<std::string>* lost) {
  mode_t wanted = from.st_mode & 07777;
  // A set-ID bit counts only with its owner or group: on a copy that stayed the program's own (root
  // could not give it away, on some network volumes) it would run the file's owner's text with
  // the program's rights.
  struct stat copy {};
  if (::fstat(to, &copy) != 0) return FromErrno(errno, "the mode");
  if (copy.st_uid != from.st_uid) wanted &= ~static_cast<mode_t>(S_ISUID);
  if (copy.st_gid != from.st_gid) wanted &= ~static_cast<mode_t>(S_ISGID);
  if (::fchmod(to, wanted) != 0) return FromErrno(errno, "the mode");
  // Without membership of the file's group the kernel drops the set-group-ID bit in silence.
  struct stat now;
  if (::fstat(to, &now) == 0 && (now.st_mode & 07777) != (from.st_mode & 07777)) {
    lost->push_back("set-ID bits");
  }
  return Status::Ok();
}

void CopyExtendedAttributes(int from, int to, std::vector<std::string>* lost) {
  const std::vector<std::string> names = ListNames(from);
  for (const std::string& name : ListNames(to)) {
    if (std::find(names.begin(), names.end(), name) == names.end()) {
      ::fremovexattr(to, name.c_str());
    }
  }
  std::vector<char> value;
  for (const std::string& name : names) {
    if (name == kNtfsAttributes) continue;  // set on its own, as part of the attribute word
    if (!ReadValue(from, name, &value) ||
        ::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) {
      lost->push_back(ItemName(name));
    }
  }
  for (const char* name : kNtfsSecurity) {
    if (std::find(names.begin(), names.end(), name) != names.end()) continue;
    if (ReadValue(from, name, &value) &&
        ::fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
      lost->push_back("Windows security descriptor");
    }
  }
}

Status CopyNtfsAttributes(int from, int to) {
  unsigned char word[4];
  if (::fgetxattr(from, kNtfsAttributes, word, sizeof word) != sizeof word) return Status::Ok();
  if (::fsetxattr(to, kNtfsAttributes, word, sizeof word, 0) != 0) {
    return FromErrno(errno, "the Windows attributes");
  }
  return Status::Ok();
}

void CopyFlags(int from, int to, std::vector<std::string>* lost) {
  int flags = 0;
  if (::ioctl(from, FS_IOC_GETFLAGS, &flags) != 0) return;
  int copy_flags = 0;
  if (::ioctl(to, FS_IOC_GETFLAGS, &copy_flags) == 0) {
    // The copy may have been given flags by its folder (chattr +d or +S on it) that the original
    // lacks: those are taken off too. Flags already as wanted are not set again.
    const int wanted = (copy_flags & ~kSettableFlags) | (flags & kSettableFlags);
    if (wanted == copy_flags || ::ioctl(to, FS_IOC_SETFLAGS, &wanted) == 0) return;
  }
  lost->push_back("file flags");
}

}  // namespace

bool ReadNtfsAttributes(int fd, uint32_t* word) {
  unsigned char be[4];
  if (::fgetxattr(fd, kNtfsAttributes, be, sizeof be) != sizeof be) return false;
  *word =
      (uint32_t{be[0]} << 24) | (uint32_t{be[1]} << 16) | (uint32_t{be[2]} << 8) | uint32_t{be[3]};
  return true;
}

Status CopyMetadata(int from, int to, std::vector<std::string>* lost) {
  struct stat st;
  if (::fstat(from, &st) != 0) return FromErrno(errno, "the original");
  // The owner first: giving a file away clears its set-ID bits and capabilities, which the mode
  // and the extended attributes then bring back.
  CopyOwner(to, st, lost);
  Status status = CopyMode(to, st, lost);
  if (!status.ok()) return status;
  CopyExtendedAttributes(from, to, lost);
  status = CopyNtfsAttributes(from, to);
  if (!status.ok()) return status;
  CopyFlags(from, to, lost);
  return Status::Ok();
}

}  // namespace quelix
