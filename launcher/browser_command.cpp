// Composition of browser command lines; see browser_command.h.
#include "launcher/browser_command.h"

#include <cstddef>

std::wstring IExploreCommandLine(const std::wstring& browserPath, const std::wstring& startUrl) {
  std::wstring line;
  line.reserve(browserPath.size() + startUrl.size() + 16);
  line += L'"';
  line += browserPath;
  line += L"\" -nohome";
  if (!startUrl.empty()) {
    line += L" \"";
    line += startUrl;
    line += L'"';
  }
  return line;
}

BrowserKind BrowserKindOf(const std::string& program) {
  static const char* const kChromiumNames[] = {
      "chromium",          "chromium-browser",      "google-chrome",        "google-chrome-stable",
      "google-chrome-beta", "google-chrome-unstable", "chrome",              "microsoft-edge",
      "microsoft-edge-stable", "microsoft-edge-beta", "microsoft-edge-dev", "brave-browser",
  };
  static const char* const kFirefoxNames[] = {"firefox", "firefox-esr"};
  const std::size_t slash = program.find_last_of('/');
  const std::string base = slash == std::string::npos ? program : program.substr(slash + 1);
  for (const char* name : kChromiumNames) {
    if (base == name) return BrowserKind::kChromium;
  }
  for (const char* name : kFirefoxNames) {
    if (base == name) return BrowserKind::kFirefox;
  }
  return BrowserKind::kOther;
}

namespace {

// Splits one command into words: blanks separate, '...' is literal, "..." keeps blanks and lets
// \ escape " \ $ ` only, a \ outside quotes escapes the next character. An unclosed quote runs to
// the end.
std::vector<std::string> SplitWords(const std::string& command) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (std::size_t i = 0; i < command.size(); ++i) {
    const char c = command[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\'') {
      for (++i; i < command.size() && command[i] != '\''; ++i) word += command[i];
    } else if (c == '"') {
      for (++i; i < command.size() && command[i] != '"'; ++i) {
        const char next = i + 1 < command.size() ? command[i + 1] : '\0';
        if (command[i] == '\\' && (next == '"' || next == '\\' || next == '$' || next == '`')) {
          ++i;
        }
        word += command[i];
      }
    } else if (c == '\\' && i + 1 < command.size()) {
      word += command[++i];
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

// Replaces %s, %% and %c in one word; tells whether a %s was there.
std::string ExpandWord(const std::string& word, const std::string& url, bool& usedUrl) {
  std::string out;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (word[i] == '%' && i + 1 < word.size()) {
      const char code = word[i + 1];
      if (code == 's') {
        out += url;
        usedUrl = true;
        ++i;
        continue;
      }
      if (code == '%' || code == 'c') {
        out += code == '%' ? '%' : ':';
        ++i;
        continue;
      }
    }
    out += word[i];
  }
  return out;
}

}  // namespace

std::vector<std::vector<std::string>> BrowserVariableCommands(const std::string& value,
                                                              const std::string& url) {
  std::vector<std::vector<std::string>> commands;
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t end = value.find(':', start);
    if (end == std::string::npos) end = value.size();
    std::vector<std::string> words = SplitWords(value.substr(start, end - start));
    start = end + 1;
    if (words.empty()) continue;
    bool usedUrl = false;
    for (std::string& word : words) word = ExpandWord(word, url, usedUrl);
    if (!usedUrl) words.push_back(url);
    commands.push_back(std::move(words));
  }
  return commands;
}

const std::vector<std::string>& KnownBrowsers() {
  static const std::vector<std::string> kBrowsers = {
      "chromium", "chromium-browser", "google-chrome", "google-chrome-stable",
      "microsoft-edge", "firefox",
  };
  return kBrowsers;
}

std::vector<std::string> OwnProfileArguments(BrowserKind kind, const std::string& profileDir) {
  switch (kind) {
    case BrowserKind::kChromium:
      return {"--user-data-dir=" + profileDir, "--no-first-run", "--remote-debugging-port=0"};
    case BrowserKind::kFirefox:
      return {"-profile", profileDir, "-no-remote", "-new-instance"};
    case BrowserKind::kOther:
      break;
  }
  return {};
}
