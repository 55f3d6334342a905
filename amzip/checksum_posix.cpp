#include <libdeflate.h>

#include "amzip/checksum.h"

namespace amzip {

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t length) {
  return libdeflate_crc32(crc, data, length);
}

std::uint32_t Adler32(std::uint32_t adler, const void* data, std::size_t length) {
  return libdeflate_adler32(adler, data, length);
}

}  // namespace amzip
