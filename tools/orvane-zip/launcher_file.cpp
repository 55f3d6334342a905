// KindOfLauncher, PosixProgramLength, CheckPosixLauncher and FindPackedArchive.
#include "tools/orvane-zip/launcher_file.h"

#include <cstring>
#include <vector>

#include "amzip/embedded.h"
#include "text/text.h"
#include "tools/orvane-zip/pe_image.h"

namespace orvanezip {

using amzip::LoadU16;
using amzip::LoadU32;
using amzip::LoadU64;

namespace {

bool ReadTrailer(const ByteSource& source, amzip::EmbeddedTrailer* trailer) {
  unsigned char bytes[sizeof(amzip::EmbeddedTrailer)];
  return source.Size() >= sizeof bytes && source.Read(source.Size() - sizeof bytes, bytes, sizeof bytes) &&
         amzip::ReadEmbeddedTrailer(bytes, source.Size(), trailer);
}

bool Refuse(std::wstring* error, const std::string& what) {
  *error = Utf8ToWide(what);
  return false;
}

}  // namespace

LauncherKind KindOfLauncher(const ByteSource& source) {
  unsigned char magic[4];
  if (source.Read(0, magic, 4) && std::memcmp(magic, "\x7F" "ELF", 4) == 0) return LauncherKind::kPosix;
  if (PeImage::LooksLikePe(source)) return LauncherKind::kWindows;
  return LauncherKind::kNone;
}

std::uint64_t PosixProgramLength(const ByteSource& source) {
  amzip::EmbeddedTrailer trailer;
  if (!ReadTrailer(source, &trailer)) return source.Size();
  return source.Size() - sizeof trailer - trailer.length;
}

bool CheckPosixLauncher(const ByteSource& source, std::uint64_t length, std::wstring* error) {
  unsigned char h[64] = {};
  if (length < 52 || !source.Read(0, h, length < 64 ? 52 : 64)) return Refuse(error, "the ELF header is cut short");
  const bool is64 = h[4] == 2;
  if ((h[4] != 1 && h[4] != 2) || h[5] != 1 || h[6] != 1) return Refuse(error, "not a little-endian ELF program of version 1");
  if (is64 && length < 64) return Refuse(error, "the ELF header is cut short");
  const std::uint16_t type = LoadU16(h + 16);
  if (type != 2 && type != 3) return Refuse(error, "the ELF file is not an executable");
  const std::uint64_t phoff = is64 ? LoadU64(h + 32) : LoadU32(h + 28);
  const std::uint64_t shoff = is64 ? LoadU64(h + 40) : LoadU32(h + 32);
  const unsigned char* counts = h + (is64 ? 54 : 42);
  const std::uint32_t phentsize = LoadU16(counts), phnum = LoadU16(counts + 2);
  const std::uint32_t shentsize = LoadU16(counts + 4), shnum = LoadU16(counts + 6), shstrndx = LoadU16(counts + 8);
  std::vector<unsigned char> table;
  if (phentsize != (is64 ? 56u : 32u) || phnum == 0 || phoff > length || std::uint64_t{phnum} * phentsize > length - phoff ||
      !source.ReadVector(phoff, phnum * phentsize, &table)) {
    return Refuse(error, "the ELF program headers lie outside the file");
  }
  for (std::uint32_t i = 0; i < phnum; ++i) {
    const unsigned char* p = &table[i * phentsize];
    const std::uint64_t offset = is64 ? LoadU64(p + 8) : LoadU32(p + 4);
    const std::uint64_t size = is64 ? LoadU64(p + 32) : LoadU32(p + 16);
    if (size != 0 && (offset > length || size > length - offset)) {
      return Refuse(error, FormatText("the ELF segment %u lies outside the file", i + 1));
    }
  }
  // The mark: a section named kLauncherMarkSection holding kLauncherMarkText.
  const char* const noMark = "it carries no launcher mark (it is not an Orvane launcher)";
  if (shentsize != (is64 ? 64u : 40u) || shstrndx >= shnum || shoff > length ||
      std::uint64_t{shnum} * shentsize > length - shoff || !source.ReadVector(shoff, shnum * shentsize, &table)) {
    return Refuse(error, noMark);
  }
  auto where = [&](std::uint32_t i, std::uint64_t* offset, std::uint64_t* size) {
    const unsigned char* s = &table[i * shentsize];
    *offset = is64 ? LoadU64(s + 24) : LoadU32(s + 16);
    *size = is64 ? LoadU64(s + 32) : LoadU32(s + 20);
    return *offset <= length && *size <= length - *offset;
  };
  std::uint64_t namesAt, namesSize;
  std::vector<unsigned char> names;
  if (!where(shstrndx, &namesAt, &namesSize) || namesSize > (1u << 20) ||
      !source.ReadVector(namesAt, static_cast<std::size_t>(namesSize), &names)) {
    return Refuse(error, noMark);
  }
  names.push_back(0);
  for (std::uint32_t i = 0; i < shnum; ++i) {
    const std::uint32_t name = LoadU32(&table[i * shentsize]);
    std::uint64_t at, size;
    unsigned char mark[sizeof amzip::kLauncherMarkText];
    if (name < names.size() && std::strcmp(reinterpret_cast<const char*>(&names[name]), amzip::kLauncherMarkSection) == 0 &&
        where(i, &at, &size) && size >= sizeof mark && source.Read(at, mark, sizeof mark) &&
        std::memcmp(mark, amzip::kLauncherMarkText, sizeof mark) == 0) {
      return true;
    }
  }
  return Refuse(error, noMark);
}

bool FindPackedArchive(const ByteSource& source, LauncherKind kind, std::uint64_t* offset, std::uint64_t* length) {
  if (kind == LauncherKind::kPosix) {
    amzip::EmbeddedTrailer trailer;
    if (!ReadTrailer(source, &trailer) || std::memcmp(trailer.type, "RT_ZIP\0", 8) != 0 || trailer.id != 777) return false;
    *offset = PosixProgramLength(source);
    *length = trailer.length;
    return true;
  }
  PeImage image;
  std::wstring error;
  return kind == LauncherKind::kWindows && image.Parse(source, &error) &&
         image.FindResourceData(ResourceKey{true, 0, u"RT_ZIP"}, 777, offset, length);
}

}  // namespace orvanezip
