#include "platform/posix/posix_errors.h"

#include <cerrno>
#include <cstring>

namespace quelix {

Status FromErrno(int err, const std::string& what) {
  ErrorCode code = ErrorCode::kOther;
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      code = ErrorCode::kNotFound;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
      code = ErrorCode::kAccessDenied;
      break;
    case EEXIST:
      code = ErrorCode::kAlreadyExists;
      break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      code = ErrorCode::kDiskFull;
      break;
    case EIO:
      code = ErrorCode::kIoError;
      break;
    case ENAMETOOLONG:
      code = ErrorCode::kNameTooLong;
      break;
    case EISDIR:
    case ENXIO:
      code = ErrorCode::kNotAFile;
      break;
    case EMFILE:
    case ENFILE:
      code = ErrorCode::kTooManyOpen;
      break;
    case ETXTBSY:
    case EBUSY:
      code = ErrorCode::kSharingViolation;
      break;
    default:
      break;
  }
  return {code, what + ": " + std::strerror(err)};
}

}  // namespace quelix
