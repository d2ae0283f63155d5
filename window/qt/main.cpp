// quelix-remover: the program's window on Linux.
#include <QApplication>
#include <QFile>
#include <cstdlib>

#include "platform/file_system.h"
#include "platform/shell.h"
#include "window/qt/form1.h"
#include "window/qt/program_paths.h"
#include "window/qt/volumes.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  auto fs = quelix::CreateNativeFileSystem();
  auto shell = quelix::CreateNativeShell();

  quelix::Form1::Setup setup;
  setup.fs = fs.get();
  setup.shell = shell.get();
  setup.program_dir = QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
  setup.state_home = quelix::StateHome(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
  setup.volumes = quelix::ListVolumes();
  // Without a readable mount table the whole tree is the one volume there is to offer.
  if (setup.volumes.empty()) setup.volumes.push_back({"/", "", "", ""});
  const char* home = std::getenv("HOME");
  setup.start_volume = quelix::VolumeHolding(setup.volumes, home ? home : "/");

  quelix::Form1 form(std::move(setup));
  form.Load();
  form.show();
  return app.exec();
}
