// Starting helper programs on POSIX (the browser, the alert dialog): finding them on PATH and
// spawning them with a clean signal state.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace os {

// The path of an executable regular file `program`: itself when it holds a "/", else the first
// PATH folder that has it (empty PATH entries are skipped rather than meaning the current
// folder; an unset PATH means /usr/local/bin:/usr/bin:/bin). "" when there is none.
std::string FindProgram(const std::string& program);

// Starts `path` with the words `argv` (argv[0] included), the caller's environment, SIGINT,
// SIGTERM and SIGPIPE at their defaults and no signal blocked. The process id, or -1 when it
// could not be started (exec failures included).
pid_t SpawnProgram(const std::string& path, const std::vector<std::string>& argv);

// Waits for `pid` to end, through interruptions by signals.
void WaitForExit(pid_t pid);

}  // namespace os
