// A real temporary directory for a test, removed afterwards, with helpers that write files in it
// and name them the way the program does (with the platform's separator).
#pragma once

#include <filesystem>
#include <string>

namespace quelix {

class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The root as the program names directories: ending in the separator.
  std::string Root() const;
  // `relative` ("a/b.htm") as the program names it: the root followed by native separators.
  std::string Path(const std::string& relative) const;
  // Writes `content` to `relative`, creating its parent directories.
  void Write(const std::string& relative, const std::string& content) const;
  void MakeDirectory(const std::string& relative) const;
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
};

// The platform's path separator.
char NativeSeparator();

}  // namespace quelix
