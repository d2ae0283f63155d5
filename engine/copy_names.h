// The temporary copy that takes a file's place (a cleaned copy, or an original put back) is made
// beside the file under a name of its own.
#pragma once

#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/status.h"

namespace quelix {

// Creates a new file in `dir` beside `name`: "<name>temp", "<name>temp1", ... and, where those
// are too long, "qr0.tmp", ... Only a free name is taken: a file already there is never the
// program's to replace.
Status CreateCopyBeside(Directory& dir, const std::string& name, std::string* copy_name,
                        std::unique_ptr<File>* copy);

}  // namespace quelix
