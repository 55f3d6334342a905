// The start-up driver: the whole run on the main thread, from the session prefix to tear-down.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class BrowserSystem;
class Platform;
struct UserSettings;

// The command line as the entry point split it.
struct CommandLine {
  bool present = false;            // the entry point was given a command line at all
  std::vector<std::wstring> args;  // normally args[0] is the program itself
  std::size_t candidate = 0;       // index of the argument that may name an archive
};

// The archive candidate by the Windows rule: 1 when the extension of args[0] is "exe" in any
// letter case (a normal start, args[0] being the program), else 0 (args[0] itself is tried).
std::size_t ArchiveCandidateIndex(const std::vector<std::wstring>& args);

// Runs the program: SessionPrefix, the course's identity (the candidate archive, else this
// program), the server on the HttpPort setting or the course's own port, SessionUrl, the archive
// (the candidate argument, else the embedded one), the start URL with its query and ".start"
// text, the browser chosen from `browsers` and its watch, and tear-down in order. Archive errors
// and a server that cannot listen are shown with Platform::ShowError. Returns 0.
int RunLauncher(Platform& platform, BrowserSystem& browsers, const UserSettings& settings,
                const CommandLine& commandLine);

// orvane --progress [ARCHIVE]: the learner's record of the package (the candidate argument, else
// the embedded one) as JSON on standard output (ProgressReport). 0 once written; 1 when there is
// no package to report on or no output.
int PrintProgress(Platform& platform, const CommandLine& commandLine);
