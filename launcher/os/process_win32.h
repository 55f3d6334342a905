// Starting programs on Windows: CreateProcessW and the handle of the process it started.
#pragma once

#include <memory>
#include <string>

#include "launcher/os/platform.h"

namespace os {

// Starts `commandLine` with CreateProcessW: `program` as the application name, or "" to let the
// system take the program from the line's first word (Internet Explorer's line is started so).
// Handles are not inherited; the caller's environment and folder are used. The line is copied,
// since CreateProcessW may write into it; one longer than the system takes is refused before
// CreateProcessW sees it. Null on failure, after the diagnostic "CreateProcess failed [%lu].\n".
std::unique_ptr<ChildProcess> StartWindowsProcess(const std::wstring& program,
                                                  const std::wstring& commandLine);

}  // namespace os
