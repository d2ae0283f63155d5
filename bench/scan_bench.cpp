// scan_bench ROOT [--log FILE]
// Runs the Scan command on ROOT without a window: prints the infected list to standard output,
// one path per line, and "candidates=N infected=M seconds=S" as the last line of standard error.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/bench_window.h"
#include "engine/engine.h"

namespace {

struct Options {
  std::string root;
  std::string log_path;
};

bool ParseArguments(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
      options->log_path = argv[++i];
    } else if (argv[i][0] == '-' || !options->root.empty()) {
      return false;
    } else {
      options->root = argv[i];
    }
  }
  return !options->root.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, &options)) {
    std::fprintf(stderr, "usage: scan_bench ROOT [--log FILE]\n");
    return 2;
  }
  auto fs = quelix::CreateNativeFileSystem();
  quelix::EventLog log(*fs);
  if (!options.log_path.empty()) {
    const quelix::Status opened = log.Open(options.log_path);
    if (!opened.ok()) {
      std::fprintf(stderr, "scan_bench: cannot open the log: %s\n", opened.message().c_str());
      return 2;
    }
  }
  quelix::BenchWindow window(options.root, log);
  quelix::Engine engine(window, *fs);

  const auto start = std::chrono::steady_clock::now();
  engine.ScanCommand();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  log.Close();

  std::string out;
  for (const std::string& path : window.infected()) out += path + "\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  std::fprintf(stderr, "candidates=%zu infected=%zu seconds=%.3f\n", window.CandidateCount(),
               window.InfectedCount(), elapsed.count());
  return 0;
}
