// Process-level services of the platform (system_win32.cpp / system_posix.cpp): the tick count,
// the watch loop's sleep, file attributes and the COM apartment.
#pragma once

#include <cstdint>
#include <string>

namespace os {

// Milliseconds since the system started, low 32 bits: GetTickCount / CLOCK_MONOTONIC.
std::uint32_t TickCount();

// Sleeps `ms` milliseconds. POSIX: returns false, early, once SIGINT or SIGTERM has arrived
// after WatchStopSignals. Windows: always true.
bool Sleep(std::uint32_t ms);

// Makes SIGINT and SIGTERM end Sleep instead of the process (POSIX); nothing on Windows.
void WatchStopSignals();

// True when `path` exists and is not a directory (GetFileAttributesW / stat).
bool IsExistingFile(const std::wstring& path);

// CoInitialize(NULL) and CoUninitialize on Windows, results ignored; nothing on POSIX.
void BeginComApartment();
void EndComApartment();

}  // namespace os
