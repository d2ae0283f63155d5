// read_files LIST
// Reads every file named in LIST (one path per line) from start to end in 256 KiB blocks through
// one buffer and looks for the signature's bytes in each block, and prints "files=N bytes=B
// found=F seconds=S": the floor under any scan of the same files on one thread.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/drive_generator.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: read_files LIST\n");
    return 2;
  }
  std::ifstream list(argv[1], std::ios::binary);
  if (!list) {
    std::fprintf(stderr, "read_files: cannot open %s\n", argv[1]);
    return 2;
  }
  std::vector<std::string> paths;
  for (std::string line; std::getline(list, line);) paths.push_back(line);

  const auto start = std::chrono::steady_clock::now();
  std::vector<char> buffer(256 * 1024);
  const std::string needle = quelix::bench::BenchSignature();
  unsigned long long bytes = 0;
  size_t files = 0;
  size_t found = 0;
  for (const std::string& path : paths) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    ++files;
    for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) {
      bytes += static_cast<unsigned long long>(n);
      if (::memmem(buffer.data(), static_cast<size_t>(n), needle.data(), needle.size())) ++found;
    }
    ::close(fd);
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("files=%zu bytes=%llu found=%zu seconds=%.3f\n", files, bytes, found,
              elapsed.count());
  return 0;
}
