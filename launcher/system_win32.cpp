// Process services for Windows: GetTickCount, Sleep, GetFileAttributesW, the COM apartment.
#include <windows.h>
#include <objbase.h>

#include "launcher/system.h"

namespace os {

std::uint32_t TickCount() { return GetTickCount(); }

bool Sleep(std::uint32_t ms) {
  ::Sleep(ms);
  return true;
}

void WatchStopSignals() {}

bool IsExistingFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void BeginComApartment() { CoInitialize(nullptr); }

void EndComApartment() { CoUninitialize(); }

}  // namespace os
