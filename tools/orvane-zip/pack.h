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
  std::string id;                      // --id TEXT: the course ID; "" for the one SOURCE has, else a new one
  bool keepId = false;                 // --keep-id: the ID written to SOURCE's kCourseIdFile
  bool tar = false;                    // --tar: a POSIX launcher written inside a .tar.gz
};

// The file in a course folder that holds its course ID (written by --keep-id, read by the next
// pack); the ID goes into the archive's comment, never as an entry.
constexpr const char* kCourseIdFile = ".orvane-course-id";

// Packs, checks the result as the launcher will read it, and only then puts OUTPUT in place.
// The exit status: 0 success, 1 failure (the reason on standard error; no OUTPUT is left). On
// success `*courseId` (when given) is the course ID the output carries.
int Pack(const PackRequest& request, std::string* courseId = nullptr);

}  // namespace orvanezip
