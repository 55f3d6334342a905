// The settings for POSIX: the per-user file $XDG_CONFIG_HOME/keltrix/Orvane.conf (default
// ~/.config/keltrix/Orvane.conf), lines HttpPort=NUMBER and LearnerName=TEXT; read only.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "launcher/os/xdg_posix.h"
#include "launcher/run/settings.h"
#include "text/text.h"

namespace {

// The settings file's path; "" when neither XDG_CONFIG_HOME (absolute) nor HOME is set.
std::string SettingsPath() {
  const std::string config = os::XdgFolder("XDG_CONFIG_HOME", "/.config");
  return config.empty() ? std::string() : config + "/keltrix/Orvane.conf";
}

// The settings file's text; "" when there is none.
std::string SettingsText() {
  const std::string path = SettingsPath();
  if (path.empty()) return std::string();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) return std::string();
  // A settings file is a few lines; more than 64 KiB is not one.
  std::string text(65536, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file.get()));
  return text;
}

}  // namespace

UserSettings ReadUserSettings() {
  const std::string text = SettingsText();
  return {ParseHttpPortSetting(text), Utf8ToWide(ParseSettingText(text, "LearnerName"))};
}

std::wstring NoBrowserMessage() {
  return L"No web browser could be started. Install one, or name the one to use in the BROWSER "
         L"environment variable (for example BROWSER=firefox).";
}
