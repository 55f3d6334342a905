// The few services of orvane-zip that differ between Windows and POSIX (platform_win32.cpp,
// platform_posix.cpp). Paths are wide strings, as everywhere in Orvane.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace orvanezip {

// The program's arguments after the program name, as wide strings.
std::vector<std::wstring> ProgramArguments(int argc, char** argv);

// The full path of the running orvane-zip.
std::wstring ProgramPath();

// The launcher's file name beside the tool: "orvane.exe" or "orvane".
const wchar_t* LauncherFileName();

// Opens a file as a binary stream ("rb", "wb" or "r+b"); null when it cannot be opened.
std::FILE* OpenStream(const std::wstring& path, const char* mode);

// Creates a new file at `path` for writing, never through a link and never over an existing
// file (O_CREAT|O_EXCL|O_NOFOLLOW; CREATE_NEW); null when it cannot be created.
std::FILE* CreateNewStream(const std::wstring& path);

// What identifies a file or folder on its device, whichever path reaches it: device and inode
// (POSIX), volume serial number and file index (Windows).
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  bool operator<(const FileId& other) const { return device != other.device ? device < other.device : index < other.index; }
  bool operator==(const FileId& other) const { return device == other.device && index == other.index; }
};
// The identity of what `path` names, links followed; false when it cannot be had.
bool IdentityOf(const std::filesystem::path& path, FileId* id);

// Makes standard output binary, so that entry bytes pass unchanged.
void SetBinaryOutput();

// Text for the console: a wide string in the console's narrow encoding.
std::string ConsoleText(const std::wstring& text);

// The value of an environment variable, or "" when it is not set.
std::wstring EnvironmentValue(const char* name);

// The file-system path of a path given as a wide string, and back (for messages).
std::filesystem::path FileSystemPath(const std::wstring& path);
std::wstring PathText(const std::filesystem::path& path);

// A path or name as the bytes the folder walk sees: POSIX, its own bytes; Windows, UTF-8.
std::string PathBytes(const std::wstring& path);

// Moves the stream's position to `offset` from the start (64-bit offsets).
bool SeekStream(std::FILE* stream, std::uint64_t offset);

// True when standard error is a terminal (progress lines are shown only there).
bool ErrorIsTerminal();

// The local civil time of a count of seconds since 1970 (UTC) as an MS-DOS date and time, as
// zip tools stamp entries.
void LocalDosStamp(std::int64_t seconds, std::uint16_t* dosDate, std::uint16_t* dosTime);

// Marks the open file executable (POSIX: mode 0755; Windows: nothing to do).
bool MakeExecutable(std::FILE* stream);
// Lets every account read the open file (POSIX: mode 0644; Windows: nothing to do).
bool MakeReadable(std::FILE* stream);

// Renames `from` to `to`, replacing a file at `to`. False with the system's reason in `*error`.
bool RenameOver(const std::wstring& from, const std::wstring& to, std::wstring* error);

}  // namespace orvanezip
