// Starting helper programs on POSIX (the browser, the alert dialog, xdg-settings): finding them
// on PATH, spawning them with a clean signal state, and keeping our descriptors from them.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "launcher/os/message_pipe.h"

namespace os {

// The path of an executable regular file `program`: itself when it holds a "/", else the first
// PATH folder that has it (empty PATH entries are skipped rather than meaning the current
// folder; an unset PATH means /usr/local/bin:/usr/bin:/bin). "" when there is none.
std::string FindProgram(const std::string& program);

// What a started program gets beyond the caller's environment.
struct SpawnOptions {
  std::string folder;                               // its working folder; "" = the caller's
  std::vector<std::pair<int, int>> descriptors;     // {ours, the number it has in the child}
};

// Starts `path` with the words `argv` (argv[0] included), the caller's environment, SIGINT,
// SIGTERM and SIGPIPE at their defaults and no signal blocked, and `options`. The process id,
// or -1 when it could not be started (exec failures included).
pid_t SpawnProgram(const std::string& path, const std::vector<std::string>& argv,
                   const SpawnOptions& options = {});

// The launcher's ends of a child's message pipe: two pipes, close-on-exec, numbered 10 or
// more so that placing the child's ends at 3 and 4 cannot overwrite one another.
class PosixMessagePipe final : public MessagePipe {
 public:
  // Makes the pipes; `childReads` and `childWrites` are the ends the child gets as its 3 and 4,
  // for the caller to close once the child is started. Null when they cannot be made.
  static std::unique_ptr<PosixMessagePipe> Make(int& childReads, int& childWrites);
  ~PosixMessagePipe() override;
  PosixMessagePipe(const PosixMessagePipe&) = delete;
  PosixMessagePipe& operator=(const PosixMessagePipe&) = delete;

  bool Write(const std::string& bytes) override;
  ReadResult Read(std::string& to, int timeoutMs) override;

 private:
  PosixMessagePipe(int toChild, int fromChild) : toChild_(toChild), fromChild_(fromChild) {}
  int toChild_;
  int fromChild_;
};

// Waits for `pid` to end, through interruptions by signals.
void WaitForExit(pid_t pid);

// waitpid without waiting, through interruptions: `pid` when it has ended (and is reaped now),
// 0 while it runs, -1 with errno on failure.
pid_t WaitWithoutBlocking(pid_t pid);

// Runs `path` with `argv`, standard input and error on /dev/null, and collects up to 64 KiB of
// its standard output. True when it ended with status 0 within `timeoutMs`; one that takes
// longer is killed.
bool RunForOutput(const std::string& path, const std::vector<std::string>& argv, int timeoutMs,
                  std::string& output);

// Makes `fd` non-blocking and close-on-exec, so that no program started later inherits it.
// False when either flag could not be set.
bool MakeNonBlockingCloseOnExec(int fd);

}  // namespace os
