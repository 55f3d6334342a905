// The records the archive reader keeps per directory entry and per physical source. Tools that
// list an archive (orvane-zip) read ZipEntry through ZipArchive::Entries().
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace amzip {

// Record signatures of the zip format, as little-endian 32-bit values.
constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t kEndRecordSignature = 0x06054b50;
constexpr std::uint32_t kDigitalSignature = 0x05054b50;
constexpr std::uint32_t kZip64EndRecordSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kArchiveExtraDataSignature = 0x08064b50;
constexpr std::uint32_t kDataDescriptorSignature = 0x08074b50;  // also starts a split archive
constexpr std::uint32_t kSpannedMarkerSignature = 0x30304b50;   // "PK00"

// One directory entry, from a central header or (in a walk without end record) a local one.
// Fields a local header does not have stay 0.
struct ZipEntry {
  std::uint16_t versionMadeBy = 0;
  std::uint16_t versionNeeded = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint16_t dosTime = 0;
  std::uint16_t dosDate = 0;
  std::uint16_t internalAttributes = 0;
  std::uint32_t crc32 = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::uint32_t externalAttributes = 0;
  std::uint32_t diskNumberStart = 0;
  std::uint64_t localHeaderOffset = 0;
  std::uint16_t nameLength = 0;
  std::uint16_t commentLength = 0;
  std::string rawName;     // the stored name bytes; c_str() adds the terminating 0
  std::string rawComment;  // the stored comment bytes (central headers only)
  // rawName decoded (UTF-8 with flag bit 11 or when well-formed UTF-8 written on Unix, else
  // OEM), or the UTF-8 name of a matching Unicode Path extra record (unicodePath); "/" as "\".
  std::wstring name;
  bool unicodePath = false;
  std::uint16_t extraLength = 0;
  std::uint32_t keyHash = 0;  // of the name index's key (ZipArchive::IndexEntry)
  // The archive's generation (see ZipArchive::NoteSourceChanges) in which a reader opened at
  // offset 0 delivered the whole entry with a matching CRC-32; 0 when none has.
  mutable std::atomic<std::uint32_t> verifiedIn{0};
  // Set with verifiedIn when the entry is deflated and its stream ended exactly where its
  // compressed data does, so that data alone is the whole deflate stream.
  mutable std::atomic<bool> streamExact{false};
  // Set before verifiedIn for a deflated entry: the Adler-32 of its uncompressed bytes, which
  // ends its deflate stream in the zlib format.
  mutable std::atomic<std::uint32_t> adler32{1};
  // The absolute offset of the entry's data once its local header was read; 0 until then.
  mutable std::atomic<std::uint64_t> dataOffset{0};
};

constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
constexpr std::uint16_t kFlagUtf8 = 0x0800;

// One physical source of the archive.
struct ZipVolume {
  std::uint32_t entryCount = 0;
  std::wstring path;
  std::uint32_t diskNumber = 0;
  std::uint64_t size = 0;
};

}  // namespace amzip
