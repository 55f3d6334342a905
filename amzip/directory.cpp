// The directory walk: every record from the central directory's offset (or from offset 0 when
// there is no end record), driven by signatures, into the entry list and the name index.
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

void Require(bool allowed) {
  if (!allowed) Fail(AZ_ERROR_UNKNOWN);
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
  const bool utf8 = (entry->flags & kFlagUtf8) != 0;
  // Decoded once: the name index starts from the same text, kept in a buffer that every entry
  // reuses (so an entry costs two allocations: its raw and its decoded name).
  entry->name = utf8 ? Utf8ToWide(entry->rawName) : OemToWide(entry->rawName);
  keyScratch.assign(entry->name);
  for (wchar_t& c : entry->name) {
    if (c == L'/') c = L'\\';
  }

  if (entry->extraLength > extraBuffer.size()) extraBuffer.assign(entry->extraLength, 0);
  if (entry->extraLength != 0) ReadBytes(extraBuffer.data(), entry->extraLength);
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

// The key an entry is found by: its name as the index decodes it, normalised. The index takes
// the stored bytes up to a 0 byte and decodes names without the UTF-8 flag in the ANSI code
// page, where `name` has the OEM one. Where that makes no difference (no 0 byte; the UTF-8
// flag, or printable ASCII alone: nearly every name) the name's own decoding, `decoded`, serves,
// or for printable ASCII the bytes themselves; only other names are decoded again.
void ZipArchive::EntryKey(const ZipEntry& entry, std::wstring* key, std::wstring* scratch,
                          const std::wstring* decoded) {
  const bool utf8 = (entry.flags & kFlagUtf8) != 0;
  bool ascii = true;
  bool zero = false;
  for (const char c : entry.rawName) {
    if (c == '\0') zero = true;
    if (c < 0x20 || c > 0x7E) ascii = false;
  }
  if (!zero && (utf8 || ascii) && decoded != nullptr) {
    NormalizePathInto(*decoded, key);
  } else if (!zero && ascii) {
    scratch->assign(entry.rawName.begin(), entry.rawName.end());
    NormalizePathInto(*scratch, key);
  } else {
    const std::string stored(entry.rawName.c_str());
    *scratch = utf8 ? Utf8ToWide(stored) : AnsiToWide(stored);
    NormalizePathInto(*scratch, key);
  }
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
