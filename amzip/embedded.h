// How a POSIX launcher carries its archive: the zip is appended to the executable, followed by
// this fixed 24-byte trailer at the very end of the file. (Windows uses a real "RT_ZIP" 777
// resource instead.) All integers little-endian.
#pragma once

#include <cstdint>

namespace amzip {

struct EmbeddedTrailer {
  char type[8];           // resource type name, zero-padded: "RT_ZIP"
  std::uint32_t id;       // resource identifier: 777
  std::uint32_t magic;    // kEmbeddedMagic
  std::uint64_t length;   // byte length of the zip that ends where the trailer starts
};
static_assert(sizeof(EmbeddedTrailer) == 24);

constexpr std::uint32_t kEmbeddedMagic = 0x4E56524F;  // "ORVN"

}  // namespace amzip
