// Reading entries: OpenEntry, GetStoredSpan and Extract, all through the checked readers of
// entry_reader.cpp and the source's positional reads.
#include <zlib.h>

#include "amzip/access_points.h"
#include "amzip/archive.h"
#include "amzip/entry.h"
#include "amzip/entry_reader.h"
#include "amzip/fail.h"
#include "amzip/little_endian.h"
#include "amzip/reader.h"

namespace amzip {

namespace {

constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;
constexpr std::uint32_t kLocalHeaderFixed = 30;
// Deflate makes at most 1032 bytes of one compressed byte (a 258-byte match in two bits).
constexpr std::uint64_t kDeflateMaxRatio = 1032;

}  // namespace

// Refuses what cannot be read, before anyone allocates or promises the entry's size: a method
// other than stored and deflated, a zip64 marker left in a field, and sizes the data cannot
// have. A stored entry's two sizes must agree; deflate cannot make more than kDeflateMaxRatio
// times its input; and the compressed data must fit in the source after the local header.
void ZipArchive::CheckReadable(const ZipEntry& entry) const {
  if (entry.method != kMethodStored && entry.method != kMethodDeflated) Fail(AZ_ERROR_UNKNOWN_COMPRESSION);
  if (entry.localHeaderOffset == 0xFFFFFFFF || entry.uncompressedSize == 0xFFFFFFFF ||
      entry.compressedSize == 0xFFFFFFFF || entry.diskNumberStart == 0xFFFF) {
    Fail(AZ_ERROR_ZIP64_DISABLED);
  }
  if (entry.method == kMethodStored) {
    if (entry.compressedSize < entry.uncompressedSize) Fail(AZ_ERROR_DATA_SHORT);
    if (entry.compressedSize > entry.uncompressedSize) Fail(AZ_ERROR_DATA_LONG);
  } else if (entry.uncompressedSize / kDeflateMaxRatio > entry.compressedSize) {
    Fail(AZ_ERROR_DATA_SHORT);
  }
  // Entries on other parts of a split archive are refused when read (DataOffset).
  const std::uint64_t size = SourceSize();
  if (entry.diskNumberStart == currentVolume->diskNumber &&
      (entry.localHeaderOffset > size || size - entry.localHeaderOffset < kLocalHeaderFixed ||
       entry.compressedSize > size - entry.localHeaderOffset - kLocalHeaderFixed)) {
    Fail(AZ_ERROR_DATA_SHORT);
  }
}

// The data starts after the local header's own name and extra field, which writers may make
// differ from the central header's. An entry that starts on another part of a split archive
// cannot be read from this one.
std::uint64_t ZipArchive::DataOffset(const ZipEntry& entry) const {
  if (entry.diskNumberStart != currentVolume->diskNumber) Fail(AZ_ERROR_READ);
  // The local header is read once; NoteSourceChanges forgets the offset if the file changes.
  const std::uint64_t known = entry.dataOffset.load(std::memory_order_relaxed);
  if (known != 0) return known;
  unsigned char header[kLocalHeaderFixed];
  std::uint32_t got = 0;
  if (!reader->ReadAt(entry.localHeaderOffset, header, sizeof header, &got) || got < 4) Fail(AZ_ERROR_READ);
  const std::uint32_t signature = LoadU32(header);
  if (signature != kLocalHeaderSignature) {
    FailWithDetail(AZ_ERROR_UNKNOWN_SIGNATURE, static_cast<std::int32_t>(signature));
  }
  if (got < sizeof header) Fail(AZ_ERROR_READ);
  // The fixed fields end with the name's length and the extra field's.
  const std::uint64_t offset = entry.localHeaderOffset + kLocalHeaderFixed + LoadU16(header + 26) + LoadU16(header + 28);
  entry.dataOffset.store(offset, std::memory_order_relaxed);
  return offset;
}

std::unique_ptr<EntryReader> ZipArchive::OpenEntry(const std::wstring& name, std::uint64_t offset) {
  const ZipEntry* entry = LoadedEntry(name);
  if (entry == nullptr) return nullptr;
  CheckReadable(*entry);
  if (offset > entry->uncompressedSize) Fail(AZ_ERROR_INVALID_ARGUMENT);
  return NewEntryReader(*reader, *entry, DataOffset(*entry), offset, generation.load(), points.get());
}

std::unique_ptr<EntryReader> ZipArchive::OpenEntry(const std::wstring& name, const EntryInfo& info,
                                                   std::uint64_t offset) {
  if (!IsOpen()) Fail(AZ_ERROR_INVALID_STATE);
  const ZipEntry* entry = EntryOf(name, info);
  if (entry == nullptr) return nullptr;
  CheckReadable(*entry);
  if (offset > entry->uncompressedSize) Fail(AZ_ERROR_INVALID_ARGUMENT);
  return NewEntryReader(*reader, *entry, DataOffset(*entry), offset, generation.load(), points.get());
}

bool ZipArchive::DataSpan(const ZipEntry& entry, StoredSpan* span) {
  CheckReadable(entry);
  const std::uint64_t offset = DataOffset(entry);
  // A local header longer than the central one says may push the data past the source's end;
  // a span must lie wholly within it.
  if (offset > SourceSize() || entry.compressedSize > SourceSize() - offset) return false;
  const unsigned char* memory = reader->Memory();
  span->memory = memory != nullptr ? memory + offset : nullptr;
  span->file = reader->NativeHandle();
  span->offset = reader->NativeOffset() + offset;
  return true;
}

bool ZipArchive::GetStoredSpan(const std::wstring& name, StoredSpan* span) {
  try {
    const ZipEntry* entry = LoadedEntry(name);
    return entry != nullptr && entry->method == kMethodStored && DataSpan(*entry, span);
  } catch (const AZError&) {
    return false;
  }
}

bool ZipArchive::GetStoredSpan(const std::wstring& name, const EntryInfo& info, StoredSpan* span) {
  try {
    if (!IsOpen()) return false;
    const ZipEntry* entry = EntryOf(name, info);
    return entry != nullptr && entry->method == kMethodStored && DataSpan(*entry, span);
  } catch (const AZError&) {
    return false;
  }
}

bool ZipArchive::GetDeflateSpan(const std::wstring& name, const EntryInfo& info, StoredSpan* span,
                                std::uint64_t* length, std::uint32_t* adler32) {
  try {
    if (!IsOpen()) return false;
    const ZipEntry* entry = EntryOf(name, info);
    if (entry == nullptr || entry->method != kMethodDeflated || !entry->streamExact.load() ||
        entry->verifiedIn.load(std::memory_order_acquire) != generation.load() || !DataSpan(*entry, span)) {
      return false;
    }
    *length = entry->compressedSize;
    if (adler32 != nullptr) *adler32 = entry->adler32.load(std::memory_order_relaxed);
    return true;
  } catch (const AZError&) {
    return false;
  }
}

bool ZipArchive::ReadSpan(const StoredSpan& span, void* buffer, std::uint64_t length) const {
  if (reader == nullptr || length > 0xFFFFFFFF) return false;
  const unsigned char* memory = reader->Memory();
  std::uint32_t got = 0;
  // The span's offset counts in the native file; the source's own offsets start at its start.
  const std::uint64_t at = memory != nullptr && span.memory != nullptr ? static_cast<std::uint64_t>(span.memory - memory)
                                                                       : span.offset - reader->NativeOffset();
  return reader->ReadAt(at, buffer, static_cast<std::uint32_t>(length), &got) && got == length;
}

bool ZipArchive::Extract(const std::wstring& name, void* buffer, std::uint32_t* size) {
  const ZipEntry* entry = LoadedEntry(name);
  if (entry == nullptr) return false;
  CheckReadable(*entry);
  if (entry->uncompressedSize > 0xFFFFFFFF) return false;
  if (*size == 0) {
    *size = static_cast<std::uint32_t>(entry->uncompressedSize);
    return true;
  }
  const std::uint64_t dataOffset = DataOffset(*entry);
  if (buffer == nullptr) return false;
  // A buffer too small for the entry: the data would overrun it.
  if (*size < entry->uncompressedSize) FailWithDetail(AZ_ERROR_COMPRESSION, Z_BUF_ERROR);
  const std::unique_ptr<EntryReader> entryReader = NewEntryReader(*reader, *entry, dataOffset, 0, generation.load(), points.get());
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t written = 0;
  while (std::size_t got = entryReader->Read(out + written, static_cast<std::size_t>(entry->uncompressedSize) - written)) {
    written += got;
  }
  return true;
}

}  // namespace amzip
