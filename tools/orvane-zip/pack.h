// orvane-zip pack: a launcher that carries a course, from a folder, a zip or a packed launcher,
// for the platform of the launcher it is given (a POSIX launcher or a Windows one, whatever the
// tool runs on).
#pragma once

#include <string>
#include <vector>

namespace orvanezip {

struct PackRequest {
  std::wstring source;    // a folder, a zip archive carried as it is, or a packed launcher
  std::wstring output;
  std::wstring launcher;  // "" for $ORVANE_LAUNCHER, else the launcher beside the tool
  bool hasStart = false;  // --start TEXT: the .start entry
  std::wstring start;
  std::vector<std::wstring> excludes;  // --exclude PATTERN
  bool noOutsideLinks = false;         // --no-outside-links
  std::wstring icon;                   // --icon FILE.ico (Windows launchers)
  bool hasTitle = false;               // --title TEXT (Windows launchers)
  std::wstring title;
  bool tar = false;                    // --tar: a POSIX launcher written inside a .tar.gz
};

// Packs, checks the result as the launcher will read it, and only then puts OUTPUT in place.
// The exit status: 0 success, 1 failure (the reason on standard error; no OUTPUT is left).
int Pack(const PackRequest& request);

}  // namespace orvanezip
