#include "platform/status.h"

namespace quelix {

const char* Describe(ErrorCode code) {
  switch (code) {
    case ErrorCode::kOk:
      return "no error";
    case ErrorCode::kNotFound:
      return "not found";
    case ErrorCode::kAccessDenied:
      return "access denied";
    case ErrorCode::kAlreadyExists:
      return "already exists";
    case ErrorCode::kDiskFull:
      return "disk full";
    case ErrorCode::kIoError:
      return "read or write error";
    case ErrorCode::kSharingViolation:
      return "in use by another program";
    case ErrorCode::kNameTooLong:
      return "name too long";
    case ErrorCode::kNotAFile:
      return "not a file";
    case ErrorCode::kEndOfInput:
      return "end of file";
    case ErrorCode::kBadChannel:
      return "file not open";
    case ErrorCode::kLink:
      return "it is a link, or lies behind one";
    case ErrorCode::kOtherVolume:
      return "it leads out of the folder";
    case ErrorCode::kChanged:
      return "changed while it was being cleaned";
    case ErrorCode::kTooDeep:
      return "nested too deeply";
    case ErrorCode::kTooManyOpen:
      return "too many files open";
    case ErrorCode::kOther:
      break;
  }
  return "failed";
}

std::string Reason(const Status& status) {
  return status.code() == ErrorCode::kOther ? status.message() : Describe(status.code());
}

}  // namespace quelix
