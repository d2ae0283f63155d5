// scan_bench ROOT [--log FILE] [--remove]
// Runs the Scan command on ROOT without a window: prints the infected list to standard output,
// one path per line, and "candidates=N infected=M seconds=S" as the last line of standard error.
// With --remove it then runs the Remove command (the registry repair works on the offline hives
// of a Windows installation under ROOT, if there is one) and prints "cleaned PATH" or
// "not cleaned PATH: REASON" for every listed file.
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
  bool remove = false;
};

bool ParseArguments(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
      options->log_path = argv[++i];
    } else if (std::strcmp(argv[i], "--remove") == 0) {
      options->remove = true;
    } else if (argv[i][0] == '-' || !options->root.empty()) {
      return false;
    } else {
      options->root = argv[i];
    }
  }
  return !options->root.empty();
}

void Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, &options)) {
    std::fprintf(stderr, "usage: scan_bench ROOT [--log FILE] [--remove]\n");
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
  log.Flush();
  std::string out;
  for (const std::string& path : window.infected()) out += path + "\n";
  Print(out);
  std::fflush(stdout);

  size_t cleaned = 0;
  if (options.remove) {
    engine.RemoveCommand();
    out.clear();
    for (const quelix::RemovalResult& r : engine.removal()) {
      cleaned += r.result.cleaned ? 1 : 0;
      out += r.result.cleaned ? "cleaned " + r.path + "\n"
                              : "not cleaned " + r.path + ": " + r.result.reason + "\n";
    }
    Print(out);
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  log.Close();
  std::fflush(stdout);
  if (options.remove) {
    std::fprintf(stderr, "candidates=%zu infected=%zu cleaned=%zu failed=%zu seconds=%.3f\n",
                 window.CandidateCount(), window.InfectedCount(), cleaned,
                 engine.removal().size() - cleaned, elapsed.count());
  } else {
    std::fprintf(stderr, "candidates=%zu infected=%zu seconds=%.3f\n", window.CandidateCount(),
                 window.InfectedCount(), elapsed.count());
  }
  return 0;
}
