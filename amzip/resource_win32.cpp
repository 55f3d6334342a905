// The embedded archive on Windows: a resource of the executable's own module, which stays
// mapped for the life of the process.
#include <windows.h>

#include "amzip/resource.h"

namespace amzip {

bool FindEmbeddedArchive(const wchar_t* type, const wchar_t* name, const void** data, std::uint64_t* size) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, name, type);
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) return false;
  const void* bytes = LockResource(loaded);
  if (bytes == nullptr) return false;
  *data = bytes;
  *size = SizeofResource(module, found);
  return true;
}

bool EmbeddedArchiveFile(std::intptr_t*, std::uint64_t*) { return false; }

}  // namespace amzip
