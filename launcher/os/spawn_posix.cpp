// Helper programs for POSIX: a PATH search and posix_spawn.
#include "launcher/os/spawn_posix.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <cstdlib>

#include "http/steady_clock.h"
#include "text/split.h"

extern char** environ;

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

namespace os {

std::string FindProgram(const std::string& program) {
  if (program.empty()) return std::string();
  if (program.find('/') != std::string::npos) {
    return IsExecutableFile(program) ? program : std::string();
  }
  const char* variable = std::getenv("PATH");
  const std::string path = variable != nullptr ? variable : "/usr/local/bin:/usr/bin:/bin";
  for (const std::string& folder : SplitText(path, ':')) {
    if (folder.empty()) continue;
    const std::string candidate = folder + "/" + program;
    if (IsExecutableFile(candidate)) return candidate;
  }
  return std::string();
}

namespace {

pid_t Spawn(const std::string& path, const std::vector<std::string>& argv,
            const posix_spawn_file_actions_t* files) {
  std::vector<char*> words;
  for (const std::string& word : argv) words.push_back(const_cast<char*>(word.c_str()));
  words.push_back(nullptr);

  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) return -1;
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int result = posix_spawn(&pid, path.c_str(), files, &attributes, words.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    errno = result;
    return -1;
  }
  return pid;
}

}  // namespace

pid_t SpawnProgram(const std::string& path, const std::vector<std::string>& argv,
                   const SpawnOptions& options) {
  if (options.folder.empty() && options.descriptors.empty()) return Spawn(path, argv, nullptr);
  posix_spawn_file_actions_t files;
  if (posix_spawn_file_actions_init(&files) != 0) return -1;
  for (const auto& [ours, theirs] : options.descriptors) {
    posix_spawn_file_actions_adddup2(&files, ours, theirs);
  }
  if (!options.folder.empty()) posix_spawn_file_actions_addchdir_np(&files, options.folder.c_str());
  const pid_t pid = Spawn(path, argv, &files);
  const int saved = errno;
  posix_spawn_file_actions_destroy(&files);
  errno = saved;
  return pid;
}

namespace {

// `fd` moved to a number of at least 10, close-on-exec; -1 on failure (`fd` is closed either way).
int MovedUp(int fd) {
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  close(fd);
  return moved;
}

}  // namespace

std::unique_ptr<PosixMessagePipe> PosixMessagePipe::Make(int& childReads, int& childWrites) {
  int toChild[2], fromChild[2];
  if (pipe(toChild) != 0) return nullptr;
  if (pipe(fromChild) != 0) {
    close(toChild[0]);
    close(toChild[1]);
    return nullptr;
  }
  int ends[4] = {MovedUp(toChild[0]), MovedUp(toChild[1]), MovedUp(fromChild[0]), MovedUp(fromChild[1])};
  bool ok = true;
  for (int fd : ends) ok = ok && fd >= 0;
  // Ours do not block: a child that stops reading must not stop the run.
  ok = ok && MakeNonBlockingCloseOnExec(ends[1]) && MakeNonBlockingCloseOnExec(ends[2]);
  if (!ok) {
    for (int fd : ends) {
      if (fd >= 0) close(fd);
    }
    return nullptr;
  }
  childReads = ends[0];
  childWrites = ends[3];
  return std::unique_ptr<PosixMessagePipe>(new PosixMessagePipe(ends[1], ends[2]));
}

PosixMessagePipe::~PosixMessagePipe() {
  close(toChild_);
  close(fromChild_);
}

bool PosixMessagePipe::Write(const std::string& bytes) {
  constexpr int kWriteTimeoutMs = 5000;
  const std::uint64_t deadline = SteadyClockMs() + kWriteTimeoutMs;
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(toChild_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;  // EPIPE: the child's end is closed
    const std::uint64_t now = SteadyClockMs();
    if (now >= deadline) return false;
    pollfd ready{toChild_, POLLOUT, 0};
    poll(&ready, 1, static_cast<int>(deadline - now));
  }
  return true;
}

MessagePipe::ReadResult PosixMessagePipe::Read(std::string& to, int timeoutMs) {
  const std::uint64_t deadline = SteadyClockMs() + static_cast<std::uint64_t>(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    char buffer[65536];
    const ssize_t n = read(fromChild_, buffer, sizeof buffer);
    if (n > 0) {
      to.append(buffer, static_cast<std::size_t>(n));
      return ReadResult::kData;
    }
    if (n == 0) return ReadResult::kClosed;
    if (errno != EAGAIN && errno != EINTR) return ReadResult::kClosed;
    const std::uint64_t now = SteadyClockMs();
    if (now >= deadline) return ReadResult::kTimeout;
    pollfd ready{fromChild_, POLLIN, 0};
    poll(&ready, 1, static_cast<int>(deadline - now));
  }
}

bool RunForOutput(const std::string& path, const std::vector<std::string>& argv, int timeoutMs,
                  std::string& output) {
  output.clear();
  int out[2];
  if (pipe(out) != 0) return false;
  MakeNonBlockingCloseOnExec(out[0]);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&files, out[1], 1);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  const pid_t pid = Spawn(path, argv, &files);
  posix_spawn_file_actions_destroy(&files);
  close(out[1]);
  if (pid < 0) {
    close(out[0]);
    return false;
  }
  const std::uint64_t deadline = SteadyClockMs() + static_cast<std::uint64_t>(timeoutMs);
  bool ended = false;
  for (;;) {
    char buffer[4096];
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n > 0 && output.size() < 65536) output.append(buffer, static_cast<std::size_t>(n));
    if (n == 0) break;  // the program closed its output
    const std::uint64_t now = SteadyClockMs();
    if (now >= deadline) break;
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    pollfd ready{out[0], POLLIN, 0};
    poll(&ready, 1, static_cast<int>(deadline - now));
  }
  close(out[0]);
  int status = 0;
  for (;;) {
    const pid_t result = waitpid(pid, &status, WNOHANG);
    if (result == pid) {
      ended = true;
      break;
    }
    if (result < 0 && errno != EINTR) break;
    if (SteadyClockMs() >= deadline) {
      kill(pid, SIGKILL);
      WaitForExit(pid);
      break;
    }
    usleep(10 * 1000);
  }
  return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

pid_t WaitWithoutBlocking(pid_t pid) {
  int status = 0;
  pid_t result;
  do {
    result = waitpid(pid, &status, WNOHANG);
  } while (result < 0 && errno == EINTR);
  return result;
}

bool MakeNonBlockingCloseOnExec(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
  return fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

void WaitForExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace os
