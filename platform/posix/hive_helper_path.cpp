#include "platform/posix/hive_helper_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace quelix {
namespace {

constexpr char kHelperName[] = "quelix-hive";

// A program this process may run with its rights: nobody but root or the user can have changed it.
bool Trusted(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR) &&
         !(st.st_mode & (S_IWGRP | S_IWOTH)) && (st.st_uid == 0 || st.st_uid == ::geteuid());
}

// The folder of the running program, with its final '/'; empty where it cannot be told.
std::string RunningProgramFolder() {
  char self[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return {};
  const std::string path(self, static_cast<size_t>(length));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

Status FindHiveHelper(std::string* program) {
  const std::string folder = RunningProgramFolder();
  // bin/quelix and libexec/quelix-remover/quelix-hive of one prefix, wherever it was unpacked.
  const std::string in_prefix =
      folder.empty() ? folder : folder + "../" QUELIX_HIVE_HELPER_RELATIVE;
  for (const std::string& candidate :
       {folder.empty() ? folder : folder + kHelperName, in_prefix,
        std::string(QUELIX_HIVE_HELPER_INSTALLED), std::string(QUELIX_HIVE_HELPER_BUILT)}) {
    if (!candidate.empty() && Trusted(candidate)) {
      *program = candidate;
      return Status::Ok();
    }
  }
  return {ErrorCode::kNotFound, std::string("cannot start the hive helper: no ") + kHelperName +
                                    " beside the program nor in " QUELIX_HIVE_HELPER_INSTALLED};
}

}  // namespace quelix
