// A file put on a channel of TextFiles for reading the way the scan and the cleaning put one:
// opened through the file system, then attached.
#pragma once

#include <memory>
#include <string>

#include "platform/file_system.h"
#include "runtime/text_files.h"

namespace quelix {

inline Status AttachForReading(FileSystem& fs, TextFiles& files, int channel,
                               const std::string& path) {
  std::unique_ptr<File> file;
  const Status opened = fs.Open(path, OpenMode::kRead, &file);
  return opened.ok() ? files.Attach(channel, std::move(file), true) : opened;
}

}  // namespace quelix
