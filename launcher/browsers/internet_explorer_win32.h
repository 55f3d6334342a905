// Internet Explorer as the run's browser (Windows only); see internet_explorer_win32.cpp.
#pragma once

#include <memory>

#include "launcher/browsers/browser.h"

// Internet Explorer for `choice`, whose command line WindowsCommandLine builds. Its page check
// asks the shell's window collection and answers kNotShown on every failure; Close lets go of
// the process handle and the shell-windows object, so it comes before the COM apartment ends.
std::unique_ptr<Browser> NewWindowsInternetExplorer(const BrowserChoice& choice);
