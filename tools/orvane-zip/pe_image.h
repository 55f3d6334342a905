// Windows launchers (PE32 and PE32+ executables) as orvane-zip reads and rewrites them.
// A launcher's archive is its resource "RT_ZIP" 777; pack rebuilds the resource section with
// the resources it is given (the launcher's own, less an earlier archive, an icon or version it
// replaces) and the new archive as its last data, so the loader, FindResourceW and LoadResource
// find it as they find a resource compiled in by windres. One portable code path, whatever the
// tool runs on. Parse checks every field it uses against the file before it is used: a launcher
// that fails is refused before anything is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/orvane-zip/byte_source.h"
#include "tools/orvane-zip/output_file.h"

namespace orvanezip {

// A resource type or name: a string, or an integer identifier.
struct ResourceKey {
  bool named = false;
  std::uint16_t id = 0;
  std::u16string name;
  // The order of a resource directory: names first, by code unit; then identifiers.
  bool operator<(const ResourceKey& other) const;
  bool operator==(const ResourceKey& other) const { return named == other.named && id == other.id && name == other.name; }
};

// Resource types by number.
constexpr std::uint16_t kResourceIcon = 3;
constexpr std::uint16_t kResourceGroupIcon = 14;
constexpr std::uint16_t kResourceVersion = 16;
constexpr std::uint16_t kResourceManifest = 24;

struct ResourceItem {
  ResourceKey type;
  ResourceKey name;
  std::uint16_t language = 0;
  std::uint32_t codePage = 0;
  std::uint64_t offset = 0;  // of its data in the file, unless `content` holds it
  std::uint32_t size = 0;
  bool inMemory = false;     // a resource the tool made: its bytes are `content`
  std::vector<unsigned char> content;
};

class PeImage {
 public:
  // True when the source starts like a PE executable ("MZ", then "PE\0\0" where it points).
  static bool LooksLikePe(const ByteSource& source);

  // Reads and checks the headers, sections, data directories and resource tree of `source`
  // (kept by reference). False with the problem named in `*error`.
  bool Parse(const ByteSource& source, std::wstring* error);

  bool Is64Bit() const { return pe32Plus; }
  // True when the image carries an Authenticode signature (a certificate table).
  bool IsSigned() const { return securitySize != 0; }

  // The resources, in directory order.
  const std::vector<ResourceItem>& Resources() const { return resources; }

  // The file offset and size of the first resource of this type and identifier (any
  // language, as FindResourceW falls back to); false when there is none.
  bool FindResourceData(const ResourceKey& type, std::uint16_t id, std::uint64_t* offset, std::uint64_t* size) const;

  // The offset of the CheckSum field.
  std::uint64_t ChecksumOffset() const { return optionalHeader + 64; }

 private:
  friend class PeResourcePacker;
  struct Section {
    std::uint32_t virtualSize, virtualAddress, rawSize, rawOffset;
  };
  bool RvaToOffset(std::uint32_t rva, std::uint32_t size, std::uint64_t* offset) const;
  bool ReadResourceTree(std::uint32_t rva, std::uint32_t size, std::wstring* error);

  const ByteSource* source = nullptr;
  bool pe32Plus = false;
  std::uint64_t peHeader = 0;
  std::uint64_t optionalHeader = 0;
  std::uint64_t sectionTable = 0;
  std::uint64_t dataDirectories = 0;
  std::uint32_t directoryCount = 0;
  std::uint32_t sectionAlignment = 0;
  std::uint32_t fileAlignment = 0;
  std::uint32_t sizeOfHeaders = 0;
  std::uint32_t sizeOfImage = 0;
  std::uint32_t resourceRva = 0;
  std::uint32_t securitySize = 0;
  std::vector<Section> sections;
  std::vector<ResourceItem> resources;
};

// Writes a copy of a parsed image whose resource section holds `items` (resources of the image
// or made by the tool) and a new "RT_ZIP" 777 (language neutral) whose bytes the caller writes
// between Begin and End. The section is rebuilt in place when it is the image's last (which it
// is once packed), else added as a new last section.
class PeResourcePacker {
 public:
  PeResourcePacker(const PeImage& source, std::vector<ResourceItem> resources, OutputFile* output)
      : image(source), items(std::move(resources)), out(output) {}
  // Writes everything before the archive's bytes. False with a reason when the image has no
  // room for another section header or no resource data directory.
  bool Begin(std::wstring* error);
  // Pads the section and patches the headers for an archive of `archiveLength` bytes (the
  // checksum excepted: see PeChecksum).
  void End(std::uint64_t archiveLength);
  // Where the archive's bytes start in the output, and the most they may be after Begin: the
  // section's size and end are 32-bit fields.
  std::uint64_t ArchiveOffset() const { return sectionStart + archiveStart; }
  std::uint64_t MaxArchiveLength() const {
    return 0xFFFFFFFFull - sectionRva - archiveStart - image.sectionAlignment;
  }

 private:
  const PeImage& image;
  std::vector<ResourceItem> items;
  OutputFile* out;
  std::vector<unsigned char> headers;  // the image's headers, as they will be
  std::uint64_t sectionHeader = 0;     // offset of the resource section's header
  std::uint64_t sectionStart = 0;      // file offset of the section
  std::uint32_t sectionRva = 0;
  std::uint64_t archiveEntry = 0;      // file offset of the archive's data entry
  std::uint64_t archiveStart = 0;      // offset of the archive's bytes in the section
  std::uint32_t oldRawSize = 0;
  bool appended = false;
};

// The PE checksum of the image file in `source` (the CheckSum field at `checksumOffset` counted
// as zero), as the loader checks it for drivers and tools verify it. False when it cannot be read.
bool PeChecksum(const ByteSource& source, std::uint64_t checksumOffset, std::uint32_t* checksum);

}  // namespace orvanezip
