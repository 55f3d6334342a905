// A .tar.gz of one program: for Linux launchers sent where a file's run bit is lost (downloads,
// mail, Windows file systems); tar keeps it.
#pragma once

#include <cstdint>
#include <string>

#include "tools/orvane-zip/byte_source.h"
#include "tools/orvane-zip/output_file.h"

namespace orvanezip {

// Writes to `out` a gzip-compressed POSIX (ustar) archive holding `program`'s bytes as one
// regular file named `name` (at most 100 bytes of UTF-8), mode 0755, stamped `seconds` (Unix
// time). False with the reason in `*error` when reading or compressing fails.
bool WriteProgramTarGz(const ByteSource& program, const std::string& name, std::int64_t seconds,
                       OutputFile* out, std::wstring* error);

}  // namespace orvanezip
