// The environment and the XDG base folders, as every POSIX part of the launcher reads them.
#pragma once

#include <string>

namespace os {

// The variable's value; "" when it is unset.
std::string Env(const char* name);

// The folder $`variable` names when it is absolute, else $HOME + `fallback` (e.g.
// XdgFolder("XDG_DATA_HOME", "/.local/share")); "" when neither is there.
std::string XdgFolder(const char* variable, const char* fallback);

}  // namespace os
