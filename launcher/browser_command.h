// How the browser's command line is composed: the Windows one for Internet Explorer, and the
// POSIX choices ($BROWSER, the known browsers, their own-profile switches). Pure string work.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// `"<browserPath>" -nohome` and, when startUrl is not empty, ` "<startUrl>"`. Nothing inside the
// path or the URL is escaped. Built in a growing string, so any length fits.
std::wstring IExploreCommandLine(const std::wstring& browserPath, const std::wstring& startUrl);

// The most characters a Windows command line may have, its terminating zero included. A longer
// line is refused before CreateProcessW sees it (Wine would cut it short instead of failing).
constexpr std::size_t kMaxCommandLineChars = 32767;

enum class BrowserKind {
  kChromium,  // Chromium, Chrome, Edge and kin: own profile, DevTools page list as the probe
  kFirefox,   // own profile and instance: its process lives as long as its window
  kOther,     // anything else, openers included: recent requests stand in for the probe
};

// The kind of the browser program by its base name ("/usr/bin/google-chrome" is kChromium).
BrowserKind BrowserKindOf(const std::string& program);

// The commands of a $BROWSER value by its common convention: ":"-separated commands, each split
// into words as a shell would (blanks separate; '...' literal; "..." and \ escape), no expansion.
// In each word "%s" becomes `url`, "%%" a "%" and "%c" a ":"; a command without "%s" gets `url`
// as one more word. Empty commands are left out.
std::vector<std::vector<std::string>> BrowserVariableCommands(const std::string& value,
                                                              const std::string& url);

// The browsers looked for on PATH when $BROWSER gives none, in order.
const std::vector<std::string>& KnownBrowsers();

// The words that give a browser of `kind` its own fresh profile in `profileDir` (and, for
// Chromium, its DevTools port file); they go right after the program. Empty for kOther.
std::vector<std::string> OwnProfileArguments(BrowserKind kind, const std::string& profileDir);
