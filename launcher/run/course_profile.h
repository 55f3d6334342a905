// A course's identity and what hangs on it: its profile folder in the user's data folder (kept
// between runs, so browser storage survives) and the port its origin uses when HttpPort is
// not set. Portable; the folder services come from the Platform.
#pragma once

#include <cstdint>
#include <string>

class Platform;

// The course's identity: the file name of the archive (the path's last component), or for an
// embedded course the launcher program's own file name; ASCII letters lower-cased, since the
// same file may be named in another case on Windows. Moving the file or replacing it with a
// newer one of the same name keeps it; a differently named course gets another.
std::wstring CourseIdentity(const std::wstring& archiveOrProgramPath);

// The port derived from the identity: the same on every run, in 49152 to 65535.
std::uint16_t CoursePort(const std::wstring& identity);

// The profile folder's name under the data folder's "profiles": the identity made safe for any
// file system (letters, digits, '-', '_', '.' kept; anything else '_'; at most 40 characters)
// and a hash of the whole identity, so two names that differ only in dropped characters differ.
std::wstring CourseProfileName(const std::wstring& identity);

// Profiles not used for this long are removed when any course opens.
constexpr std::int64_t kProfileKeepSeconds = 90ll * 24 * 60 * 60;

// Prepares the course's profile folder: creates it, marks it used now, removes the profiles of
// other courses not used for kProfileKeepSeconds. Returns its path, "" when there is no data
// folder or it cannot be created.
std::wstring PrepareCourseProfile(Platform& platform, const std::wstring& identity);
