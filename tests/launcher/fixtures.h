// Test helper: paths of the archives that make_fixtures.py made at build time.
#pragma once

#include <string>

#include "text/text.h"

// ORVANE_LAUNCHER_FIXTURES is the folder, given by CMake (for Wine with its drive letter; the
// Windows file calls take "/" as well as "\").
inline std::wstring Fixture(const std::string& name) {
  return AnsiToWide(std::string(ORVANE_LAUNCHER_FIXTURES) + "/" + name);
}
