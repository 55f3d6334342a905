// CRC-32 of entry data (the zip format's polynomial, as zlib's crc32 computes it). The POSIX
// build takes it from libdeflate, which folds with carry-less multiplication (about 0.3
// instructions a byte against zlib's 4); the Windows build keeps zlib, the one compression
// library its cross toolchain has.
#pragma once

#include <cstddef>
#include <cstdint>

namespace amzip {

// The CRC-32 of `crc`'s data followed by `length` bytes at `data`; start with 0.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t length);
// The Adler-32 (the zlib format's checksum) of `adler`'s data followed by `length` bytes at
// `data`; start with 1. From the same library as Crc32.
std::uint32_t Adler32(std::uint32_t adler, const void* data, std::size_t length);

}  // namespace amzip
