// The words of a browser command as users write them: $BROWSER's convention on POSIX, and the
// "%s" that stands for the URL on both platforms.
#pragma once

#include <string>
#include <vector>

// The commands of a $BROWSER value: ":"-separated commands, each split into words as a shell
// would (blanks separate; '...' literal; "..." and \ escape), no expansion, then expanded by
// ExpandBrowserWords. Empty commands are left out.
std::vector<std::vector<std::wstring>> BrowserVariableCommands(const std::wstring& value,
                                                               const std::wstring& url);

// In each word "%s" becomes `url`, "%%" a "%" and "%c" a ":", and with `percentOne` "%1" too
// becomes `url` (Windows' Browser setting, often copied from a ProgId's command); without any
// URL placed the URL is one more word at the end. No words stay no words.
std::vector<std::wstring> ExpandBrowserWords(std::vector<std::wstring> words, const std::wstring& url,
                                             bool percentOne = false);

// The program of a desktop file's Exec line (the first in its [Desktop Entry] group), split as
// the Desktop Entry format quotes it; an "env" and its NAME=VALUE words before it are skipped.
// "" when there is none.
std::wstring DesktopEntryProgram(const std::wstring& text);
