# Linux arm64 build with Debian's cross compiler (g++-aarch64-linux-gnu). Its C library comes
# with the compiler (/usr/aarch64-linux-gnu); zlib, libdeflate and expat are the arm64 static
# libraries scripts/setup unpacks from Debian's arm64 packages into build/arm64-libs, without
# installing them. Tests and build steps that run its programs do so under qemu-aarch64-static.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(ORVANE_ARM64_LIBS ${CMAKE_CURRENT_LIST_DIR}/../build/arm64-libs CACHE PATH
    "The arm64 packages' files, unpacked by scripts/setup")
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu ${ORVANE_ARM64_LIBS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# -L: the arm64 C and C++ libraries, for the test programs that are not static.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L /usr/aarch64-linux-gnu)
