// quelix: the command-line program.
#include <iostream>

#include "cli/quelix.h"

int main(int argc, char** argv) {
  auto fs = quelix::CreateNativeFileSystem();
  auto places = quelix::CreateNativePlaces();
  auto console = quelix::CreateNativeConsole();
  const std::vector<std::string> args(argv + 1, argv + argc);
  return quelix::RunQuelix(args, std::cout, std::cerr, {*fs, *places, *console});
}
