#include "launcher/os/xdg_posix.h"

#include <cstdlib>

namespace os {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string XdgFolder(const char* variable, const char* fallback) {
  const std::string value = Env(variable);
  if (!value.empty() && value[0] == '/') return value;
  const std::string home = Env("HOME");
  return home.empty() ? std::string() : home + fallback;
}

}  // namespace os
