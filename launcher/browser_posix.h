// What the POSIX browser service keeps about the browser it started; shared with the probe.
#pragma once

#include <sys/types.h>

#include <string>

#include "launcher/browser_process.h"
#include "launcher/browser_command.h"

namespace os {

struct BrowserProcess::State {
  pid_t pid = -1;                          // the started process until it is reaped or let go
  BrowserKind kind = BrowserKind::kOther;  // decides how the probe asks
  std::string profileDir;                  // the browser's own profile folder, "" when none
};

}  // namespace os
