// FileReader on Windows: CreateFileW with read and write sharing (no restriction towards other
// readers and writers), ReadFile with the 64-bit offset in an OVERLAPPED, which reads at that
// offset without relying on the handle's file pointer. A folder does not open.
#include <windows.h>

#include "amzip/reader.h"

namespace amzip {

FileReader::FileReader(const std::wstring& filePath) {
  HANDLE handle = CreateFileW(filePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER length;
  if (!GetFileSizeEx(handle, &length)) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    SetLastError(error);
    return;
  }
  file = reinterpret_cast<std::intptr_t>(handle);
  size = static_cast<std::uint64_t>(length.QuadPart);
}

bool FileReader::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) const {
  *got = 0;
  if (file == -1) return count == 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (*got < count) {
    const std::uint64_t at = offset + *got;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD n = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(file), out + *got, count - *got, &n, &where)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return false;
    }
    if (n == 0) break;  // the end of the file
    *got += n;
  }
  return true;
}

bool FileReader::Stamp(std::uint64_t* fileSize, std::uint64_t* modified) const {
  LARGE_INTEGER length;
  FILETIME written;
  if (file == -1 || !GetFileSizeEx(reinterpret_cast<HANDLE>(file), &length) ||
      !GetFileTime(reinterpret_cast<HANDLE>(file), nullptr, nullptr, &written)) {
    return false;
  }
  *fileSize = static_cast<std::uint64_t>(length.QuadPart);
  *modified = (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  return true;
}

void FileReader::Close() {
  if (file != -1) {
    CloseHandle(reinterpret_cast<HANDLE>(file));
    file = -1;
  }
}

}  // namespace amzip
