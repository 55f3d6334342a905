#include <zlib.h>

#include "amzip/checksum.h"

namespace amzip {

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t length) {
  return static_cast<std::uint32_t>(crc32_z(crc, static_cast<const Bytef*>(data), length));
}

std::uint32_t Adler32(std::uint32_t adler, const void* data, std::size_t length) {
  return static_cast<std::uint32_t>(adler32_z(adler, static_cast<const Bytef*>(data), length));
}

}  // namespace amzip
