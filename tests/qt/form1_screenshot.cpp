// form1_screenshot OUT.png
// Builds a small sample web folder with a few infected pages, scans it in the real window, and
// saves what the screen shows of the window as OUT.png. Run under Xvfb by scripts/screenshot.
#include <QApplication>
#include <QEventLoop>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "engine/signature.h"
#include "tests/support/fake_places.h"
#include "tests/support/remove_fixture.h"
#include "window/qt/form1.h"

namespace {

namespace fs = std::filesystem;

class SilentShell : public quelix::Shell {
 public:
  quelix::Status hyperlink(const std::string&) override { return quelix::Status::Ok(); }
};

void WritePage(const fs::path& path, bool infected) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << "<html>\r\n<p>Welcome</p>\r\n";
  if (infected) out << quelix::MarkerLine() << "\r\n" << quelix::SignatureLine() << "\r\n";
  out << "</html>\r\n";
}

void Wait(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: form1_screenshot OUT.png\n");
    return 2;
  }
  QApplication app(argc, argv);
  const fs::path sample = fs::temp_directory_path() / "quelix-sample";
  fs::remove_all(sample);
  const fs::path www = sample / "www";
  WritePage(www / "index.htm", true);
  WritePage(www / "about.html", false);
  WritePage(www / "shop" / "cart.asp", true);
  WritePage(www / "shop" / "order.php", false);
  WritePage(www / "scripts" / "menu.vbs", true);
  WritePage(www / "archive" / "2003" / "news.htm", true);
  WritePage(www / "archive" / "folder.htt", false);
  fs::create_directories(sample / "program");

  auto file_system = quelix::CreateNativeFileSystem();
  SilentShell shell;
  quelix::FakePlaces places;
  places.volumes = {{www.string(), www.string() + " (WEBSITE)", "/dev/sdb1", "WEBSITE", "ext4"}};
  places.program_dir = (sample / "program").string();
  places.log_places = {{(sample / "program" / "log.txt").string(), false}};
  quelix::Form1::Setup setup;
  setup.fs = file_system.get();
  setup.shell = &shell;
  setup.places = &places;
  // The sample volume's registry still holds the value that starts the virus at every logon.
  quelix::FakeRegistry registry;
  const size_t machine =
      registry.AddStore(quelix::RegistryRoot::kLocalMachine, "HKEY_LOCAL_MACHINE", false);
  registry.SetValue(machine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "Kernel32",
                    "wscript.exe kernel.vbs");
  setup.open_registry = [&registry](quelix::Directory&) {
    return std::make_unique<quelix::BorrowedRegistry>(registry);
  };
  setup.on_unload = [] {};
  int status = 0;
  {
    quelix::Form1 form(std::move(setup));
    form.Load();
    form.show();
    Wait(300);
    form.findChild<QPushButton*>("cmdScan")->click();
    Wait(300);
    // What the screen shows, where there is one; the window's own drawing otherwise.
    QPixmap shot = form.screen()->grabWindow(form.winId());
    if (shot.isNull()) shot = form.grab();
    if (!shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
      std::fprintf(stderr, "form1_screenshot: cannot write %s\n", argv[1]);
      status = 1;
    }
  }
  fs::remove_all(sample);
  return status;
}
