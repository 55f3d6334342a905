#include "text/own_program_posix.h"

#include <limits.h>
#include <sys/auxv.h>
#include <unistd.h>

namespace {

std::string ReadProcLink() {
  std::string path(PATH_MAX, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return std::string();
    if (static_cast<std::size_t>(n) < path.size()) return path.substr(0, static_cast<std::size_t>(n));
    path.resize(path.size() * 2);
  }
}

// The path of the exec call, absolute. Taken on the first call; a relative one is resolved
// against the working folder of that moment, so the first call is made before any chdir (the
// static initialiser below).
const std::string& StartedPath() {
  static const std::string started = [] {
    const char* execfn = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    std::string path = execfn && *execfn ? execfn : std::string();
    if (!path.empty() && path[0] != '/') {
      char folder[PATH_MAX];
      path = getcwd(folder, sizeof folder) ? std::string(folder) + "/" + path : std::string();
    }
    return path;
  }();
  return started;
}

[[maybe_unused]] const std::string& kStartedPathAtStart = StartedPath();

}  // namespace

std::string OwnProgramFile() {
  const std::string linked = ReadProcLink();
  return linked.empty() ? StartedPath() : linked;
}
