// Composing the browser's command line: Internet Explorer's, and the POSIX choices.
#include <gtest/gtest.h>

#include "launcher/browser_command.h"

namespace {

using Words = std::vector<std::string>;

TEST(IExploreCommandLine, QuotedPathNohomeQuotedUrl) {
  const std::wstring path = L"C:\\Program Files\\Internet Explorer\\iexplore.exe";
  EXPECT_EQ(IExploreCommandLine(path, L"http://127.0.0.1:80/ff/index.html?a&b?show=x y"),
            L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome "
            L"\"http://127.0.0.1:80/ff/index.html?a&b?show=x y\"");
  EXPECT_EQ(IExploreCommandLine(path, L""),
            L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome");
  // Nothing is escaped, quotes included.
  EXPECT_EQ(IExploreCommandLine(L"b", L"u\"v"), L"\"b\" -nohome \"u\"v\"");
}

TEST(IExploreCommandLine, AnyLengthFitsWhole) {
  const std::wstring path = L"C:\\" + std::wstring(300, L'p');
  const std::wstring url = L"http://127.0.0.1:1/ff/index.html?show=" + std::wstring(100000, L'x');
  const std::wstring line = IExploreCommandLine(path, url);
  EXPECT_EQ(line.size(), path.size() + url.size() + 13);
  EXPECT_EQ(line.substr(0, path.size() + 2), L"\"" + path + L"\"");
  EXPECT_EQ(line.substr(line.size() - url.size() - 1), url + L"\"");
}

TEST(BrowserKindOf, ByBaseName) {
  struct Case {
    const char* program;
    BrowserKind kind;
  } cases[] = {
      {"chromium", BrowserKind::kChromium},
      {"/usr/bin/chromium", BrowserKind::kChromium},
      {"/usr/lib/chromium/chromium", BrowserKind::kChromium},
      {"google-chrome-stable", BrowserKind::kChromium},
      {"/opt/x/microsoft-edge", BrowserKind::kChromium},
      {"chromium-browser", BrowserKind::kChromium},
      {"firefox", BrowserKind::kFirefox},
      {"/usr/bin/firefox-esr", BrowserKind::kFirefox},
      {"xdg-open", BrowserKind::kOther},
      {"/usr/bin/chromium-wrapper", BrowserKind::kOther},
      {"chromium/", BrowserKind::kOther},
      {"Chromium", BrowserKind::kOther},
      {"", BrowserKind::kOther},
  };
  for (const Case& c : cases) EXPECT_EQ(BrowserKindOf(c.program), c.kind) << c.program;
}

TEST(BrowserVariableCommands, ByConvention) {
  const std::string url = "http://127.0.0.1:1/ff/index.html?a&b?show=x y";
  struct Case {
    const char* value;
    std::vector<Words> want;
  } cases[] = {
      {"firefox", {{"firefox", url}}},
      {"chromium --incognito", {{"chromium", "--incognito", url}}},
      {"mybrowser --url=%s --x", {{"mybrowser", "--url=" + url, "--x"}}},
      {"a:b %s:c", {{"a", url}, {"b", url}, {"c", url}}},
      {"::a::", {{"a", url}}},
      {"  ", {}},
      {"", {}},
      {"b 100%% %c", {{"b", "100%", ":", url}}},
      {"'/opt/My Browser/run' \"two words\" a\\ b", {{"/opt/My Browser/run", "two words", "a b", url}}},
      {"b \"say \\\"hi\\\" \\n\"", {{"b", "say \"hi\" \\n", url}}},
      {"b %s %s", {{"b", url, url}}},
      {"b %", {{"b", "%", url}}},
  };
  for (const Case& c : cases) EXPECT_EQ(BrowserVariableCommands(c.value, url), c.want) << c.value;
}

TEST(BrowserVariableCommands, TheUrlStaysOneWordWhateverItHolds) {
  const std::string url = "http://h/?a='b' \"c\" $(d) %s";
  EXPECT_EQ(BrowserVariableCommands("b", url), (std::vector<Words>{{"b", url}}));
  EXPECT_EQ(BrowserVariableCommands("b %s", url), (std::vector<Words>{{"b", url}}));
}

TEST(OwnProfileArguments, PerKind) {
  EXPECT_EQ(OwnProfileArguments(BrowserKind::kChromium, "/tmp/p"),
            (Words{"--user-data-dir=/tmp/p", "--no-first-run", "--remote-debugging-port=0"}));
  EXPECT_EQ(OwnProfileArguments(BrowserKind::kFirefox, "/tmp/p"),
            (Words{"-profile", "/tmp/p", "-no-remote", "-new-instance"}));
  EXPECT_TRUE(OwnProfileArguments(BrowserKind::kOther, "/tmp/p").empty());
}

TEST(KnownBrowsers, InOrder) {
  EXPECT_EQ(KnownBrowsers(), (Words{"chromium", "chromium-browser", "google-chrome",
                                    "google-chrome-stable", "microsoft-edge", "firefox"}));
}

}  // namespace
