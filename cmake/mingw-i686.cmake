# 32-bit Windows build with MinGW-w64: the shipped target, compiled and linked but never run here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORVANE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Every program may use 4 GiB of address space under 64-bit Windows, not 2 (the launcher maps
# its course with its image; orvane-zip reads large archives).
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,--large-address-aware")
