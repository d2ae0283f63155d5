// quelix-remover: the program's window on Linux.
#include <QApplication>
#include <QIcon>

#include "platform/file_system.h"
#include "platform/places.h"
#include "platform/shell.h"
#include "window/qt/form1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Installed, the window shows the program's icon from the icon theme, as its desktop entry does.
  QApplication::setWindowIcon(QIcon::fromTheme("quelix-remover"));
  auto fs = quelix::CreateNativeFileSystem();
  auto shell = quelix::CreateNativeShell();
  auto places = quelix::CreateNativePlaces();

  quelix::Form1::Setup setup;
  setup.fs = fs.get();
  setup.shell = shell.get();
  setup.places = places.get();
  quelix::Form1 form(std::move(setup));
  form.Load();
  form.show();
  return app.exec();
}
