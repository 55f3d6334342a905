// Browser process for POSIX: $BROWSER, else the first known browser on PATH, else the desktop's
// opener. Chromium-family browsers and Firefox get a fresh profile folder of their own (removed
// when the run ends), so the process started is a new browser instance; waitpid() watches it.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <ftw.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "launcher/browser_posix.h"
#include "launcher/spawn_posix.h"
#include "text/text.h"

namespace {

#ifdef __APPLE__
constexpr const char* kOpener = "open";
#else
constexpr const char* kOpener = "xdg-open";
#endif

// Recognised by the command's own name, or by the name of the file it finally resolves to
// (/usr/bin/x-www-browser may lead to chromium).
BrowserKind KindOf(const std::string& word, const std::string& path) {
  const BrowserKind kind = BrowserKindOf(word);
  if (kind != BrowserKind::kOther) return kind;
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) != nullptr) return BrowserKindOf(resolved);
  return BrowserKind::kOther;
}

// A new, empty folder for a browser profile under $TMPDIR (else /tmp); "" on failure.
std::string MakeProfileDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = (tmp != nullptr && tmp[0] == '/') ? tmp : "/tmp";
  pattern += "/orvane-profile-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return std::string();
  return pattern;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  std::remove(path);
  return 0;
}

// Removes the folder and everything in it, never following symbolic links.
void RemoveTree(const std::string& dir) {
  // A browser's helper processes may still be writing as it ends; a second pass catches that.
  for (int attempt = 0; attempt < 3 && access(dir.c_str(), F_OK) == 0; ++attempt) {
    if (attempt > 0) usleep(200 * 1000);
    nftw(dir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
}

// waitpid without waiting, through interruptions: `pid` when it has ended (and is reaped now),
// 0 while it runs, -1 with errno on failure.
pid_t WaitWithoutBlocking(pid_t pid) {
  int status = 0;
  pid_t result;
  do {
    result = waitpid(pid, &status, WNOHANG);
  } while (result < 0 && errno == EINTR);
  return result;
}

// Reaps `pid` if it has ended; true when it has (or is no child to wait for any more).
bool Reaped(pid_t pid) {
  const pid_t result = WaitWithoutBlocking(pid);
  return result == pid || (result < 0 && errno == ECHILD);
}

// Ends a browser that is still running: SIGTERM, up to 3 s of grace, then SIGKILL.
void Terminate(pid_t pid) {
  kill(pid, SIGTERM);
  for (int i = 0; i < 60; ++i) {
    if (Reaped(pid)) return;
    usleep(50 * 1000);
  }
  kill(pid, SIGKILL);
  os::WaitForExit(pid);
}

}  // namespace

namespace os {

BrowserProcess::BrowserProcess() : state_(std::make_unique<State>()) {}

BrowserProcess::~BrowserProcess() {
  Close();
  if (!state_->profileDir.empty()) RemoveTree(state_->profileDir);
}

bool BrowserProcess::Launch(const std::wstring& startUrl) {
  const std::string url = WideToAnsi(startUrl);
  std::vector<std::vector<std::string>> commands;
  const char* variable = std::getenv("BROWSER");
  if (variable != nullptr && variable[0] != '\0') commands = BrowserVariableCommands(variable, url);
  for (const std::string& name : KnownBrowsers()) commands.push_back({name, url});
  commands.push_back({kOpener, url});

  for (const std::vector<std::string>& command : commands) {
    const std::string path = FindProgram(command[0]);
    if (path.empty()) continue;
    BrowserKind kind = KindOf(command[0], path);
    std::string profileDir;
    if (kind != BrowserKind::kOther) {
      profileDir = MakeProfileDir();
      // Without a folder of its own the browser may hand the page to a running instance.
      if (profileDir.empty()) kind = BrowserKind::kOther;
    }
    std::vector<std::string> argv = {command[0]};
    for (std::string& word : OwnProfileArguments(kind, profileDir)) argv.push_back(std::move(word));
    argv.insert(argv.end(), command.begin() + 1, command.end());
    const pid_t pid = SpawnProgram(path, argv);
    if (pid < 0) {
      DebugLog("cannot start '%s' [%d].\n", path.c_str(), errno);
      if (!profileDir.empty()) RemoveTree(profileDir);
      continue;
    }
    state_->pid = pid;
    state_->kind = kind;
    state_->profileDir = profileDir;
    return true;
  }
  DebugLog("no browser found.\n");
  return false;
}

BrowserState BrowserProcess::Check() {
  if (state_->pid < 0) return BrowserState::kUnknown;
  const pid_t result = WaitWithoutBlocking(state_->pid);
  if (result == 0) return BrowserState::kRunning;
  if (result == state_->pid) {
    state_->pid = -1;
    return BrowserState::kExited;
  }
  return BrowserState::kUnknown;
}

void BrowserProcess::Close() {
  if (state_->pid < 0) return;
  // Its profile folder goes away with the run, so a browser that uses it must end first; any
  // other browser is simply let go.
  if (!state_->profileDir.empty() && !Reaped(state_->pid)) Terminate(state_->pid);
  state_->pid = -1;
}

}  // namespace os
