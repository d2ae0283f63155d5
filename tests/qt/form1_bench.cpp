// form1_bench ROOT
// Runs the Scan command in the real window with ROOT as the chosen volume and prints, like
// scan_bench, the infected list to standard output and "candidates=N infected=M seconds=S" as the
// last line of standard error; the two together show what the window's yields and lists cost.
#include <QApplication>
#include <QPushButton>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "tests/support/fake_places.h"
#include "window/qt/form1.h"

namespace {

class SilentShell : public quelix::Shell {
 public:
  quelix::Status hyperlink(const std::string&) override { return quelix::Status::Ok(); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: form1_bench ROOT\n");
    return 2;
  }
  QApplication app(argc, argv);
  auto file_system = quelix::CreateNativeFileSystem();
  SilentShell shell;
  const auto program_dir = std::filesystem::temp_directory_path() / "quelix-form1-bench";
  std::filesystem::create_directories(program_dir);
  quelix::FakePlaces places;
  places.volumes = {{argv[1], argv[1], "", "", ""}};
  places.program_dir = program_dir.string();
  // No event log, as scan_bench keeps none unless asked: the two do the same work, and the
  // difference is what the window's lists, status line and yields cost.
  quelix::Form1::Setup setup;
  setup.fs = file_system.get();
  setup.shell = &shell;
  setup.places = &places;
  setup.on_unload = [] {};
  quelix::Form1 form(std::move(setup));
  form.Load();
  form.show();
  // A person clicks Scan in a window already drawn: its first drawing is no part of the scan.
  QCoreApplication::processEvents();

  const auto start = std::chrono::steady_clock::now();
  form.findChild<QPushButton*>("cmdScan")->click();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

  std::string out;
  for (size_t i = 0; i < form.InfectedCount(); ++i) out += form.Infected(i) + "\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fprintf(stderr, "candidates=%zu infected=%zu seconds=%.3f\n", form.CandidateCount(),
               form.InfectedCount(), elapsed.count());
  form.close();
  std::filesystem::remove_all(program_dir);
  return 0;
}
