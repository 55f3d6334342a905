// Process services for POSIX: CLOCK_MONOTONIC ticks, a sleep that SIGINT and SIGTERM cut short
// (their handler writes to a self-pipe that the sleep polls), stat() for file attributes. There
// is no COM apartment here.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "launcher/system.h"
#include "text/text.h"

namespace {

volatile sig_atomic_t StopRequested = 0;
int StopPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const int saved = errno;
  StopRequested = 1;
  if (StopPipe[1] >= 0) {
    const char byte = 's';
    [[maybe_unused]] const ssize_t ignored = write(StopPipe[1], &byte, 1);
  }
  errno = saved;
}

long long MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

namespace os {

std::uint32_t TickCount() { return static_cast<std::uint32_t>(MonotonicMs()); }

bool Sleep(std::uint32_t ms) {
  const long long deadline = MonotonicMs() + ms;
  while (!StopRequested) {
    const long long left = deadline - MonotonicMs();
    if (left <= 0) return true;
    pollfd wake{StopPipe[0], POLLIN, 0};
    // Without the pipe, poll() on no descriptor is a plain sleep that a signal still cuts short.
    poll(&wake, StopPipe[0] >= 0 ? 1 : 0, static_cast<int>(left));
  }
  return false;
}

void WatchStopSignals() {
  if (StopPipe[0] >= 0) return;
  if (pipe(StopPipe) == 0) {
    for (int fd : StopPipe) {
      fcntl(fd, F_SETFD, FD_CLOEXEC);
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
  } else {
    StopPipe[0] = StopPipe[1] = -1;
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool IsExistingFile(const std::wstring& path) {
  struct stat info {};
  return stat(WideToAnsi(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

void BeginComApartment() {}

void EndComApartment() {}

}  // namespace os
