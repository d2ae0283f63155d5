#include "engine/copy_names.h"

namespace quelix {
namespace {

// Numbered names tried beside a file when "<name>temp" is taken.
constexpr int kTempNames = 100;

}  // namespace

Status CreateCopyBeside(Directory& dir, const std::string& name, std::string* copy_name,
                        std::unique_ptr<File>* copy) {
  bool short_names = false;
  for (int n = 0; n < 2 * kTempNames; ++n) {
    if (n == kTempNames) short_names = true;
    if (short_names) {
      *copy_name = "qr" + std::to_string(n) + ".tmp";
    } else {
      *copy_name = name + "temp" + (n == 0 ? "" : std::to_string(n));
    }
    const Status created = dir.OpenFile(*copy_name, OpenMode::kWriteNew, copy);
    if (created.ok()) return created;
    if (created.code() == ErrorCode::kNameTooLong && !short_names) {
      n = kTempNames - 1;
    } else if (created.code() != ErrorCode::kAlreadyExists) {
      return created;
    }
  }
  return {ErrorCode::kOther, "no free name for the temporary copy"};
}

}  // namespace quelix
