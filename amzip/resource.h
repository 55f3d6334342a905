// Where the running executable keeps its embedded archive (resource_win32.cpp: the resource
// section; resource_posix.cpp: a zip appended to the file with the trailer of embedded.h).
#pragma once

#include <cstdint>

namespace amzip {

// Finds the archive embedded under resource type `type` and resource `name` (a string or
// ResourceId(n)). True with its bytes, which stay valid and unchanged for the rest of the
// process; false when there is none or it cannot be loaded.
bool FindEmbeddedArchive(const wchar_t* type, const wchar_t* name, const void** data, std::uint64_t* size);

// The file the embedded archive was found in, when the platform keeps it open: its descriptor
// (open for the rest of the process, never to be closed) and the archive's offset in it, so
// its bytes can be read positionally without touching the mapping. False on Windows, where a
// resource is only memory.
bool EmbeddedArchiveFile(std::intptr_t* file, std::uint64_t* offset);

// True when a resource name is an integer identifier (as IS_INTRESOURCE tests it).
inline bool IsResourceId(const wchar_t* name) {
  return reinterpret_cast<std::uintptr_t>(name) < 0x10000;
}

}  // namespace amzip
