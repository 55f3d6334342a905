// The browser chooser as a table over platform facts, with the exact command each row starts;
// the Windows quoting and its inverse; $BROWSER's convention and desktop files' Exec lines.
#include <gtest/gtest.h>

#include "launcher/browsers/browser_choice.h"
#include "launcher/browsers/browser_variable.h"
#include "text/text.h"

namespace {

using WideWords = std::vector<std::wstring>;

const std::wstring kUrl = L"http://127.0.0.1:50000/ff/index.html?a b&\"q\"&c:\\d\\?show=x\\\"y";
const std::wstring kWinProfile = L"C:\\Users\\Ann Lee\\AppData\\Local\\keltrix\\Orvane\\profiles\\c-1";
const std::wstring kEdge = L"C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe";
const std::wstring kChrome = L"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe";
const std::wstring kFirefox = L"C:\\Program Files\\Mozilla Firefox\\firefox.exe";
const std::wstring kOpera = L"C:\\Users\\Ann Lee\\AppData\\Local\\Programs\\Opera\\opera.exe";

// The URL as the quoting writes it: in quotes, each quote escaped, the backslashes before a quote
// doubled.
const std::wstring kQuotedUrl =
    L"\"http://127.0.0.1:50000/ff/index.html?a b&\\\"q\\\"&c:\\d\\?show=x\\\\\\\"y\"";

BrowserFacts Windows(unsigned major, unsigned minor) {
  BrowserFacts facts;
  facts.windows = true;
  facts.versionMajor = major;
  facts.versionMinor = minor;
  facts.programFiles = L"C:\\Program Files";
  facts.profileDir = kWinProfile;
  return facts;
}

TEST(ChooseBrowser, WindowsTable) {
  const std::wstring chromiumFlags = L" \"--user-data-dir=" + kWinProfile +
                                     L"\\chromium\" --no-first-run --no-default-browser-check --remote-debugging-pipe ";
  const std::wstring firefoxFlags = L" -profile \"" + kWinProfile + L"\\firefox\" -no-remote -new-instance -wait-for-browser ";
  const std::wstring ie = L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome \"" + kUrl + L"\"";
  struct Case {
    const char* name;
    BrowserFacts facts;
    BrowserKind kind;
    std::wstring line;
  };
  auto with = [](BrowserFacts facts, auto change) {
    change(facts);
    return facts;
  };
  const BrowserFacts win7 = Windows(6, 1), win81 = Windows(6, 3), win10 = Windows(10, 0);
  const auto all = [](BrowserFacts& f) { f.installed = {kEdge, kChrome, kFirefox}; };
  const auto package = [&](const BrowserFacts& facts) { return with(facts, [](BrowserFacts& f) { f.scormPackage = true; }); };
  const Case cases[] = {
      {"7, everything installed: Internet Explorer", with(win7, all), BrowserKind::kInternetExplorer, ie},
      {"8.1, default Chrome: Internet Explorer", with(win81, [&](BrowserFacts& f) { all(f); f.defaultBrowser = kChrome; }),
       BrowserKind::kInternetExplorer, ie},
      {"10, nothing found: Internet Explorer", win10, BrowserKind::kInternetExplorer, ie},
      {"7, a package, everything installed: Edge", with(package(win7), all), BrowserKind::kChromium,
       L"\"" + kEdge + L"\"" + chromiumFlags + kQuotedUrl},
      {"8.1, a package, default Chrome", with(package(win81), [&](BrowserFacts& f) { all(f); f.defaultBrowser = kChrome; }),
       BrowserKind::kChromium, L"\"" + kChrome + L"\"" + chromiumFlags + kQuotedUrl},
      {"7, a package, only Firefox installed", with(package(win7), [](BrowserFacts& f) { f.installed = {kFirefox}; }),
       BrowserKind::kFirefox, L"\"" + kFirefox + L"\"" + firefoxFlags + kQuotedUrl},
      {"8.1, a package, nothing but Internet Explorer", package(win81), BrowserKind::kInternetExplorer, ie},
      {"7, a package, Browser set to Opera: the setting first",
       with(package(win7), [&](BrowserFacts& f) { all(f); f.setting = L"\"" + kOpera + L"\""; }),
       BrowserKind::kCommand, L"\"" + kOpera + L"\" " + kQuotedUrl},
      {"10, default Edge", with(win10, [&](BrowserFacts& f) { all(f); f.defaultBrowser = kEdge; }),
       BrowserKind::kChromium, L"\"" + kEdge + L"\"" + chromiumFlags + kQuotedUrl},
      {"10, default Chrome", with(win10, [&](BrowserFacts& f) { all(f); f.defaultBrowser = kChrome; }),
       BrowserKind::kChromium, L"\"" + kChrome + L"\"" + chromiumFlags + kQuotedUrl},
      {"10, default Firefox", with(win10, [&](BrowserFacts& f) { all(f); f.defaultBrowser = kFirefox; }),
       BrowserKind::kFirefox, L"\"" + kFirefox + L"\"" + firefoxFlags + kQuotedUrl},
      {"10, default Opera: the first installed", with(win10, [&](BrowserFacts& f) { all(f); f.defaultBrowser = kOpera; }),
       BrowserKind::kChromium, L"\"" + kEdge + L"\"" + chromiumFlags + kQuotedUrl},
      {"10, no default, only Firefox installed", with(win10, [](BrowserFacts& f) { f.installed = {kFirefox}; }),
       BrowserKind::kFirefox, L"\"" + kFirefox + L"\"" + firefoxFlags + kQuotedUrl},
      {"11 (10.0), default Opera, nothing installed: Internet Explorer",
       with(win10, [&](BrowserFacts& f) { f.defaultBrowser = kOpera; }), BrowserKind::kInternetExplorer, ie},
      {"Browser set to Chrome with %s: Chrome with the profile, the setting's words kept",
       with(win10, [&](BrowserFacts& f) { all(f); f.setting = L"\"" + kChrome + L"\" --kiosk \"--app=%s\""; }),
       BrowserKind::kChromium,
       L"\"" + kChrome + L"\"" + chromiumFlags + L"--kiosk " + QuoteWindowsArgument(L"--app=" + kUrl)},
      {"Browser copied from a ProgId's command: %1 is the URL",
       with(win10, [&](BrowserFacts& f) { f.setting = L"\"" + kChrome + L"\" --single-argument %1"; }),
       BrowserKind::kChromium, L"\"" + kChrome + L"\"" + chromiumFlags + L"--single-argument " + kQuotedUrl},
      {"Browser set to Opera on Windows 7: a command the run cannot watch, URL appended",
       with(win7, [&](BrowserFacts& f) { f.setting = L"\"" + kOpera + L"\" -private"; }),
       BrowserKind::kCommand, L"\"" + kOpera + L"\" -private " + kQuotedUrl},
      {"Browser set, no profile folder: Firefox as a plain command",
       with(win10, [&](BrowserFacts& f) { f.profileDir.clear(); f.setting = kFirefox.substr(0, 2) + L"\\ff\\firefox.exe"; }),
       BrowserKind::kCommand, L"\"C:\\ff\\firefox.exe\" " + kQuotedUrl},
      {"no program-files folder: Internet Explorer without a path", with(win7, [](BrowserFacts& f) { f.programFiles.clear(); }),
       BrowserKind::kInternetExplorer, L"\"\" -nohome \"" + kUrl + L"\""},
  };
  for (const Case& c : cases) {
    const BrowserChoice choice = ChooseBrowser(c.facts, kUrl);
    EXPECT_EQ(choice.kind, c.kind) << c.name;
    EXPECT_EQ(WindowsCommandLine(choice), c.line) << c.name;
    // It starts in its profile, else in its program's folder.
    const std::wstring folder = choice.program.substr(0, choice.program.find_last_of(L'\\'));
    EXPECT_EQ(choice.workingDir, choice.profileDir.empty() ? folder : choice.profileDir) << c.name;
    // Each argument comes back whole, the URL among them.
    if (c.kind != BrowserKind::kInternetExplorer) {
      WideWords want = {choice.program};
      want.insert(want.end(), choice.args.begin(), choice.args.end());
      EXPECT_EQ(SplitWindowsCommandLine(c.line), want) << c.name;
    }
  }
}

TEST(ChooseBrowser, InternetExplorerWithoutAUrl) {
  EXPECT_EQ(WindowsCommandLine(ChooseBrowser(Windows(6, 1), L"")),
            L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome");
}

BrowserFacts Posix() {
  BrowserFacts facts;
  facts.profileDir = L"/home/ann/.local/share/keltrix/orvane/profiles/c-1";
  facts.onPath[L"xdg-open"] = {L"/usr/bin/xdg-open", L"/usr/bin/xdg-open"};
  return facts;
}

TEST(ChooseBrowser, PosixTable) {
  const std::wstring course = Posix().profileDir;
  const WideWords chromiumFlags = {L"--user-data-dir=" + course + L"/chromium", L"--no-first-run",
                                   L"--no-default-browser-check", L"--remote-debugging-pipe"};
  const WideWords firefoxFlags = {L"-profile", course + L"/firefox", L"-no-remote", L"-new-instance"};
  auto plus = [](WideWords words, const WideWords& more) {
    words.insert(words.end(), more.begin(), more.end());
    return words;
  };
  struct Case {
    const char* name;
    std::function<void(BrowserFacts&)> facts;
    BrowserKind kind;
    std::wstring program;
    WideWords args;
  } cases[] = {
      {"nothing but the opener", [](BrowserFacts&) {}, BrowserKind::kOpener, L"/usr/bin/xdg-open", {kUrl}},
      {"nothing at all", [](BrowserFacts& f) { f.onPath.clear(); }, BrowserKind::kCommand, L"", {}},
      {"the first installed",
       [](BrowserFacts& f) { f.installed = {L"/usr/bin/google-chrome", L"/usr/bin/firefox"}; },
       BrowserKind::kChromium, L"/usr/bin/google-chrome", plus(chromiumFlags, {kUrl})},
      {"the default Firefox before the installed Chromium",
       [](BrowserFacts& f) { f.installed = {L"/usr/bin/chromium", L"/usr/bin/firefox"}; f.defaultBrowser = L"/usr/bin/firefox-esr"; },
       BrowserKind::kFirefox, L"/usr/bin/firefox-esr", plus(firefoxFlags, {kUrl})},
      {"a default that is neither: the installed one",
       [](BrowserFacts& f) { f.installed = {L"/usr/bin/chromium"}; f.defaultBrowser = L"/usr/bin/epiphany"; },
       BrowserKind::kChromium, L"/usr/bin/chromium", plus(chromiumFlags, {kUrl})},
      {"$BROWSER first, a Chromium by name",
       [](BrowserFacts& f) {
         f.installed = {L"/usr/bin/firefox"};
         f.setting = L"nothere:chromium --kiosk";
         f.onPath[L"chromium"] = {L"/usr/bin/chromium", L"/usr/lib/chromium/chromium"};
       },
       BrowserKind::kChromium, L"/usr/bin/chromium", plus(chromiumFlags, {L"--kiosk", kUrl})},
      {"$BROWSER a link that resolves to Chromium",
       [](BrowserFacts& f) {
         f.setting = L"x-www-browser";
         f.onPath[L"x-www-browser"] = {L"/usr/bin/x-www-browser", L"/usr/lib/chromium/chromium"};
       },
       BrowserKind::kChromium, L"/usr/bin/x-www-browser", plus(chromiumFlags, {kUrl})},
      {"$BROWSER another program: a command the run cannot watch",
       [](BrowserFacts& f) {
         f.installed = {L"/usr/bin/chromium"};
         f.setting = L"'/opt/My Browser/run' --new=%s";
         f.onPath[L"/opt/My Browser/run"] = {L"/opt/My Browser/run", L"/opt/My Browser/run"};
       },
       BrowserKind::kCommand, L"/opt/My Browser/run", {L"--new=" + kUrl}},
      {"$BROWSER with no program found: the default choice",
       [](BrowserFacts& f) { f.setting = L"nothere"; f.installed = {L"/usr/bin/firefox"}; },
       BrowserKind::kFirefox, L"/usr/bin/firefox", plus(firefoxFlags, {kUrl})},
      {"no profile folder: Chromium as a plain command",
       [](BrowserFacts& f) { f.profileDir.clear(); f.installed = {L"/usr/bin/chromium"}; },
       BrowserKind::kCommand, L"/usr/bin/chromium", {kUrl}},
  };
  for (const Case& c : cases) {
    BrowserFacts facts = Posix();
    c.facts(facts);
    const BrowserChoice choice = ChooseBrowser(facts, kUrl);
    EXPECT_EQ(choice.kind, c.kind) << c.name;
    EXPECT_EQ(choice.program, c.program) << c.name;
    EXPECT_EQ(choice.args, c.args) << c.name;
    const std::wstring profile = c.kind == BrowserKind::kChromium  ? course + L"/chromium"
                                 : c.kind == BrowserKind::kFirefox ? course + L"/firefox"
                                                                   : L"";
    EXPECT_EQ(choice.profileDir, profile) << c.name;
    EXPECT_EQ(choice.workingDir, profile.empty() ? c.program.substr(0, c.program.rfind(L'/')) : profile) << c.name;
  }
}

TEST(BrowserKindOfProgram, ByFileNameOnEitherPlatform) {
  struct Case {
    const wchar_t* program;
    BrowserKind kind;
  } cases[] = {
      {L"chromium", BrowserKind::kChromium},
      {L"/usr/lib/chromium/chromium", BrowserKind::kChromium},
      {L"google-chrome-stable", BrowserKind::kChromium},
      {L"/opt/x/microsoft-edge", BrowserKind::kChromium},
      {L"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe", BrowserKind::kChromium},
      {L"C:\\x\\MSEDGE.EXE", BrowserKind::kChromium},
      {L"C:/x/brave.exe", BrowserKind::kChromium},
      {L"vivaldi.exe", BrowserKind::kChromium},
      {L"/usr/bin/firefox-esr", BrowserKind::kFirefox},
      {L"C:\\Program Files\\Mozilla Firefox\\firefox.exe", BrowserKind::kFirefox},
      {L"xdg-open", BrowserKind::kCommand},
      {L"/usr/bin/chromium-wrapper", BrowserKind::kCommand},
      {L"chromium/", BrowserKind::kCommand},
      {L"iexplore.exe", BrowserKind::kCommand},
      {L".exe", BrowserKind::kCommand},
      {L"", BrowserKind::kCommand},
  };
  for (const Case& c : cases) EXPECT_EQ(BrowserKindOfProgram(c.program), c.kind) << WideToAnsi(c.program);
}

TEST(QuoteWindowsArgument, RoundTripsThroughTheSplit) {
  const std::wstring args[] = {
      L"plain", L"", L"two words", L"\"", L"a\"b", L"a\\b", L"a\\\\b\\", L"end\\",
      L"end\\\\", L"\\\"", L"tab\there", L"\"\"\"", L"x\\\\\"y", L"&|<>^%", L"\u00e9\u4e2d",
      kUrl,
  };
  for (const std::wstring& arg : args) {
    const std::wstring line = L"\"C:\\Program Files\\b.exe\" " + QuoteWindowsArgument(arg) + L" next";
    EXPECT_EQ(SplitWindowsCommandLine(line), (WideWords{L"C:\\Program Files\\b.exe", arg, L"next"}))
        << WideToAnsi(line);
  }
  EXPECT_EQ(QuoteWindowsArgument(L"plain"), L"plain");
  EXPECT_EQ(QuoteWindowsArgument(L""), L"\"\"");
  EXPECT_EQ(QuoteWindowsArgument(L"a b\\"), L"\"a b\\\\\"");
  EXPECT_EQ(QuoteWindowsArgument(L"a\\\"b"), L"\"a\\\\\\\"b\"");
}

TEST(SplitWindowsCommandLine, ByTheSystemsRules) {
  struct Case {
    const wchar_t* line;
    WideWords want;
  } cases[] = {
      {L"", {}},
      {L"   ", {}},
      {L"prog", {L"prog"}},
      {L"C:\\a\\b.exe x", {L"C:\\a\\b.exe", L"x"}},
      {L"\"C:\\a b\\c.exe\" x  y", {L"C:\\a b\\c.exe", L"x", L"y"}},
      {L"\"C:\\a\\\" x", {L"C:\\a\\", L"x"}},  // no escapes in the program word
      {L"p a\\\\\\\"b", {L"p", L"a\\\"b"}},
      {L"p a\\\\\"b c\"", {L"p", L"a\\b c"}},
      {L"p \"a\"\"b\"", {L"p", L"a\"b"}},  // a quote pair in quotes is a literal quote
      {L"p \"a\"\"\"b\"", {L"p", L"a\"b"}},
      {L"p \"\"", {L"p", L""}},
      {L"p a\\b\\\\", {L"p", L"a\\b\\\\"}},
      {L"p \"unclosed text", {L"p", L"unclosed text"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitWindowsCommandLine(c.line), c.want) << WideToAnsi(c.line);
}

TEST(BrowserVariableCommands, ByConvention) {
  const std::wstring url = L"http://127.0.0.1:1/ff/index.html?a&b?show=x y";
  struct Case {
    const wchar_t* value;
    std::vector<WideWords> want;
  } cases[] = {
      {L"firefox", {{L"firefox", url}}},
      {L"chromium --incognito", {{L"chromium", L"--incognito", url}}},
      {L"mybrowser --url=%s --x", {{L"mybrowser", L"--url=" + url, L"--x"}}},
      {L"a:b %s:c", {{L"a", url}, {L"b", url}, {L"c", url}}},
      {L"::a::", {{L"a", url}}},
      {L"  ", {}},
      {L"", {}},
      {L"b 100%% %c", {{L"b", L"100%", L":", url}}},
      {L"'/opt/My Browser/run' \"two words\" a\\ b", {{L"/opt/My Browser/run", L"two words", L"a b", url}}},
      {L"b \"say \\\"hi\\\" \\n\"", {{L"b", L"say \"hi\" \\n", url}}},
      {L"b %s %s", {{L"b", url, url}}},
      {L"b %", {{L"b", L"%", url}}},
  };
  for (const Case& c : cases) EXPECT_EQ(BrowserVariableCommands(c.value, url), c.want) << WideToAnsi(c.value);
  const std::wstring odd = L"http://h/?a='b' \"c\" $(d) %s";
  EXPECT_EQ(BrowserVariableCommands(L"b %s", odd), (std::vector<WideWords>{{L"b", odd}}));
}

TEST(DesktopEntryProgram, TheExecLinesProgram) {
  struct Case {
    const wchar_t* text;
    const wchar_t* program;
  } cases[] = {
      {L"[Desktop Entry]\nName=Chromium\nExec=/usr/bin/chromium %U\n", L"/usr/bin/chromium"},
      {L"[Desktop Entry]\r\nExec=firefox-esr %u\r\n", L"firefox-esr"},
      {L"[Desktop Action new]\nExec=wrong\n[Desktop Entry]\nExec=\"/opt/My App/app\" --x\n", L"/opt/My App/app"},
      {L"[Desktop Entry]\nExec=env GDK_BACKEND=x11 A=1 google-chrome %U\n", L"google-chrome"},
      {L"[Desktop Entry]\nName=No exec\n", L""},
      {L"Exec=outside\n", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(DesktopEntryProgram(c.text), c.program) << WideToAnsi(c.text);
}

}  // namespace
