// Entry point for Windows: the wide GUI entry; the process command line split by
// CommandLineToArgvW, the archive candidate chosen by the ".exe" test.
#include <windows.h>
#include <shellapi.h>

#include "launcher/browsers/browser_system.h"
#include "launcher/os/platform.h"
#include "launcher/run/settings.h"
#include "launcher/run/startup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLinePointer, int) {
  CommandLine commandLine;
  if (commandLinePointer != nullptr) {
    commandLine.present = true;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 0; argv != nullptr && i < argc; ++i) commandLine.args.emplace_back(argv[i]);
    LocalFree(argv);
    commandLine.candidate = ArchiveCandidateIndex(commandLine.args);
  }
  // "--progress [COURSE.zip]": the record of a SCORM package on standard output.
  const bool progress = commandLine.candidate < commandLine.args.size() && commandLine.args[commandLine.candidate] == L"--progress";
  if (progress) ++commandLine.candidate;
  std::unique_ptr<Platform> platform = NewSystemPlatform();
  if (progress) return PrintProgress(*platform, commandLine);
  std::unique_ptr<BrowserSystem> browsers = NewSystemBrowsers();
  return RunLauncher(*platform, *browsers, ReadUserSettings(), commandLine);
}
