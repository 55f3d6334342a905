// What kind of launcher a file is, whether it is one of ours, and where a packed launcher keeps
// its archive: the POSIX launcher (ELF) carries it appended with the trailer of
// amzip/embedded.h, the Windows launcher (PE) as its resource "RT_ZIP" 777.
#pragma once

#include <cstdint>
#include <string>

#include "tools/orvane-zip/byte_source.h"

namespace orvanezip {

enum class LauncherKind { kNone, kPosix, kWindows };

// The kind of the program in `source`, by its first bytes alone.
LauncherKind KindOfLauncher(const ByteSource& source);

// The length of the POSIX launcher in `source` without an archive it may carry already.
std::uint64_t PosixProgramLength(const ByteSource& source);

// Checks the first `length` bytes of `source` as a POSIX launcher: an ELF header, program
// headers and loaded segments inside them, and the launcher's mark (a program without it,
// orvane-zip itself among them, would never find its archive). False with the problem named.
bool CheckPosixLauncher(const ByteSource& source, std::uint64_t length, std::wstring* error);

// Finds the archive a packed launcher carries, as the launcher finds it when it runs (the
// trailer; the resource tree). True with its offset and length in `source`.
bool FindPackedArchive(const ByteSource& source, LauncherKind kind, std::uint64_t* offset, std::uint64_t* length);

}  // namespace orvanezip
