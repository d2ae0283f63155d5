#include "platform/file_system.h"

namespace quelix {

bool SameFileUnchanged(const FileInfo& a, const FileInfo& b) {
  return a.volume == b.volume && a.file_id == b.file_id && a.size == b.size &&
         a.modified_ns == b.modified_ns;
}

}  // namespace quelix
