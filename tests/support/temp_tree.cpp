#include "tests/support/temp_tree.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

namespace quelix {
namespace fs = std::filesystem;

char NativeSeparator() {
  return static_cast<char>(fs::path::preferred_separator);
}

TempTree::TempTree() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  root_ = fs::temp_directory_path() /
          ("quelix-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  fs::create_directories(root_);
}

TempTree::~TempTree() {
  std::error_code ignored;
  // Tests may leave read-only files behind; make everything writable before removing it.
  for (auto it = fs::recursive_directory_iterator(root_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(root_, ignored);
}

std::string TempTree::Root() const {
  std::string root = root_.string();
  if (root.back() != NativeSeparator()) root += NativeSeparator();
  return root;
}

std::string TempTree::Path(const std::string& relative) const {
  std::string path = Root() + relative;
  for (char& c : path) {
    if (c == '/') c = NativeSeparator();
  }
  return path;
}

void TempTree::Write(const std::string& relative, const std::string& content) const {
  const fs::path path = fs::path(Path(relative));
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

void TempTree::MakeDirectory(const std::string& relative) const {
  fs::create_directories(fs::path(Path(relative)));
}

std::string TempTree::Read(const std::string& relative) const {
  std::ifstream in(fs::path(Path(relative)), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool TempTree::Exists(const std::string& relative) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(fs::path(Path(relative)), ignored));
}

}  // namespace quelix
