// What kind of launcher a file is, and where a packed launcher keeps its archive: the POSIX
// launcher (ELF) carries it appended with the trailer of amzip/embedded.h, the Windows launcher
// (PE) as its resource "RT_ZIP" 777.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvanezip {

enum class LauncherKind { kNone, kPosix, kWindows };

// The kind of the program in `bytes`, by its first bytes alone.
LauncherKind KindOfLauncher(const std::vector<unsigned char>& bytes);

// The length of the POSIX launcher in `bytes` without an archive it may carry already.
std::uint64_t PosixProgramLength(const std::vector<unsigned char>& bytes);

// Finds the archive a packed launcher carries, as the launcher finds it when it runs (the
// trailer; the resource tree). True with its offset and length in `bytes`.
bool FindPackedArchive(const std::vector<unsigned char>& bytes, LauncherKind kind, std::uint64_t* offset,
                       std::uint64_t* length);

}  // namespace orvanezip
