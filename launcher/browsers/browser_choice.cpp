// The browser chooser and the command-line quoting; see browser_choice.h.
#include "launcher/browsers/browser_choice.h"

#include <cstddef>

#include "launcher/browsers/browser_variable.h"
#include "text/url.h"

namespace {

// The file name of a path with either separator, ASCII lower-cased, ".exe" dropped.
std::wstring ProgramName(const std::wstring& program) {
  const std::size_t slash = program.find_last_of(L"/\\");
  std::wstring name = slash == std::wstring::npos ? program : program.substr(slash + 1);
  LowerAscii(name);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, L".exe") == 0) name.resize(name.size() - 4);
  return name;
}

bool OwnsProfile(BrowserKind kind) {
  return kind == BrowserKind::kChromium || kind == BrowserKind::kFirefox;
}

// `program` with `words` after it, as a browser of `kind`: the course's profile when it can
// have one (a folder per kind in the course's folder, since Chromium and Firefox profiles do
// not mix), else a command the run cannot watch.
BrowserChoice CommandChoice(BrowserKind kind, const std::wstring& program,
                            std::vector<std::wstring> words, const BrowserFacts& facts) {
  BrowserChoice choice;
  choice.program = program;
  if (OwnsProfile(kind) && !facts.profileDir.empty()) {
    choice.kind = kind;
    choice.profileDir = facts.profileDir + (facts.windows ? L'\\' : L'/') +
                        (kind == BrowserKind::kChromium ? L"chromium" : L"firefox");
    choice.args = OwnProfileArguments(kind, choice.profileDir, facts.windows);
  } else {
    choice.kind = BrowserKind::kCommand;
  }
  for (std::wstring& word : words) choice.args.push_back(std::move(word));
  return choice;
}

// The setting's first usable command, or false. Windows: the whole value is one command line;
// POSIX: $BROWSER's ":"-separated commands, the first whose program is on PATH.
bool ChooseFromSetting(const BrowserFacts& facts, const std::wstring& url, BrowserChoice& choice) {
  if (facts.windows) {
    std::vector<std::wstring> words =
        ExpandBrowserWords(SplitWindowsCommandLine(facts.setting), url, /*percentOne=*/true);
    if (words.empty() || words[0].empty()) return false;
    const std::wstring program = words[0];
    words.erase(words.begin());
    choice = CommandChoice(BrowserKindOfProgram(program), program, std::move(words), facts);
    return true;
  }
  for (std::vector<std::wstring>& words : BrowserVariableCommands(facts.setting, url)) {
    const auto found = facts.onPath.find(words[0]);
    if (found == facts.onPath.end()) continue;
    // Known by the command's own name, or by the file it finally resolves to
    // (/usr/bin/x-www-browser may lead to chromium).
    BrowserKind kind = BrowserKindOfProgram(words[0]);
    if (kind == BrowserKind::kCommand) kind = BrowserKindOfProgram(found->second.target);
    words.erase(words.begin());
    choice = CommandChoice(kind, found->second.path, std::move(words), facts);
    return true;
  }
  return false;
}

// The default browser when it is one of the course's own kind, else the first installed.
bool ChooseOwnBrowser(const BrowserFacts& facts, const std::wstring& url, BrowserChoice& choice) {
  std::vector<std::wstring> candidates;
  if (!facts.defaultBrowser.empty()) candidates.push_back(facts.defaultBrowser);
  candidates.insert(candidates.end(), facts.installed.begin(), facts.installed.end());
  for (const std::wstring& program : candidates) {
    const BrowserKind kind = BrowserKindOfProgram(program);
    if (!OwnsProfile(kind)) continue;
    choice = CommandChoice(kind, program, {url}, facts);
    return true;
  }
  return false;
}

// The folder a choice starts in: its profile's, else its program's own.
void SetWorkingFolder(BrowserChoice& choice, bool windows) {
  if (!choice.profileDir.empty()) {
    choice.workingDir = choice.profileDir;
    return;
  }
  const std::size_t slash = choice.program.find_last_of(windows ? L"\\/" : L"/");
  if (slash == std::wstring::npos) return;
  // "C:\x.exe" starts in "C:\", "/x" in "/".
  const bool root = slash == 0 || (windows && slash == 2 && choice.program[1] == L':');
  choice.workingDir = choice.program.substr(0, root ? slash + 1 : slash);
}

BrowserChoice Choose(const BrowserFacts& facts, const std::wstring& url) {
  BrowserChoice choice;
  if (!facts.setting.empty() && ChooseFromSetting(facts, url, choice)) return choice;
  if (facts.windows) {
    if ((facts.versionMajor >= 10 || facts.scormPackage) && ChooseOwnBrowser(facts, url, choice)) return choice;
    choice.kind = BrowserKind::kInternetExplorer;
    if (!facts.programFiles.empty()) {
      choice.program = facts.programFiles + L"\\Internet Explorer\\iexplore.exe";
    }
    choice.args = {L"-nohome"};
    if (!url.empty()) choice.args.push_back(url);
    return choice;
  }
  if (ChooseOwnBrowser(facts, url, choice)) return choice;
  for (const wchar_t* opener : {L"xdg-open", L"open"}) {
    const auto found = facts.onPath.find(opener);
    if (found == facts.onPath.end()) continue;
    choice.kind = BrowserKind::kOpener;
    choice.program = found->second.path;
    choice.args = {url};
    return choice;
  }
  choice.kind = BrowserKind::kCommand;  // nothing to start
  return choice;
}

}  // namespace

BrowserKind BrowserKindOfProgram(const std::wstring& program) {
  static const wchar_t* const kChromiumNames[] = {
      L"chromium",         L"chromium-browser",      L"google-chrome",        L"google-chrome-stable",
      L"google-chrome-beta", L"google-chrome-unstable", L"chrome",            L"microsoft-edge",
      L"microsoft-edge-stable", L"microsoft-edge-beta", L"microsoft-edge-dev", L"msedge",
      L"brave-browser",    L"brave",                 L"vivaldi",              L"vivaldi-stable",
  };
  static const wchar_t* const kFirefoxNames[] = {L"firefox", L"firefox-esr"};
  const std::wstring name = ProgramName(program);
  for (const wchar_t* known : kChromiumNames) {
    if (name == known) return BrowserKind::kChromium;
  }
  for (const wchar_t* known : kFirefoxNames) {
    if (name == known) return BrowserKind::kFirefox;
  }
  return BrowserKind::kCommand;
}

std::vector<std::wstring> OwnProfileArguments(BrowserKind kind, const std::wstring& profileDir,
                                              bool windows) {
  switch (kind) {
    case BrowserKind::kChromium:
      return {L"--user-data-dir=" + profileDir, L"--no-first-run", L"--no-default-browser-check",
              L"--remote-debugging-pipe"};
    case BrowserKind::kFirefox:
      if (windows) return {L"-profile", profileDir, L"-no-remote", L"-new-instance", L"-wait-for-browser"};
      return {L"-profile", profileDir, L"-no-remote", L"-new-instance"};
    default:
      return {};
  }
}

BrowserChoice ChooseBrowser(const BrowserFacts& facts, const std::wstring& url) {
  BrowserChoice choice = Choose(facts, url);
  SetWorkingFolder(choice, facts.windows);
  return choice;
}

std::wstring QuoteWindowsArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows: then each one is doubled.
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

std::wstring WindowsCommandLine(const BrowserChoice& choice) {
  if (choice.kind == BrowserKind::kInternetExplorer) {
    // `"<path>" -nohome "<url>"`, nothing escaped.
    std::wstring line = L"\"" + choice.program + L"\" -nohome";
    if (choice.args.size() > 1) line += L" \"" + choice.args[1] + L"\"";
    return line;
  }
  // The program word ends at its closing quote, with no escapes: a path holds no quote.
  std::wstring line = L"\"" + choice.program + L"\"";
  for (const std::wstring& arg : choice.args) line += L" " + QuoteWindowsArgument(arg);
  return line;
}

ProgramStart ProgramStartOf(const BrowserChoice& choice) {
  ProgramStart start;
  start.program = choice.program;
  start.args = choice.args;
  start.commandLine = WindowsCommandLine(choice);
  start.folder = choice.workingDir;
  start.messagePipe = choice.kind == BrowserKind::kChromium;
  return start;
}

std::vector<std::wstring> SplitWindowsCommandLine(const std::wstring& line) {
  std::vector<std::wstring> words;
  std::size_t i = 0;
  const std::size_t n = line.size();
  auto blank = [&](std::size_t at) { return at < n && (line[at] == L' ' || line[at] == L'\t'); };
  while (blank(i)) ++i;
  if (i >= n) return words;
  // The program: up to the closing quote, or to the first blank.
  std::wstring word;
  if (line[i] == L'"') {
    for (++i; i < n && line[i] != L'"'; ++i) word += line[i];
    if (i < n) ++i;
  } else {
    for (; i < n && !blank(i); ++i) word += line[i];
  }
  words.push_back(word);
  while (blank(i)) ++i;
  // The arguments: 2n backslashes and a quote give n backslashes and open or close a quoted
  // part; 2n+1 and a quote give n and a literal quote; other backslashes are literal. In a
  // quoted part a third quote in a row is a literal quote (CommandLineToArgvW's own count).
  while (i < n) {
    word.clear();
    int quotes = 0;
    std::size_t backslashes = 0;
    for (; i < n && (quotes % 2 == 1 || !blank(i)); ) {
      const wchar_t c = line[i];
      if (c == L'\\') {
        word += c;
        ++backslashes;
        ++i;
        continue;
      }
      if (c != L'"') {
        word += c;
        backslashes = 0;
        ++i;
        continue;
      }
      word.resize(word.size() - backslashes / 2);
      if (backslashes % 2 == 1) {
        word.back() = L'"';
        backslashes = 0;
        ++i;
        continue;
      }
      ++quotes;
      backslashes = 0;
      for (++i; i < n && line[i] == L'"'; ++i) {
        if (++quotes == 3) {
          word += L'"';
          quotes = 0;
        }
      }
      if (quotes == 2) quotes = 0;
    }
    words.push_back(word);
    while (blank(i)) ++i;
  }
  return words;
}
