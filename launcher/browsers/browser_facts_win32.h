// What the browser chooser needs from Windows: the real version, the Browser setting, the
// user's default browser for http and the installed browsers' App Paths registrations.
#pragma once

#include <windows.h>

#include "launcher/browsers/browser_choice.h"
#include "launcher/os/registry_win32.h"

// The facts, all but profileDir:
// - the version as RtlGetVersion reports it (GetVersionEx answers by the program's manifest);
// - the setting: the Browser REG_SZ under user\SOFTWARE\keltrix\Orvane;
// - the default browser: DefaultHttpBrowser (the system's, whatever `roots` say);
// - installed: the App Paths registrations of msedge.exe, chrome.exe and firefox.exe (user, then
//   machine in its 64-bit and 32-bit views) whose files exist, in that order;
// - the program-files folder (SHGetFolderPathW CSIDL_PROGRAM_FILES); when that fails, the
//   diagnostic "SHGetFolderPath failed [0x%08x].\n" and "".
BrowserFacts GatherWindowsBrowserFacts(const os::RegistryRoots& roots);

// The program of the http protocol's current handler, as AssocQueryStringW with
// ASSOCF_IS_PROTOCOL answers (so Windows 11's UserChoiceLatest counts as Settings shows it), when
// its file exists; "" otherwise.
std::wstring DefaultHttpBrowser();
