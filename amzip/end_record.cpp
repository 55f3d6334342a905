// Locating and reading the end-of-central-directory record, and the redirect from the first
// part of a split archive to its last part, the one with the extension "zip".
#include <cstring>
#include <vector>

#include "amzip/archive.h"
#include "amzip/entry.h"
#include "amzip/fail.h"
#include "amzip/little_endian.h"
#include "amzip/reader.h"
#include "text/url.h"

namespace amzip {

namespace {

constexpr std::uint32_t kSearchChunk = 32764;
constexpr std::uint32_t kNotAnArchiveMask = 0x8b1f;  // every bit set: taken for gzip and kin

}  // namespace

int ZipArchive::FindEndRecord() {
  SeekTo(0, SEEK_SET);
  const std::uint32_t first = ReadU32();
  if (first == kDataDescriptorSignature) {
    RedirectToLastPart();
    return FindEndRecord();
  }
  if (first != kSpannedMarkerSignature && (first & kNotAnArchiveMask) == kNotAnArchiveMask) return 0;
  std::uint64_t offset = 0;
  if (!SearchEndSignature(&offset)) return -1;
  SeekTo(offset + 4, SEEK_SET);
  ReadEndRecord();
  return 1;
}

// The source starts like the first part of a split archive: read the last part instead. Only
// a file has sibling parts, and the redirect happens once, so a last part that again starts
// with the marker (or a name that does not change) cannot make it go round.
void ZipArchive::RedirectToLastPart() {
  if (!fileSource || redirected || FileExtension(path) == L"zip") Fail(AZ_ERROR_UNKNOWN);
  std::wstring lastPart = path;
  ReplaceExtension(lastPart, L"zip");
  OpenFileSource(lastPart);
  redirected = true;
}

// Backward search for the bytes "PK\5\6" at the highest offset where they occur, in chunks of
// kSearchChunk bytes from the end of the source towards its start. A match may reach into the
// first bytes of the chunk read before, which are kept after the chunk in the buffer.
bool ZipArchive::SearchEndSignature(std::uint64_t* offset) {
  static const unsigned char kSignature[4] = {0x50, 0x4B, 0x05, 0x06};
  const std::uint64_t size = SourceSize();
  std::uint64_t chunkEnd = size;  // where the chunk read before starts
  unsigned char carry[3];
  std::uint32_t carryLength = 0;
  std::uint64_t position = size > kSearchChunk ? size - kSearchChunk : 0;
  std::vector<unsigned char> buffer(kSearchChunk + 4);
  unsigned char* const chunk = buffer.data();
  for (;;) {
    std::uint32_t got = 0;
    const std::uint32_t want = static_cast<std::uint32_t>(chunkEnd - position);
    if (!reader->ReadAt(position, chunk, want, &got)) Fail(AZ_ERROR_READ);
    if (got == 0) return false;
    std::uint32_t available = got;
    if (position + got == chunkEnd) {
      std::memcpy(chunk + got, carry, carryLength);
      available += carryLength;
    }
    for (std::uint32_t i = got; i-- > 0;) {
      if (i + 4 <= available && std::memcmp(chunk + i, kSignature, 4) == 0) {
        *offset = position + i;
        return true;
      }
    }
    carryLength = got < 3 ? got : 3;
    std::memcpy(carry, chunk, carryLength);
    if (position == 0) return false;
    chunkEnd = position;
    position = position > kSearchChunk ? position - kSearchChunk : 0;
  }
}

void ZipArchive::ReadEndRecord() {
  currentVolume->diskNumber = ReadU16();
  centralDirectoryDisk = ReadU16();
  if (currentVolume->diskNumber != centralDirectoryDisk) Fail(AZ_ERROR_UNKNOWN);
  unsigned char fixed[14];
  ReadBytes(fixed, sizeof fixed);
  ByteCursor field(fixed);
  currentVolume->entryCount = field.U16();
  totalEntries = field.U16();
  centralDirectorySize = field.U32();
  centralDirectoryOffset = field.U32();
  commentLength = field.U16();
  comment.assign(commentLength, '\0');
  if (commentLength != 0) ReadBytes(comment.data(), commentLength);
  // Zip64 records that some writers put after the end record are passed over; nothing of them
  // is used.
  while (Tell() + 4 < SourceSize()) {
    const std::uint32_t signature = ReadU32();
    if (signature == kZip64EndRecordSignature) {
      Skip(ReadU64());
    } else if (signature == kZip64LocatorSignature) {
      Skip(16);
    } else {
      break;
    }
  }
}

}  // namespace amzip
