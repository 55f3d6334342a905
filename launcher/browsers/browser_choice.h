// Which browser a run opens, and its exact command: a pure function of the facts the platform
// gathered (browser_facts_*.cpp), tested as a table on both builds without starting anything.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "launcher/os/child_process.h"

enum class BrowserKind {
  kInternetExplorer,  // Windows 7 and 8.1, or nothing else found: the shell's own windows
  kChromium,          // Chromium, Chrome, Edge, Brave, Vivaldi ...: own profile, DevTools list
  kFirefox,           // own profile and instance: its process lives as long as its window
  kOpener,            // the system opener (xdg-open, open): hands off and exits; not watchable
  kCommand,           // a Browser / $BROWSER command of another program: not watchable
};

// Everything the chooser looks at, gathered by platform code.
struct BrowserFacts {
  bool windows = false;
  // Windows: the version as RtlGetVersion reports it (6.1 = Windows 7, 6.3 = 8.1, 10.0).
  unsigned versionMajor = 0;
  unsigned versionMinor = 0;
  // The Browser setting (Windows: REG_SZ beside HttpPort) or $BROWSER (POSIX); "" when unset.
  std::wstring setting;
  // The user's default browser as a program path (Windows: the http UserChoice ProgId's
  // program; POSIX: the Exec program of `xdg-settings get default-web-browser`'s desktop file,
  // resolved on PATH); "" when unknown.
  std::wstring defaultBrowser;
  // Installed browsers by program path, in the order they are preferred (Windows: the App Paths
  // of msedge.exe, chrome.exe, firefox.exe, HKCU before HKLM; POSIX: chromium,
  // chromium-browser, google-chrome, google-chrome-stable, microsoft-edge, firefox on PATH).
  std::vector<std::wstring> installed;
  // POSIX: the programs found on PATH by name: the first word of each $BROWSER command and the
  // opener ("xdg-open" / "open"); a name missing here is not there. Windows: unused (the
  // setting's program is started as written).
  struct FoundProgram {
    std::wstring path;    // as found on PATH: what is started
    std::wstring target;  // the file it finally resolves to through links: what it is
  };
  std::map<std::wstring, FoundProgram> onPath;
  // The course is a SCORM package: its player needs a current browser, so on Windows 7 and 8.1
  // too one of the course's own is preferred to Internet Explorer (which then only gets the
  // player's page saying a current browser is needed).
  bool scormPackage = false;
  // Windows: the program-files folder (SHGetFolderPathW); "" when it could not be had.
  std::wstring programFiles;
  // The course's own folder (course_profile.h), "" when there is none (no data folder): then no
  // browser of the course's own is started. A browser's profile is its "chromium" or "firefox"
  // folder in it.
  std::wstring profileDir;
};

struct BrowserChoice {
  BrowserKind kind = BrowserKind::kOpener;
  std::wstring program;            // the program started (a path, or a name CreateProcessW finds)
  std::vector<std::wstring> args;  // its arguments after the program, the URL among them
  std::wstring profileDir;         // kChromium / kFirefox: the browser's profile folder
  // The folder it starts in: the profile folder, else the program's own folder; "" (the
  // launcher's) only for a program named without a folder. Never the launcher's working folder
  // by choice, which may be on a stick the user wants to eject while the browser runs.
  std::wstring workingDir;
};

// The browser for `url`:
// - the setting's first command whose program is there (Windows: the setting as one command, in
//   which "%1" stands for the URL as "%s" does, as in a ProgId's registered command);
//   a Chromium-family or Firefox program by file name gets the course's profile, else kCommand;
// - Windows 10 and later, and any Windows for a SCORM package: the default browser when
//   Chromium-family or Firefox, else the first installed; with the course's profile;
// - Windows before 10 (or nothing found there): Internet Explorer, "-nohome" and the URL;
// - POSIX: the default browser when Chromium-family or Firefox, else the first installed, else
//   the opener; kCommand with no program when there is none at all.
// Without a profile folder a Chromium-family or Firefox browser is started as kCommand.
BrowserChoice ChooseBrowser(const BrowserFacts& facts, const std::wstring& url);

// The kind of a program by its file name, letter case ignored and ".exe" dropped:
// kChromium, kFirefox, or kCommand for any other.
BrowserKind BrowserKindOfProgram(const std::wstring& program);

// Windows' command line for a choice: Internet Explorer's exactly as `"<path>" -nohome "<url>"`
// (nothing escaped); any other program and argument quoted by QuoteWindowsArgument.
std::wstring WindowsCommandLine(const BrowserChoice& choice);

// How the choice is started (Platform::StartProcess): its program, arguments and working folder,
// its WindowsCommandLine, and for kChromium the pipe its DevTools speak over.
ProgramStart ProgramStartOf(const BrowserChoice& choice);

// One argument quoted so that CommandLineToArgvW gives it back unchanged: as it is when it has
// no blank, tab, newline or quote and is not empty; else in quotes, with backslashes before a
// quote (or before the closing quote) doubled and each quote escaped.
std::wstring QuoteWindowsArgument(const std::wstring& arg);

// The inverse, by CommandLineToArgvW's rules for the words after the program (and the program
// word by its own rule: up to the next blank, or quoted without escapes). Used to read the
// Browser setting, and by tests on every build.
std::vector<std::wstring> SplitWindowsCommandLine(const std::wstring& line);

// The words that give a browser of `kind` the course's own profile; they go right after the
// program. Chromium: --user-data-dir=DIR --no-first-run --no-default-browser-check
// --remote-debugging-pipe (DevTools over the pipe StartProcess gives it; no TCP port that other
// users of the machine could reach). Firefox: -profile DIR -no-remote -new-instance, and on Windows
// -wait-for-browser (there firefox.exe is a launcher that starts the browser and ends at once
// unless told to wait for it). Else none.
std::vector<std::wstring> OwnProfileArguments(BrowserKind kind, const std::wstring& profileDir,
                                              bool windows = false);
