#include "app/window_launcher.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

namespace kelmo {
namespace {

// What a shell answers for a program it cannot find or run.
constexpr int kCannotStart = 127;

// The folder this program was started from, from the kernel, not from argv[0] or PATH.
std::string OwnFolder() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  const std::string exe(path, static_cast<std::size_t>(n));
  return exe.substr(0, exe.rfind('/') + 1);
}

}  // namespace

int StartWindow(char** argv) {
  const std::string folder = OwnFolder();
  // The build tree keeps both programs together; an installation puts the window under
  // libexec, at the same place relative to bin whatever the prefix.
  const std::string candidates[] = {folder + "kelmo-window", folder + KELMO_WINDOW_FROM_BINDIR};
  const std::string* failed = &candidates[1];  // the installed one, when neither is there
  int error = ENOENT;
  for (const std::string& program : candidates) {
    ::execv(program.c_str(), argv);  // argv[0] stays, so the window's name is that of kelmo
    if (errno == ENOENT) continue;   // not there: try the next place
    failed = &program;
    error = errno;
  }
  std::fprintf(stderr, "kelmo: cannot start the window program %s: %s\n", failed->c_str(),
               std::strerror(error));
  return kCannotStart;
}

}  // namespace kelmo
