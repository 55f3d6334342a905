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
constexpr std::uint16_t kMarker16 = 0xFFFF;
constexpr std::uint32_t kMarker32 = 0xFFFFFFFF;
constexpr std::uint32_t kZip64LocatorLength = 20;
constexpr std::uint32_t kZip64EndRecordLength = 56;  // up to the directory's offset

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
  const std::uint64_t recordOffset = Tell() - 4;
  currentVolume->diskNumber = ReadU16();
  centralDirectoryDisk = ReadU16();
  // 0xFFFF says the zip64 end record holds the number; it is compared once taken from there.
  const bool zip64Disks = currentVolume->diskNumber == kMarker16 || centralDirectoryDisk == kMarker16;
  if (!zip64Disks && currentVolume->diskNumber != centralDirectoryDisk) Fail(AZ_ERROR_UNKNOWN);
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
  TakeZip64EndRecord(recordOffset);
  if (zip64Disks && currentVolume->diskNumber != centralDirectoryDisk) Fail(AZ_ERROR_UNKNOWN);
  // Zip64 records that some writers put after the end record are passed over; nothing of them
  // is used. One that claims more bytes than are left ends the loop: the archive before it is
  // complete.
  while (Tell() + 4 < SourceSize()) {
    const std::uint32_t signature = ReadU32();
    std::uint64_t length = 0;
    if (signature == kZip64EndRecordSignature) {
      length = ReadU64();
    } else if (signature == kZip64LocatorSignature) {
      length = 16;
    } else {
      break;
    }
    if (length > SourceSize() - Tell()) break;
    Skip(length);
  }
}

// The end record's fields that hold their marker (0xFFFF, 0xFFFFFFFF) take their values from
// the zip64 end record, found through the locator just before the end record. Without a
// locator or a record where it points, the fields stay as they are.
void ZipArchive::TakeZip64EndRecord(std::uint64_t recordOffset) {
  const bool marked = currentVolume->diskNumber == kMarker16 || centralDirectoryDisk == kMarker16 ||
                      currentVolume->entryCount == kMarker16 || totalEntries == kMarker16 ||
                      centralDirectorySize == kMarker32 || centralDirectoryOffset == kMarker32;
  if (!marked || recordOffset < kZip64LocatorLength) return;
  unsigned char locator[kZip64LocatorLength];
  std::uint32_t got = 0;
  if (!reader->ReadAt(recordOffset - kZip64LocatorLength, locator, sizeof locator, &got) || got < sizeof locator ||
      LoadU32(locator) != kZip64LocatorSignature) {
    return;
  }
  unsigned char record[kZip64EndRecordLength];
  if (!reader->ReadAt(LoadU64(locator + 8), record, sizeof record, &got) || got < sizeof record ||
      LoadU32(record) != kZip64EndRecordSignature) {
    return;
  }
  auto narrow = [](std::uint64_t value) {
    return value > kMarker32 ? kMarker32 : static_cast<std::uint32_t>(value);
  };
  if (currentVolume->diskNumber == kMarker16) currentVolume->diskNumber = LoadU32(record + 16);
  if (centralDirectoryDisk == kMarker16) centralDirectoryDisk = LoadU32(record + 20);
  if (currentVolume->entryCount == kMarker16) currentVolume->entryCount = narrow(LoadU64(record + 24));
  if (totalEntries == kMarker16) totalEntries = narrow(LoadU64(record + 32));
  if (centralDirectorySize == kMarker32) centralDirectorySize = LoadU64(record + 40);
  if (centralDirectoryOffset == kMarker32) centralDirectoryOffset = LoadU64(record + 48);
}

}  // namespace amzip
