// Little-endian integers from a byte block, for records read in one piece.
#pragma once

#include <cstdint>

namespace amzip {

inline std::uint16_t LoadU16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t LoadU32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t LoadU64(const unsigned char* p) {
  return static_cast<std::uint64_t>(LoadU32(p)) | (static_cast<std::uint64_t>(LoadU32(p + 4)) << 32);
}

// Reads fields one after the other from a block the caller has checked to be long enough.
class ByteCursor {
 public:
  explicit ByteCursor(const unsigned char* start) : p(start) {}
  std::uint16_t U16() { p += 2; return LoadU16(p - 2); }
  std::uint32_t U32() { p += 4; return LoadU32(p - 4); }

 private:
  const unsigned char* p;
};

}  // namespace amzip
