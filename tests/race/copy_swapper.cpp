// copy_swapper DIR TARGET: plays the owner of DIR against a program that cleans files in it. Each
// time a file whose name ends in "temp" appears in DIR (the program's copy), it moves that file
// away and puts a symbolic link to TARGET under its name, as fast as the kernel tells it. Prints
// "ready" once it watches, and the number of swaps it made when it gets SIGTERM.
#include <sys/inotify.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void Stop(int) {
  g_stop = 1;
}

bool EndsWithTemp(const char* name) {
  const size_t n = std::strlen(name);
  return n > 4 && std::strcmp(name + n - 4, "temp") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: copy_swapper DIR TARGET\n");
    return 2;
  }
  const std::string dir = argv[1];
  // Without SA_RESTART, so that the signal ends the wait for the next event.
  struct sigaction stop {};
  stop.sa_handler = Stop;
  sigaction(SIGTERM, &stop, nullptr);
  const int watch = inotify_init1(0);
  if (watch < 0 || inotify_add_watch(watch, dir.c_str(), IN_CREATE) < 0) {
    std::perror("inotify");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  long swaps = 0;
  alignas(inotify_event) char events[64 * 1024];
  while (!g_stop) {
    const ssize_t got = read(watch, events, sizeof events);
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->len == 0 || !EndsWithTemp(event->name)) continue;
      const std::string name = dir + "/" + event->name;
      const std::string away = dir + "/stolen-" + std::to_string(swaps);
      if (rename(name.c_str(), away.c_str()) == 0 && symlink(argv[2], name.c_str()) == 0) ++swaps;
    }
  }
  std::printf("swaps %ld\n", swaps);
  return 0;
}
