// The directory walk: every record from the central directory's offset (or from offset 0 when
// there is no end record), driven by signatures, into the entry list and the name index.
#include <zlib.h>

#include <algorithm>

#include "amzip/archive.h"
#include "amzip/entry.h"
#include "amzip/fail.h"
#include "amzip/little_endian.h"
#include "amzip/reader.h"
#include "text/text.h"
#include "text/url.h"

namespace amzip {

namespace {

// Walk states: which records may come next.
constexpr int kStateStart = 0;          // no end record: walking local headers from offset 0
constexpr int kStateLocal = 1;          // after a local header
constexpr int kStateCentral = 10;       // in the central directory
constexpr int kStateSigned = 11;        // after the digital signature
constexpr int kStateZip64End = 20;      // after the zip64 end record
constexpr int kStateZip64Locator = 21;  // after the zip64 locator

constexpr std::uint32_t kMarker32 = 0xFFFFFFFF;
constexpr std::uint16_t kMarker16 = 0xFFFF;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint16_t kZip64Version = 45;
constexpr std::uint16_t kUnicodePathExtraId = 0x7075;
constexpr std::uint8_t kHostUnix = 3;  // "version made by", high byte

void Require(bool allowed) {
  if (!allowed) Fail(AZ_ERROR_UNKNOWN);
}

// Info-ZIP's Unicode Path record (id 0x7075): a version byte (1), the CRC-32 of the header's
// name, then the name in UTF-8. Archivers that store names in a local code page add it. It
// counts only while that CRC-32 matches: a tool that renamed the entry left it stale.
bool UnicodePath(const unsigned char* extra, std::uint32_t length, const std::string& rawName, std::string* name) {
  for (std::uint32_t at = 0; at + 4 <= length;) {
    const std::uint16_t id = LoadU16(extra + at);
    const std::uint32_t dataSize = LoadU16(extra + at + 2);
    const unsigned char* data = extra + at + 4;
    at += 4 + dataSize;
    if (id != kUnicodePathExtraId) continue;
    if (at > length || dataSize < 5 || data[0] != 1) return false;
    const uLong crc = crc32_z(crc32_z(0, nullptr, 0), reinterpret_cast<const Bytef*>(rawName.data()), rawName.size());
    if (LoadU32(data + 1) != static_cast<std::uint32_t>(crc)) return false;
    name->assign(reinterpret_cast<const char*>(data + 5), dataSize - 5);
    return true;
  }
  return false;
}

// True for well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF) that is
// not plain ASCII.
bool IsNonAsciiUtf8(const std::string& bytes) {
  bool nonAscii = false;
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    nonAscii = true;
    const std::size_t more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    if (lead < 0xC2 || lead > 0xF4 || i + more >= bytes.size()) return false;
    std::uint32_t value = lead & (0x3F >> more);
    for (std::size_t k = 1; k <= more; ++k) {
      const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    if ((more == 2 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
        (more == 3 && (value < 0x10000 || value > 0x10FFFF))) {
      return false;
    }
    i += more + 1;
  }
  return nonAscii;
}

// A name without the UTF-8 flag is in the writer's own character set: the OEM code page on
// MS-DOS and Windows, but the locale's on Unix, which is UTF-8 today (Info-ZIP's zip writes
// such names unflagged in most locales). Names from Unix that are well-formed UTF-8 are read as
// UTF-8; the chance that OEM text forms such sequences by accident is slight.
bool UnixNameInUtf8(const ZipEntry& entry, const std::string& name) {
  return (entry.versionMadeBy >> 8) == kHostUnix && IsNonAsciiUtf8(name);
}

}  // namespace

void ZipArchive::ReadDirectory() {
  if (reader == nullptr || !reader->IsOpen()) Fail(AZ_ERROR_INVALID_STATE);
  // The read-ahead of the walk goes with it, however it ends.
  struct WindowRelease {
    ZipArchive* archive;
    ~WindowRelease() {
      std::vector<unsigned char>().swap(archive->window);
      archive->windowLength = 0;
    }
  } release{this};
  // Each walk starts afresh, so walking again after an error yields the same entries and
  // leaves no duplicates behind.
  ForgetEntries();
  loaded = false;
  struct KeyRelease {
    ZipArchive* archive;
    ~KeyRelease() {
      std::wstring().swap(archive->keyBuffer);
      std::wstring().swap(archive->keyScratch);
    }
  } keyRelease{this};
  int state = kStateStart;
  switch (FindEndRecord()) {
    case 1:
      SeekTo(centralDirectoryOffset, SEEK_SET);
      state = kStateCentral;
      break;
    case 0:
      return;  // not an archive: nothing to load
    default:
      SeekTo(0, SEEK_SET);
      break;
  }
  for (;;) {
    const std::uint32_t signature = ReadU32();
    switch (signature) {
      case kLocalHeaderSignature:
        Require(state == kStateStart || state == kStateLocal);
        entries.push_back(&entryStore.emplace_back());
        ReadEntryHeader(entries.back(), false);
        state = kStateLocal;
        break;
      case kCentralHeaderSignature:
        Require(state == kStateLocal || state == kStateCentral);
        entries.push_back(&entryStore.emplace_back());
        ReadEntryHeader(entries.back(), true);
        state = kStateCentral;
        break;
      case kSpannedMarkerSignature:
        state = kStateLocal;
        break;
      case kDigitalSignature:
        Require(state == kStateCentral);
        Skip(ReadU16());
        state = kStateSigned;
        break;
      case kZip64EndRecordSignature:
        Require(state >= kStateCentral);
        Skip(ReadU64());
        state = kStateZip64End;
        break;
      case kZip64LocatorSignature:
        Require(state == kStateZip64End);
        Skip(16);
        state = kStateZip64Locator;
        break;
      case kEndRecordSignature:
        Require(state >= kStateCentral);
        loaded = true;
        return;
      case kArchiveExtraDataSignature:
        Require(state != kStateStart);
        break;  // its body is not skipped
      case kDataDescriptorSignature:
        ReadU32();
        ReadU32();
        ReadU32();
        break;
      default:
        FailWithDetail(AZ_ERROR_UNKNOWN_SIGNATURE, static_cast<std::int32_t>(signature));
    }
  }
}

void ZipArchive::ReadEntryHeader(ZipEntry* entry, bool central) {
  unsigned char fixed[42];
  ReadBytes(fixed, central ? 42 : 26);
  ByteCursor field(fixed);
  if (central) entry->versionMadeBy = field.U16();
  entry->versionNeeded = field.U16();
  entry->flags = field.U16();
  entry->method = field.U16();
  entry->dosTime = field.U16();
  entry->dosDate = field.U16();
  entry->crc32 = field.U32();
  entry->compressedSize = field.U32();
  entry->uncompressedSize = field.U32();
  entry->nameLength = field.U16();
  entry->extraLength = field.U16();
  if (central) {
    entry->commentLength = field.U16();
    entry->diskNumberStart = field.U16();
    entry->internalAttributes = field.U16();
    entry->externalAttributes = field.U32();
    entry->localHeaderOffset = field.U32();
  }

  entry->rawName.assign(entry->nameLength, '\0');
  if (entry->nameLength != 0) ReadBytes(entry->rawName.data(), entry->nameLength);
  if (entry->extraLength > extraBuffer.size()) extraBuffer.assign(entry->extraLength, 0);
  if (entry->extraLength != 0) ReadBytes(extraBuffer.data(), entry->extraLength);

  std::string unicodeName;
  entry->unicodePath = UnicodePath(extraBuffer.data(), entry->extraLength, entry->rawName, &unicodeName);
  const bool utf8 = (entry->flags & kFlagUtf8) != 0 || UnixNameInUtf8(*entry, entry->rawName);
  // Decoded once: the name index starts from the same text, kept in a buffer that every entry
  // reuses (so an entry costs two allocations: its raw and its decoded name).
  entry->name = entry->unicodePath ? Utf8ToWide(unicodeName)
                : utf8              ? Utf8ToWide(entry->rawName)
                                    : OemToWide(entry->rawName);
  keyScratch.assign(entry->name);
  for (wchar_t& c : entry->name) {
    if (c == L'/') c = L'\\';
  }
  if (entry->versionNeeded >= kZip64Version) TakeZip64Values(entry, central);

  if (!central) {
    Skip(entry->compressedSize);
    if ((entry->flags & kFlagDataDescriptor) != 0) {
      std::uint32_t crc = ReadU32();
      if (crc == kDataDescriptorSignature) crc = ReadU32();
      entry->crc32 = crc;
      entry->compressedSize = ReadU32();
      entry->uncompressedSize = ReadU32();
    }
  } else {
    entry->rawComment.assign(entry->commentLength, '\0');
    if (entry->commentLength != 0) ReadBytes(entry->rawComment.data(), entry->commentLength);
  }
  IndexEntry(entry, keyScratch);
}

// The zip64 extended information record (id 1) replaces, in order, each header field that
// holds its marker. A value is taken only when the record's data still holds all its bytes.
void ZipArchive::TakeZip64Values(ZipEntry* entry, bool central) {
  const unsigned char* extra = extraBuffer.data();
  const std::uint32_t length = entry->extraLength;
  std::uint32_t at = 0;
  while (at + 4 <= length) {
    const std::uint16_t id = LoadU16(extra + at);
    const std::uint32_t dataSize = LoadU16(extra + at + 2);
    if (id != kZip64ExtraId) {
      at += 4 + dataSize;
      continue;
    }
    if (at + 4 + dataSize > length) return;
    const unsigned char* data = extra + at + 4;
    std::uint32_t used = 0;
    auto take = [&](std::uint64_t* value, std::uint32_t width) {
      if (used + width > dataSize) return false;
      *value = width == 8 ? LoadU64(data + used) : LoadU32(data + used);
      used += width;
      return true;
    };
    if (central) {
      if (entry->uncompressedSize == kMarker32 && !take(&entry->uncompressedSize, 8)) return;
      if (entry->compressedSize == kMarker32 && !take(&entry->compressedSize, 8)) return;
      if (entry->localHeaderOffset == kMarker32 && !take(&entry->localHeaderOffset, 8)) return;
      if (entry->diskNumberStart == kMarker16) {
        std::uint64_t disk = 0;
        if (take(&disk, 4)) entry->diskNumberStart = static_cast<std::uint32_t>(disk);
      }
    } else if (entry->uncompressedSize == kMarker32 || entry->compressedSize == kMarker32) {
      if (take(&entry->uncompressedSize, 8)) take(&entry->compressedSize, 8);
    }
    return;
  }
}

// The key an entry is found by: its name as the index decodes it, normalised (the Unicode Path
// record's name, when it counts). The index takes the stored bytes up to a 0 byte and decodes
// names read as neither UTF-8 in the ANSI code page, where `name` has the OEM one. Where that
// makes no difference (no 0 byte; UTF-8, or printable ASCII alone: nearly every name) the
// name's own decoding, `decoded`, serves, or for printable ASCII the bytes themselves; only
// other names are decoded again.
void ZipArchive::EntryKey(const ZipEntry& entry, std::wstring* key, std::wstring* scratch,
                          const std::wstring* decoded) {
  if (entry.unicodePath) {
    NormalizePathInto(entry.name, key);
    return;
  }
  bool ascii = true;
  bool zero = false;
  for (const char c : entry.rawName) {
    if (c == '\0') zero = true;
    if (c < 0x20 || c > 0x7E) ascii = false;
  }
  if (!zero && ascii) {
    if (decoded != nullptr) {
      NormalizePathInto(*decoded, key);
    } else {
      scratch->assign(entry.rawName.begin(), entry.rawName.end());
      NormalizePathInto(*scratch, key);
    }
    return;
  }
  const std::string stored(entry.rawName.c_str());
  const bool utf8 = (entry.flags & kFlagUtf8) != 0 || UnixNameInUtf8(entry, stored);
  if (!zero && utf8 && decoded != nullptr) {
    NormalizePathInto(*decoded, key);
    return;
  }
  *scratch = utf8 ? Utf8ToWide(stored) : AnsiToWide(stored);
  NormalizePathInto(*scratch, key);
}

// FNV-1a over the key's code units.
std::uint32_t ZipArchive::KeyHash(const std::wstring& key) {
  std::uint32_t hash = 2166136261u;
  for (const wchar_t c : key) hash = (hash ^ static_cast<std::uint32_t>(c)) * 16777619u;
  return hash;
}

// Doubles the table (or makes the first, sized to the directory's count of entries) and puts
// the indexed entries back by the hashes they keep.
void ZipArchive::GrowIndex() {
  // The end record's count is only believed as far as the source could hold that many headers.
  const std::uint64_t told = entryIndex.empty() ? std::min<std::uint64_t>(totalEntries, SourceSize() / 46) : 0;
  const std::size_t wanted = 2 * std::max<std::size_t>(indexedCount + 1, static_cast<std::size_t>(told));
  std::size_t size = 16;
  while (size < wanted) size *= 2;
  std::vector<std::uint32_t> table(size, 0);
  for (const std::uint32_t position : entryIndex) {
    if (position == 0) continue;
    std::size_t slot = entries[position - 1]->keyHash & (size - 1);
    while (table[slot] != 0) slot = (slot + 1) & (size - 1);
    table[slot] = position;
  }
  entryIndex.swap(table);
}

// Entries are found by the normalised form of their name; of several with the same key the
// first one read wins.
void ZipArchive::IndexEntry(ZipEntry* entry, const std::wstring& decoded) {
  if (2 * (indexedCount + 1) > entryIndex.size()) GrowIndex();
  std::wstring scratch;  // only names decoded a second time use it
  EntryKey(*entry, &keyBuffer, &scratch, &decoded);
  entry->keyHash = KeyHash(keyBuffer);
  const std::size_t mask = entryIndex.size() - 1;
  std::wstring otherKey, otherScratch;
  std::size_t slot = entry->keyHash & mask;
  for (; entryIndex[slot] != 0; slot = (slot + 1) & mask) {
    const ZipEntry& other = *entries[entryIndex[slot] - 1];
    if (other.keyHash != entry->keyHash) continue;
    EntryKey(other, &otherKey, &otherScratch);
    if (otherKey == keyBuffer) return;
  }
  entryIndex[slot] = static_cast<std::uint32_t>(entries.size());
  ++indexedCount;
}

}  // namespace amzip
