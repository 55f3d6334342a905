// The course's identity, port and profile folder; see course_profile.h.
#include "launcher/run/course_profile.h"

#include <cstdio>

#include "launcher/os/platform.h"
#include "text/text.h"
#include "text/url.h"

namespace {

// FNV-1a, 64 bits, over each character's code unit as four bytes: stable from run to run and
// build to build, unlike std::hash.
std::uint64_t IdentityHash(const std::wstring& identity) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (const wchar_t c : identity) {
    const std::uint32_t unit = static_cast<std::uint32_t>(c);
    for (int shift = 0; shift < 32; shift += 8) {
      hash ^= (unit >> shift) & 0xFF;
      hash *= 0x100000001b3ull;
    }
  }
  return hash;
}

}  // namespace

std::wstring CourseIdentity(const std::wstring& archiveOrProgramPath) {
  const std::size_t slash = archiveOrProgramPath.find_last_of(L"/\\");
  std::wstring name =
      slash == std::wstring::npos ? archiveOrProgramPath : archiveOrProgramPath.substr(slash + 1);
  LowerAscii(name);
  return name;
}

std::uint16_t CoursePort(const std::wstring& identity) {
  return static_cast<std::uint16_t>(49152 + IdentityHash(identity) % 16384);
}

std::wstring CourseProfileName(const std::wstring& identity) {
  std::wstring name;
  for (const wchar_t c : identity) {
    if (name.size() == 40) break;
    const bool safe = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                      (c >= L'0' && c <= L'9') || c == L'-' || c == L'_' || c == L'.';
    name += safe ? c : L'_';
  }
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(IdentityHash(identity)));
  return name + L'-' + AnsiToWide(hash);
}

std::wstring PrepareCourseProfile(Platform& platform, const std::wstring& identity) {
  const std::wstring data = platform.UserDataFolder();
  if (data.empty()) return std::wstring();
  const std::wstring profiles = data + kPathSeparator + L"profiles";
  const std::wstring name = CourseProfileName(identity);
  const std::wstring dir = profiles + kPathSeparator + name;
  if (!platform.MakeFolders(dir)) {
    DebugLog("cannot create the profile folder '%S'.\n", dir.c_str());
    return std::wstring();
  }
  platform.MarkFolderUsed(dir);
  const std::int64_t now = platform.UnixSeconds();
  for (const FolderUse& folder : platform.ListFolders(profiles)) {
    // A folder never marked may be one another run is just making.
    if (folder.name == name || folder.lastUsedSeconds == 0) continue;
    if (now - folder.lastUsedSeconds > kProfileKeepSeconds) {
      platform.RemoveTree(profiles + kPathSeparator + folder.name);
    }
  }
  return dir;
}
