// scan_bench ROOT [--log FILE] [--remove] [--run COMMANDS]
// scan_bench --show LIST
// Runs the program's commands on ROOT without a window, through the same controller as the
// windows. COMMANDS is a comma-separated list of "scan" and "remove" run in order ("scan" by
// default; --remove means "scan,remove"). After each scan, standard output gets the infected list,
// one path per line; after each remove, "cleaned PATH" or "not cleaned PATH: REASON" for every
// listed file (once per file). After every command, standard error gets "status: " and the final
// status line (its line break as one space), and after a remove also "message: " and the message
// box text and "icon: information" or "icon: warning". The last line of standard error counts:
// "candidates=N infected=M seconds=S", with "cleaned=C failed=F" before the seconds where a
// remove ran; the line before it, where a scan reached a candidate, "search: S seconds, the
// rest: R seconds" (when the first scan reached its first candidate). --show writes each line of
// LIST (paths, one a line) as scan_bench shows paths, for a comparison with a list of the real
// bytes.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/controller.h"
#include "bench/bench_window.h"
#include "runtime/shown_name.h"

namespace {

struct Options {
  std::string root;
  std::string log_path;
  std::vector<std::string> commands;
};

bool ParseCommands(const std::string& list, std::vector<std::string>* commands) {
  std::stringstream items(list);
  std::string item;
  while (std::getline(items, item, ',')) {
    if (item != "scan" && item != "remove") return false;
    commands->push_back(item);
  }
  return !commands->empty();
}

bool ParseArguments(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
      options->log_path = argv[++i];
    } else if (std::strcmp(argv[i], "--remove") == 0) {
      options->commands = {"scan", "remove"};
    } else if (std::strcmp(argv[i], "--run") == 0 && i + 1 < argc) {
      options->commands.clear();
      if (!ParseCommands(argv[++i], &options->commands)) return false;
    } else if (argv[i][0] == '-' || !options->root.empty()) {
      return false;
    } else {
      options->root = argv[i];
    }
  }
  if (options->commands.empty()) options->commands = {"scan"};
  return !options->root.empty();
}

std::string OneLine(std::string text) {
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " ");
  return text;
}

void Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void ReportScan(const quelix::BenchFrontEnd& front) {
  std::string out;
  for (const std::string& path : front.infected()) out += quelix::ShownName(path) + "\n";
  Print(out);
}

void ReportRemoval(const quelix::CommandController& controller) {
  std::string out;
  for (const quelix::RemovalResult& r : controller.engine().removal().files) {
    const std::string path = quelix::ShownName(r.path);
    out += r.result.cleaned
               ? "cleaned " + path + "\n"
               : "not cleaned " + path + ": " + quelix::ShownName(r.result.reason) + "\n";
  }
  Print(out);
  const quelix::Message& message = controller.message();
  std::fprintf(stderr, "message: %s\nicon: %s\n", OneLine(message.text).c_str(),
               message.icon == quelix::MessageIcon::kWarning ? "warning" : "information");
}

int ShowList(const char* list) {
  std::ifstream in(list, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "scan_bench: cannot read %s\n", list);
    return 2;
  }
  std::string out;
  for (std::string line; std::getline(in, line);) out += quelix::ShownName(line) + "\n";
  Print(out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--show") == 0) return ShowList(argv[2]);
  Options options;
  if (!ParseArguments(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: scan_bench ROOT [--log FILE] [--remove] [--run COMMANDS]\n"
                 "       scan_bench --show LIST\n");
    return 2;
  }
  auto fs = quelix::CreateNativeFileSystem();
  quelix::BenchFrontEnd front(options.root);
  quelix::CommandController controller(front, *fs, quelix::CreateNativeRegistry);
  if (!options.log_path.empty()) {
    const quelix::Status opened = controller.OpenLog({{options.log_path, false}});
    if (!opened.ok()) {
      std::fprintf(stderr, "scan_bench: cannot open the log: %s\n", opened.message().c_str());
      return 2;
    }
  }
  const auto start = std::chrono::steady_clock::now();
  bool removed = false;
  for (const std::string& command : options.commands) {
    if (command == "scan") {
      controller.Scan();
      ReportScan(front);
    } else {
      controller.Remove();
      ReportRemoval(controller);
      removed = true;
    }
    std::fprintf(stderr, "status: %s\n", OneLine(controller.final_status()).c_str());
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  if (front.scan_started()) {
    const std::chrono::duration<double> search = *front.scan_started() - start;
    std::fprintf(stderr, "search: %.3f seconds, the rest: %.3f seconds\n", search.count(),
                 elapsed.count() - search.count());
  }
  const quelix::RemovalReport& removal = controller.engine().removal();
  std::string counts = "candidates=" + std::to_string(front.CandidateCount()) +
                       " infected=" + std::to_string(front.InfectedCount());
  if (removed) {
    counts += " cleaned=" + std::to_string(removal.cleaned) +
              " failed=" + std::to_string(removal.files.size() - removal.cleaned);
  }
  std::fprintf(stderr, "%s seconds=%.3f\n", counts.c_str(), elapsed.count());
  return 0;
}
