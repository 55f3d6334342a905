// The POSIX desktop's browser facts; see browser_facts_posix.h.
#include "launcher/browsers/browser_facts_posix.h"

#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "launcher/browsers/browser_variable.h"
#include "launcher/os/spawn_posix.h"
#include "text/split.h"
#include "text/text.h"

namespace os {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// $XDG_DATA_HOME when absolute, else ~/.local/share; "" when neither is known.
std::string DataHome() {
  const std::string value = Env("XDG_DATA_HOME");
  if (!value.empty() && value[0] == '/') return value;
  const std::string home = Env("HOME");
  return home.empty() ? std::string() : home + "/.local/share";
}

std::string Resolved(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// The program a desktop file's Exec line starts, from the folders desktop files live in.
std::string DesktopFileProgram(const std::string& desktopId) {
  if (desktopId.empty() || desktopId.find('/') != std::string::npos) return std::string();
  std::vector<std::string> folders = {DataHome()};
  std::string dirs = Env("XDG_DATA_DIRS");
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

// `xdg-settings get default-web-browser` names a desktop file; its Exec program on PATH.
std::string DefaultBrowserProgram() {
  const std::string tool = os::FindProgram("xdg-settings");
  std::string id;
  if (tool.empty() || !os::RunForOutput(tool, {tool, "get", "default-web-browser"}, 3000, id)) {
    return std::string();
  }
  while (!id.empty() && (id.back() == '\n' || id.back() == '\r' || id.back() == ' ')) id.pop_back();
  const std::string program = DesktopFileProgram(id);
  return program.empty() ? std::string() : os::FindProgram(program);
}

}  // namespace

BrowserFacts GatherPosixBrowserFacts() {
  BrowserFacts facts;
  facts.setting = PathToWide(Env("BROWSER"));
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

}  // namespace os
