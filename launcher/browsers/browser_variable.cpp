// Browser command words; see browser_variable.h.
#include "launcher/browsers/browser_variable.h"

#include <cstddef>

#include "text/split.h"

namespace {

// Splits one command into words: blanks separate, '...' is literal, "..." keeps blanks and lets
// \ escape " \ $ ` only, a \ outside quotes escapes the next character. An unclosed quote runs to
// the end.
std::vector<std::wstring> ShellWords(const std::wstring& command) {
  std::vector<std::wstring> words;
  std::wstring word;
  bool inWord = false;
  for (std::size_t i = 0; i < command.size(); ++i) {
    const wchar_t c = command[i];
    if (c == L' ' || c == L'\t' || c == L'\n') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == L'\'') {
      for (++i; i < command.size() && command[i] != L'\''; ++i) word += command[i];
    } else if (c == L'"') {
      for (++i; i < command.size() && command[i] != L'"'; ++i) {
        const wchar_t next = i + 1 < command.size() ? command[i + 1] : L'\0';
        if (command[i] == L'\\' && (next == L'"' || next == L'\\' || next == L'$' || next == L'`')) {
          ++i;
        }
        word += command[i];
      }
    } else if (c == L'\\' && i + 1 < command.size()) {
      word += command[++i];
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

}  // namespace

std::vector<std::wstring> ExpandBrowserWords(std::vector<std::wstring> words, const std::wstring& url,
                                             bool percentOne) {
  if (words.empty()) return words;
  bool usedUrl = false;
  for (std::wstring& word : words) {
    std::wstring out;
    for (std::size_t i = 0; i < word.size(); ++i) {
      const wchar_t code = i + 1 < word.size() && word[i] == L'%' ? word[i + 1] : L'\0';
      if (code == L's' || (percentOne && code == L'1')) {
        out += url;
        usedUrl = true;
      } else if (code == L'%' || code == L'c') {
        out += code == L'%' ? L'%' : L':';
      } else {
        out += word[i];
        continue;
      }
      ++i;
    }
    word = std::move(out);
  }
  if (!usedUrl) words.push_back(url);
  return words;
}

std::vector<std::vector<std::wstring>> BrowserVariableCommands(const std::wstring& value,
                                                               const std::wstring& url) {
  std::vector<std::vector<std::wstring>> commands;
  for (const std::wstring& command : SplitText(value, L':')) {
    std::vector<std::wstring> words = ShellWords(command);
    if (!words.empty()) commands.push_back(ExpandBrowserWords(std::move(words), url));
  }
  return commands;
}

std::wstring DesktopEntryProgram(const std::wstring& text) {
  bool inEntry = false;
  for (std::wstring line : SplitText(text, L'\n')) {
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (!line.empty() && line[0] == L'[') {
      inEntry = line == L"[Desktop Entry]";
      continue;
    }
    if (!inEntry || line.compare(0, 5, L"Exec=") != 0) continue;
    const std::vector<std::wstring> words = ShellWords(line.substr(5));
    std::size_t first = 0;
    if (first < words.size() && words[first] == L"env") {
      for (++first; first < words.size() && words[first].find(L'=') != std::wstring::npos;) ++first;
    }
    return first < words.size() ? words[first] : std::wstring();
  }
  return std::wstring();
}
