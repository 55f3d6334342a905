// How a POSIX launcher carries its archive: the zip is appended to the executable, followed by
// this fixed 24-byte trailer at the very end of the file. (Windows uses a real "RT_ZIP" 777
// resource instead.) All integers little-endian. Read by the launcher (resource_posix.cpp),
// written by orvane-zip pack.
#pragma once

#include <cstdint>
#include <cstring>

#include "amzip/little_endian.h"

namespace amzip {

struct EmbeddedTrailer {
  char type[8];           // resource type name, zero-padded: "RT_ZIP"
  std::uint32_t id;       // resource identifier: 777
  std::uint32_t magic;    // kEmbeddedMagic
  std::uint64_t length;   // byte length of the zip that ends where the trailer starts
};
static_assert(sizeof(EmbeddedTrailer) == 24);

constexpr std::uint32_t kEmbeddedMagic = 0x4E56524F;  // "ORVN"

// A program that looks for an appended archive carries a section of this name holding
// kLauncherMarkText (resource_mark_posix.cpp), so orvane-zip pack can refuse any other program,
// which would never find the archive it was given.
constexpr char kLauncherMarkSection[] = ".orvane";
constexpr char kLauncherMarkText[] = "orvane launcher";

// Decodes the last sizeof(EmbeddedTrailer) bytes of a file of `fileSize` bytes. True when they
// are a trailer: the magic matches and a zip of the stated length fits in front of it.
inline bool ReadEmbeddedTrailer(const unsigned char* bytes, std::uint64_t fileSize, EmbeddedTrailer* trailer) {
  if (fileSize < sizeof(EmbeddedTrailer) || LoadU32(bytes + 12) != kEmbeddedMagic) return false;
  std::memcpy(trailer->type, bytes, sizeof trailer->type);
  trailer->id = LoadU32(bytes + 8);
  trailer->magic = kEmbeddedMagic;
  trailer->length = LoadU64(bytes + 16);
  return trailer->length <= fileSize - sizeof(EmbeddedTrailer);
}

// The trailer for a zip of `zipLength` bytes embedded as "RT_ZIP" 777, into `bytes`.
inline void WriteEmbeddedTrailer(std::uint64_t zipLength, unsigned char (&bytes)[sizeof(EmbeddedTrailer)]) {
  std::memset(bytes, 0, sizeof bytes);
  std::memcpy(bytes, "RT_ZIP", 6);
  auto store = [&](std::size_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(value >> (8 * i));
  };
  store(8, 777, 4);
  store(12, kEmbeddedMagic, 4);
  store(16, zipLength, 8);
}

}  // namespace amzip
