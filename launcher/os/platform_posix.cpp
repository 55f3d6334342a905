// The POSIX Platform: steady-clock ticks, a sleep that SIGINT and SIGTERM cut short (their
// handler writes to a self-pipe the sleep polls), SIGPIPE ignored (a closed standard error must
// not end the run), posix_spawn for the programs it starts, the XDG data folder for profiles.
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "http/steady_clock.h"
#include "launcher/os/alert.h"
#include "launcher/os/platform.h"
#include "launcher/os/spawn_posix.h"
#include "launcher/os/xdg_posix.h"
#include "text/own_program_posix.h"
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

// SIGINT and SIGTERM end the watch instead of the process; SIGPIPE is ignored.
void InstallSignalHandlers() {
  if (StopPipe[0] < 0 && pipe(StopPipe) == 0) {
    for (int fd : StopPipe) os::MakeNonBlockingCloseOnExec(fd);
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  std::remove(path);
  return 0;
}

class PosixProcess final : public ChildProcess {
 public:
  PosixProcess(pid_t pid, std::unique_ptr<os::PosixMessagePipe> pipe) : pid_(pid), pipe_(std::move(pipe)) {}

  ProcessState Check() override {
    if (pid_ < 0) return ProcessState::kExited;
    const pid_t result = os::WaitWithoutBlocking(pid_);
    if (result == 0) return ProcessState::kRunning;
    if (result == pid_ || (result < 0 && errno == ECHILD)) {
      pid_ = -1;
      return ProcessState::kExited;
    }
    return ProcessState::kUnknown;
  }

  void End() override {
    if (Check() != ProcessState::kRunning) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 60; ++i) {
      if (Check() == ProcessState::kExited) return;
      usleep(50 * 1000);
    }
    kill(pid_, SIGKILL);
    os::WaitForExit(pid_);
    pid_ = -1;
  }

  MessagePipe* Pipe() override { return pipe_.get(); }

 private:
  pid_t pid_;
  std::unique_ptr<os::PosixMessagePipe> pipe_;
};

// A lock file held open with flock(): the kernel lets go of it when the process ends.
class PosixFolderLock final : public FolderLock {
 public:
  explicit PosixFolderLock(int fd) : fd_(fd) {}
  ~PosixFolderLock() override { close(fd_); }

 private:
  int fd_;
};

// A name beside `path` in its parent for a folder on its way out.
std::string AsideName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return path.substr(0, slash + 1) + ".removing-" + std::to_string(getpid()) + "-" +
         path.substr(slash + 1);
}

class PosixPlatform final : public Platform {
 public:
  PosixPlatform() { InstallSignalHandlers(); }

  std::uint64_t NowMs() override { return SteadyClockMs(); }
  std::int64_t UnixSeconds() override { return static_cast<std::int64_t>(time(nullptr)); }

  bool Sleep(std::uint32_t ms) override {
    const std::uint64_t deadline = NowMs() + ms;
    while (!StopRequested) {
      const std::uint64_t now = NowMs();
      if (now >= deadline) return true;
      pollfd wake{StopPipe[0], POLLIN, 0};
      // Without the pipe, poll() on no descriptor is a plain sleep that a signal cuts short.
      poll(&wake, StopPipe[0] >= 0 ? 1 : 0, static_cast<int>(deadline - now));
    }
    return false;
  }

  os::AccountNames CurrentAccount() override { return os::CurrentAccount(); }

  bool IsExistingFile(const std::wstring& path) override {
    struct stat info {};
    return stat(WideToPath(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
  }

  bool ReadSmallFile(const std::wstring& path, std::size_t maxBytes, std::string& bytes) override {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(WideToPath(path).c_str(), "rb"),
                                                         std::fclose);
    if (!file) return false;
    bytes.assign(maxBytes, '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
    return true;
  }

  std::wstring OwnProgramPath() override { return PathToWide(OwnProgramFile()); }

  void ShowError(const std::wstring& text) override { os::ShowErrorAlert(text); }

  void Notice(const std::wstring& text) override {
    std::fprintf(stderr, "%s\n", WideToAnsi(text).c_str());
    std::fflush(stderr);
  }

  bool WriteOutput(const std::string& bytes) override {
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0;
  }

  std::wstring UserDataFolder() override {
    const std::string data = os::XdgFolder("XDG_DATA_HOME", "/.local/share");
    return data.empty() ? std::wstring() : PathToWide(data + "/keltrix/orvane");
  }

  bool MakeFolders(const std::wstring& path) override {
    const std::string native = WideToPath(path);
    for (std::size_t slash = native.find('/', 1);; slash = native.find('/', slash + 1)) {
      const std::string part = native.substr(0, slash);
      if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
      if (slash == std::string::npos) break;
    }
    struct stat info {};
    return stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }

  std::vector<FolderUse> ListFolders(const std::wstring& parent) override {
    std::vector<FolderUse> folders;
    const std::string native = WideToPath(parent);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(native.c_str()), closedir);
    if (!dir) return folders;
    while (const dirent* entry = readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      struct stat info {};
      if (lstat((native + "/" + name).c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) continue;
      struct stat stamp {};
      const bool marked = stat((native + "/" + name + "/" + kStamp).c_str(), &stamp) == 0;
      folders.push_back({PathToWide(name), marked ? static_cast<std::int64_t>(stamp.st_mtime) : 0});
    }
    return folders;
  }

  void MarkFolderUsed(const std::wstring& folder) override {
    const std::string stamp = WideToPath(folder) + "/" + kStamp;
    const int fd = open(stamp.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    futimens(fd, nullptr);
    close(fd);
  }

  void RemoveTree(const std::wstring& path) override {
    const std::string native = WideToPath(path);
    const std::string aside = AsideName(native);
    const bool moved = rename(native.c_str(), aside.c_str()) == 0;
    nftw((moved ? aside : native).c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  }

  std::unique_ptr<FolderLock> TryLockFolder(const std::wstring& folder, bool& heldElsewhere) override {
    heldElsewhere = false;
    const std::string path = WideToPath(folder) + ".lock";
    // A lock file removed (RemoveFolderLock) between its open and its lock here is not the one
    // at the path any more: the lock is taken again on the file that is.
    for (int attempt = 0; attempt < 8; ++attempt) {
      const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      if (fd < 0) return nullptr;
      if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        heldElsewhere = errno == EWOULDBLOCK;
        close(fd);
        return nullptr;
      }
      struct stat held {}, named {};
      if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino) {
        return std::make_unique<PosixFolderLock>(fd);
      }
      close(fd);
    }
    return nullptr;
  }

  std::vector<std::wstring> ListFolderLocks(const std::wstring& parent) override {
    std::vector<std::wstring> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(WideToPath(parent).c_str()), closedir);
    if (!dir) return names;
    while (const dirent* entry = readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".lock") == 0) {
        names.push_back(PathToWide(name.substr(0, name.size() - 5)));
      }
    }
    return names;
  }

  void RemoveFolderLock(const std::wstring& folder, std::unique_ptr<FolderLock> lock) override {
    unlink((WideToPath(folder) + ".lock").c_str());
    lock.reset();
  }

  bool WriteSmallFile(const std::wstring& path, const std::string& bytes) override {
    // Written beside it and renamed over it, so a reader never sees half of it.
    const std::string native = WideToPath(path);
    const std::string temporary = native + "." + std::to_string(getpid());
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(temporary.c_str(), "wb"), std::fclose);
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    if (std::fclose(file.release()) != 0 || !written) {
      std::remove(temporary.c_str());
      return false;
    }
    return rename(temporary.c_str(), native.c_str()) == 0;
  }

  std::unique_ptr<ChildProcess> StartProcess(const ProgramStart& start) override {
    const std::string path = WideToPath(start.program);
    std::vector<std::string> argv = {path};
    // Byte for byte: a path that is not UTF-8 stays the file it names.
    for (const std::wstring& arg : start.args) argv.push_back(WideToPath(arg));
    os::SpawnOptions options;
    options.folder = WideToPath(start.folder);
    // The child reads the pipe on its descriptor 3 and writes on its 4.
    std::unique_ptr<os::PosixMessagePipe> pipe;
    int childReads = -1, childWrites = -1;
    if (start.messagePipe) pipe = os::PosixMessagePipe::Make(childReads, childWrites);
    if (pipe) options.descriptors = {{childReads, 3}, {childWrites, 4}};
    const pid_t pid = os::SpawnProgram(path, argv, options);
    const int error = errno;
    if (pipe) {
      close(childReads);
      close(childWrites);
    }
    if (pid < 0) {
      DebugLog("cannot start '%s' [%d].\n", path.c_str(), error);
      return nullptr;
    }
    return std::make_unique<PosixProcess>(pid, std::move(pipe));
  }

 private:
  static constexpr const char* kStamp = ".orvane-used";
};

}  // namespace

std::unique_ptr<Platform> NewSystemPlatform() { return std::make_unique<PosixPlatform>(); }
