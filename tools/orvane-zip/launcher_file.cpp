// KindOfLauncher, PosixProgramLength and FindPackedArchive.
#include "tools/orvane-zip/launcher_file.h"

#include "amzip/embedded.h"
#include "tools/orvane-zip/pe_image.h"

namespace orvanezip {

LauncherKind KindOfLauncher(const std::vector<unsigned char>& bytes) {
  if (bytes.size() >= 4 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F') return LauncherKind::kPosix;
  if (PeImage::LooksLikePe(bytes)) return LauncherKind::kWindows;
  return LauncherKind::kNone;
}

namespace {

bool ReadTrailer(const std::vector<unsigned char>& bytes, amzip::EmbeddedTrailer* trailer) {
  const std::size_t size = sizeof(amzip::EmbeddedTrailer);
  return bytes.size() >= size && amzip::ReadEmbeddedTrailer(bytes.data() + bytes.size() - size, bytes.size(), trailer);
}

}  // namespace

std::uint64_t PosixProgramLength(const std::vector<unsigned char>& bytes) {
  amzip::EmbeddedTrailer trailer;
  if (!ReadTrailer(bytes, &trailer)) return bytes.size();
  return bytes.size() - sizeof trailer - trailer.length;
}

bool FindPackedArchive(const std::vector<unsigned char>& bytes, LauncherKind kind, std::uint64_t* offset,
                       std::uint64_t* length) {
  if (kind == LauncherKind::kPosix) {
    amzip::EmbeddedTrailer trailer;
    if (!ReadTrailer(bytes, &trailer) || std::memcmp(trailer.type, "RT_ZIP\0", 8) != 0 || trailer.id != 777) return false;
    *offset = PosixProgramLength(bytes);
    *length = trailer.length;
    return true;
  }
  PeImage image;
  std::wstring error;
  return kind == LauncherKind::kWindows && image.Parse(bytes, &error) &&
         image.FindResourceData(ResourceKey{true, 0, u"RT_ZIP"}, 777, offset, length);
}

}  // namespace orvanezip
