// The few services of orvane-zip that differ between Windows and POSIX (platform_win32.cpp,
// platform_posix.cpp). Paths are wide strings, as everywhere in Orvane.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace orvanezip {

// The program's arguments after the program name, as wide strings.
std::vector<std::wstring> ProgramArguments(int argc, char** argv);

// The full path of the running orvane-zip.
std::wstring ProgramPath();

// The launcher's file name beside the tool: "orvane.exe" or "orvane".
const wchar_t* LauncherFileName();

// Opens a file as a binary stream ("rb" or "wb"); null when it cannot be opened.
std::FILE* OpenStream(const std::wstring& path, const char* mode);

// Makes standard output binary, so that entry bytes pass unchanged.
void SetBinaryOutput();

// Text for the console: a wide string in the console's narrow encoding.
std::string ConsoleText(const std::wstring& text);

// The value of an environment variable, or "" when it is not set.
std::wstring EnvironmentValue(const char* name);

// Writes `output` as a copy of the launcher at `launcher` that carries `zip` as its embedded
// archive ("RT_ZIP" 777), replacing one it may carry already. False with a reason in `*error`.
bool PackLauncher(const std::wstring& launcher, const std::vector<unsigned char>& zip,
                  const std::wstring& output, std::wstring* error);

}  // namespace orvanezip
