// The POSIX desktop's browser facts; see browser_facts_posix.h.
#include "launcher/browsers/browser_facts_posix.h"

#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "launcher/browsers/browser_variable.h"
#include "launcher/os/spawn_posix.h"
#include "launcher/os/xdg_posix.h"
#include "text/split.h"
#include "text/text.h"

namespace {

// $XDG_DATA_HOME when absolute, else ~/.local/share; "" when neither is known.
std::string DataHome() { return os::XdgFolder("XDG_DATA_HOME", "/.local/share"); }

std::string Resolved(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// The program a desktop file's Exec line starts, from the folders desktop files live in.
std::string DesktopFileProgram(const std::string& desktopId) {
  if (desktopId.empty() || desktopId.find('/') != std::string::npos) return std::string();
  std::vector<std::string> folders = {DataHome()};
  std::string dirs = os::Env("XDG_DATA_DIRS");
  if (dirs.empty()) dirs = "/usr/local/share:/usr/share";
  for (const std::string& dir : SplitText(dirs, ':')) folders.push_back(dir);
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        std::fopen((folder + "/applications/" + desktopId).c_str(), "rb"), std::fclose);
    if (!file) continue;
    std::string text(65536, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file.get()));
    return WideToPath(DesktopEntryProgram(PathToWide(text)));
  }
  return std::string();
}

// A list of folders such as $XDG_CONFIG_DIRS, with its default when unset or empty.
std::vector<std::string> FolderList(const char* name, const char* fallback) {
  std::string value = os::Env(name);
  if (value.empty()) value = fallback;
  std::vector<std::string> folders;
  for (const std::string& folder : SplitText(value, ':')) {
    if (!folder.empty() && folder[0] == '/') folders.push_back(folder);
  }
  return folders;
}

// The mimeapps.list files in the order the XDG rules consult them: in each folder ($XDG_CONFIG_HOME,
// $XDG_CONFIG_DIRS, then $XDG_DATA_HOME/applications and $XDG_DATA_DIRS/applications) first
// the files of the current desktops ("gnome-mimeapps.list"), then the common one.
std::vector<std::string> MimeAppsFiles() {
  std::vector<std::string> folders = {os::XdgFolder("XDG_CONFIG_HOME", "/.config")};
  for (const std::string& folder : FolderList("XDG_CONFIG_DIRS", "/etc/xdg")) folders.push_back(folder);
  folders.push_back(DataHome() + "/applications");
  for (const std::string& folder : FolderList("XDG_DATA_DIRS", "/usr/local/share:/usr/share")) {
    folders.push_back(folder + "/applications");
  }
  std::vector<std::string> desktops;
  for (std::string desktop : SplitText(os::Env("XDG_CURRENT_DESKTOP"), ':')) {
    for (char& c : desktop) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (!desktop.empty() && desktop.find('/') == std::string::npos) desktops.push_back(desktop);
  }
  std::vector<std::string> files;
  for (const std::string& folder : folders) {
    if (folder.empty() || folder[0] != '/') continue;
    for (const std::string& desktop : desktops) files.push_back(folder + "/" + desktop + "-mimeapps.list");
    files.push_back(folder + "/mimeapps.list");
  }
  return files;
}

// The desktop files a mimeapps.list names as the default handler of http links, in its order.
std::vector<std::string> DefaultHttpHandlers(const std::string& path) {
  std::vector<std::string> ids;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) return ids;
  bool inDefaults = false;
  char line[4096];
  while (std::fgets(line, sizeof line, file.get()) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    if (!text.empty() && text[0] == '[') {
      inDefaults = text == "[Default Applications]";
      continue;
    }
    const std::size_t equals = text.find('=');
    if (!inDefaults || equals == std::string::npos) continue;
    std::string name = text.substr(0, equals);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name != "x-scheme-handler/http") continue;
    for (std::string id : SplitText(text.substr(equals + 1), ';')) {
      while (!id.empty() && id.front() == ' ') id.erase(0, 1);
      if (!id.empty()) ids.push_back(id);
    }
  }
  return ids;
}

// The program of a desktop file id when both it and the program are installed; else "".
std::string InstalledProgram(const std::string& desktopId) {
  const std::string program = DesktopFileProgram(desktopId);
  return program.empty() ? std::string() : os::FindProgram(program);
}

// The desktop's default browser: the first installed handler of http links that a mimeapps.list
// names, read as the XDG rules place those files; only when none names one, what
// `xdg-settings get default-web-browser` says (a shell script that takes a few hundred ms).
std::string DefaultBrowserProgram() {
  for (const std::string& file : MimeAppsFiles()) {
    for (const std::string& id : DefaultHttpHandlers(file)) {
      const std::string program = InstalledProgram(id);
      if (!program.empty()) return program;
    }
  }
  const std::string tool = os::FindProgram("xdg-settings");
  std::string id;
  if (tool.empty() || !os::RunForOutput(tool, {tool, "get", "default-web-browser"}, 3000, id)) {
    return std::string();
  }
  while (!id.empty() && (id.back() == '\n' || id.back() == '\r' || id.back() == ' ')) id.pop_back();
  return InstalledProgram(id);
}

}  // namespace

BrowserFacts GatherPosixBrowserFacts() {
  BrowserFacts facts;
  facts.setting = PathToWide(os::Env("BROWSER"));
  std::vector<std::wstring> names = {L"xdg-open", L"open"};
  for (const std::vector<std::wstring>& command : BrowserVariableCommands(facts.setting, L"")) {
    names.push_back(command[0]);
  }
  for (const std::wstring& name : names) {
    const std::string path = os::FindProgram(WideToPath(name));
    if (!path.empty()) facts.onPath[name] = {PathToWide(path), PathToWide(Resolved(path))};
  }
  for (const char* known : {"chromium", "chromium-browser", "google-chrome",
                            "google-chrome-stable", "microsoft-edge", "firefox"}) {
    const std::string path = os::FindProgram(known);
    if (!path.empty()) facts.installed.push_back(PathToWide(path));
  }
  // $BROWSER overrides the desktop's default, so xdg-settings (a shell script that takes a
  // few hundred ms) is asked only when no $BROWSER command can be started.
  bool settingUsable = false;
  for (const std::vector<std::wstring>& command : BrowserVariableCommands(facts.setting, L"")) {
    settingUsable = settingUsable || facts.onPath.count(command[0]) != 0;
  }
  if (!settingUsable) facts.defaultBrowser = PathToWide(DefaultBrowserProgram());
  return facts;
}
