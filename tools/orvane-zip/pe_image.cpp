// PeImage and PeResourcePacker: the PE/COFF headers, the resource directory tree (three levels:
// type, name, language, then a data entry whose address is an RVA) and its rebuilding.
#include "tools/orvane-zip/pe_image.h"

#include <algorithm>
#include <map>

#include "amzip/little_endian.h"

namespace orvanezip {

using amzip::LoadU16;
using amzip::LoadU32;

namespace {

constexpr std::uint16_t kPe32Magic = 0x10b;
constexpr std::uint16_t kPe32PlusMagic = 0x20b;
constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint32_t kSecurityDirectory = 4;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kHighBit = 0x80000000;
// Initialised data, readable: what a linker gives .rsrc.
constexpr std::uint32_t kResourceSectionFlags = 0x40000040;
constexpr std::uint16_t kZipId = 777;

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return alignment == 0 ? value : (value + alignment - 1) / alignment * alignment;
}

const ResourceKey& ZipType() {
  static const ResourceKey key{true, 0, u"RT_ZIP"};
  return key;
}

}  // namespace

bool ResourceKey::operator<(const ResourceKey& other) const {
  if (named != other.named) return named;
  return named ? name < other.name : id < other.id;
}

bool PeImage::LooksLikePe(const std::vector<unsigned char>& bytes) {
  if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z') return false;
  const std::uint64_t pe = LoadU32(bytes.data() + 0x3C);
  return pe + 4 <= bytes.size() && std::equal(bytes.begin() + pe, bytes.begin() + pe + 4, "PE\0\0");
}

bool PeImage::RvaToOffset(std::uint32_t rva, std::uint32_t size, std::uint64_t* offset) const {
  for (const Section& section : sections) {
    const std::uint64_t start = section.virtualAddress;
    if (rva >= start && static_cast<std::uint64_t>(rva) + size <= start + std::max(section.virtualSize, section.rawSize) &&
        static_cast<std::uint64_t>(rva) - start + size <= section.rawSize) {
      *offset = section.rawOffset + (rva - start);
      return *offset + size <= bytes->size();
    }
  }
  return false;
}

bool PeImage::Parse(const std::vector<unsigned char>& image, std::wstring* error) {
  bytes = &image;
  const unsigned char* b = image.data();
  *error = L"the launcher is not a well-formed Windows executable";
  if (!LooksLikePe(image)) return false;
  peHeader = LoadU32(b + 0x3C);
  if (peHeader + 24 > image.size()) return false;
  const std::uint32_t sectionCount = LoadU16(b + peHeader + 6);
  const std::uint32_t optionalSize = LoadU16(b + peHeader + 20);
  optionalHeader = peHeader + 24;
  sectionTable = optionalHeader + optionalSize;
  if (sectionTable + std::uint64_t{sectionCount} * kSectionHeaderSize > image.size() || optionalSize < 96) return false;
  const std::uint16_t magic = LoadU16(b + optionalHeader);
  if (magic != kPe32Magic && magic != kPe32PlusMagic) return false;
  const std::uint64_t directoriesAt = optionalHeader + (magic == kPe32Magic ? 96 : 112);
  directoryCount = LoadU32(b + directoriesAt - 4);
  dataDirectories = directoriesAt;
  if (dataDirectories + std::uint64_t{directoryCount} * 8 > sectionTable) return false;
  sectionAlignment = LoadU32(b + optionalHeader + 32);
  fileAlignment = LoadU32(b + optionalHeader + 36);
  sizeOfHeaders = LoadU32(b + optionalHeader + 60);
  if (fileAlignment == 0 || sectionAlignment == 0) return false;
  for (std::uint32_t i = 0; i < sectionCount; ++i) {
    const unsigned char* s = b + sectionTable + i * kSectionHeaderSize;
    sections.push_back({LoadU32(s + 8), LoadU32(s + 12), LoadU32(s + 16), LoadU32(s + 20)});
  }
  if (directoryCount > kSecurityDirectory) securitySize = LoadU32(b + dataDirectories + 8 * kSecurityDirectory + 4);
  if (directoryCount > kResourceDirectory) {
    resourceRva = LoadU32(b + dataDirectories + 8 * kResourceDirectory);
    if (resourceRva != 0 && !ReadResourceTree(resourceRva, error)) return false;
  }
  error->clear();
  return true;
}

bool PeImage::ReadResourceTree(std::uint32_t rootRva, std::wstring* error) {
  *error = L"the launcher's resources cannot be read";
  const unsigned char* b = bytes->data();
  // A directory at `rva`: its entries as (key, offset from the root with the subdirectory bit).
  struct Entry {
    ResourceKey key;
    std::uint32_t target;
  };
  auto readDirectory = [&](std::uint32_t offsetFromRoot, std::vector<Entry>* entries) {
    std::uint64_t at;
    if (!RvaToOffset(rootRva + offsetFromRoot, 16, &at)) return false;
    const std::uint32_t count = std::uint32_t{LoadU16(b + at + 12)} + LoadU16(b + at + 14);
    if (!RvaToOffset(rootRva + offsetFromRoot, 16 + count * 8, &at)) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
      const unsigned char* e = b + at + 16 + i * 8;
      Entry entry;
      const std::uint32_t nameField = LoadU32(e);
      entry.target = LoadU32(e + 4);
      if (nameField & kHighBit) {
        std::uint64_t nameAt;
        if (!RvaToOffset(rootRva + (nameField & ~kHighBit), 2, &nameAt)) return false;
        const std::uint32_t length = LoadU16(b + nameAt);
        if (!RvaToOffset(rootRva + (nameField & ~kHighBit), 2 + 2 * length, &nameAt)) return false;
        entry.key.named = true;
        for (std::uint32_t c = 0; c < length; ++c) entry.key.name += static_cast<char16_t>(LoadU16(b + nameAt + 2 + 2 * c));
      } else {
        entry.key.id = static_cast<std::uint16_t>(nameField);
      }
      entries->push_back(std::move(entry));
    }
    return true;
  };
  std::vector<Entry> types;
  if (!readDirectory(0, &types)) return false;
  for (const Entry& type : types) {
    if (!(type.target & kHighBit)) return false;
    std::vector<Entry> names;
    if (!readDirectory(type.target & ~kHighBit, &names)) return false;
    for (const Entry& name : names) {
      if (!(name.target & kHighBit)) return false;
      std::vector<Entry> languages;
      if (!readDirectory(name.target & ~kHighBit, &languages)) return false;
      for (const Entry& language : languages) {
        std::uint64_t dataEntry;
        if ((language.target & kHighBit) || !RvaToOffset(rootRva + language.target, 16, &dataEntry)) return false;
        ResourceItem item;
        item.type = type.key;
        item.name = name.key;
        item.language = language.key.id;
        item.size = LoadU32(b + dataEntry + 4);
        item.codePage = LoadU32(b + dataEntry + 8);
        if (!RvaToOffset(LoadU32(b + dataEntry), item.size, &item.offset)) return false;
        resources.push_back(std::move(item));
      }
    }
  }
  error->clear();
  return true;
}

bool PeImage::FindResourceData(const ResourceKey& type, std::uint16_t id, std::uint64_t* offset, std::uint64_t* size) const {
  for (const ResourceItem& item : resources) {
    if (item.type == type && !item.name.named && item.name.id == id) {
      *offset = item.offset;
      *size = item.size;
      return true;
    }
  }
  return false;
}

bool PeResourcePacker::Begin(std::wstring* error) {
  const std::vector<unsigned char>& bytes = *image.bytes;
  const std::vector<PeImage::Section>& sections = image.sections;
  if (image.directoryCount <= kResourceDirectory) {
    *error = L"the launcher has no resource directory entry";
    return false;
  }
  // The section that holds the resources is rebuilt in place when nothing follows it, in
  // memory or in the file; otherwise a new section follows all others.
  std::size_t last = sections.size();
  std::uint64_t virtualEnd = 0, rawEnd = 0;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const PeImage::Section& s = sections[i];
    virtualEnd = std::max<std::uint64_t>(virtualEnd, s.virtualAddress + std::max(s.virtualSize, s.rawSize));
    if (s.rawSize != 0) rawEnd = std::max<std::uint64_t>(rawEnd, std::uint64_t{s.rawOffset} + s.rawSize);
    if (image.resourceRva >= s.virtualAddress && image.resourceRva < s.virtualAddress + std::max(s.virtualSize, s.rawSize)) last = i;
  }
  std::size_t index = last;
  if (last != sections.size()) {
    const PeImage::Section& s = sections[last];
    const bool lastInMemory = s.virtualAddress + std::max<std::uint64_t>(s.virtualSize, s.rawSize) == virtualEnd;
    const bool lastInFile = s.rawSize != 0 && std::uint64_t{s.rawOffset} + s.rawSize == rawEnd;
    if (!lastInMemory || !lastInFile) index = sections.size();
  }
  appended = index == sections.size();
  headers.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(image.sizeOfHeaders, bytes.size())));
  sectionHeader = image.sectionTable + index * kSectionHeaderSize;
  if (appended) {
    std::uint64_t firstRaw = image.sizeOfHeaders;
    for (const PeImage::Section& s : sections) {
      if (s.rawSize != 0) firstRaw = std::min<std::uint64_t>(firstRaw, s.rawOffset);
    }
    if (sectionHeader + kSectionHeaderSize > firstRaw || sectionHeader + kSectionHeaderSize > headers.size()) {
      *error = L"the launcher's headers have no room for another section";
      return false;
    }
    sectionRva = static_cast<std::uint32_t>(AlignUp(virtualEnd, image.sectionAlignment));
    sectionStart = AlignUp(bytes.size(), image.fileAlignment);
    std::fill(headers.begin() + static_cast<std::ptrdiff_t>(sectionHeader),
              headers.begin() + static_cast<std::ptrdiff_t>(sectionHeader + kSectionHeaderSize), 0);
    std::copy_n(".rsrc", 5, headers.begin() + static_cast<std::ptrdiff_t>(sectionHeader));
    // NumberOfSections.
    headers[image.peHeader + 6] = static_cast<unsigned char>(sections.size() + 1);
    headers[image.peHeader + 7] = static_cast<unsigned char>((sections.size() + 1) >> 8);
  } else {
    sectionRva = sections[index].virtualAddress;
    sectionStart = sections[index].rawOffset;
    oldRawSize = sections[index].rawSize;
  }
  // The launcher up to the section (all of it, when a section is added), then the section.
  out->Write(bytes.data(), static_cast<std::size_t>(std::min<std::uint64_t>(sectionStart, bytes.size())));
  out->PadTo(image.fileAlignment);

  // The tree: the launcher's resources without an earlier archive, and the new archive.
  std::map<ResourceKey, std::map<ResourceKey, std::map<std::uint16_t, const ResourceItem*>>> tree;
  static const ResourceItem archive{ZipType(), ResourceKey{false, kZipId, u""}, 0, 0, 0, 0};
  for (const ResourceItem& item : image.resources) {
    if (!(item.type == ZipType() && !item.name.named && item.name.id == kZipId)) tree[item.type][item.name][item.language] = &item;
  }
  tree[archive.type][archive.name][archive.language] = &archive;

  // Layout: directories (root, types, names), data entries, strings, then the data, each piece
  // aligned to 8, the archive last.
  std::uint64_t directoriesSize = 16 + 8 * tree.size();
  std::uint64_t dataEntries = 0;
  std::uint64_t stringsSize = 0;
  auto countString = [&](const ResourceKey& key) {
    if (key.named) stringsSize += 2 + 2 * key.name.size();
  };
  for (const auto& [type, names] : tree) {
    countString(type);
    directoriesSize += 16 + 8 * names.size();
    for (const auto& [name, languages] : names) {
      countString(name);
      directoriesSize += 16 + 8 * languages.size();
      dataEntries += languages.size();
    }
  }
  const std::uint64_t dataEntriesAt = directoriesSize;
  const std::uint64_t stringsAt = dataEntriesAt + 16 * dataEntries;
  std::uint64_t dataAt = AlignUp(stringsAt + stringsSize, 8);

  std::vector<unsigned char> section;
  std::vector<unsigned char> entries, strings, data;
  std::uint64_t nextDirectory = 16 + 8 * tree.size();
  auto directoryHeader = [&](std::vector<unsigned char>& to, std::size_t namedCount, std::size_t idCount) {
    PutU32(to, 0);  // characteristics
    PutU32(to, 0);  // time stamp: none, so the same input gives the same bytes
    PutU32(to, 0);  // version
    PutU16(to, static_cast<std::uint32_t>(namedCount));
    PutU16(to, static_cast<std::uint32_t>(idCount));
  };
  auto keyField = [&](const ResourceKey& key) -> std::uint32_t {
    if (!key.named) return key.id;
    const std::uint32_t at = static_cast<std::uint32_t>(stringsAt + strings.size());
    PutU16(strings, static_cast<std::uint32_t>(key.name.size()));
    for (char16_t c : key.name) PutU16(strings, c);
    return at | kHighBit;
  };
  auto namedCount = [](const auto& map) {
    return static_cast<std::size_t>(std::count_if(map.begin(), map.end(), [](const auto& pair) { return pair.first.named; }));
  };
  // Directories are laid out breadth first: the root's entries point at the type
  // directories, which follow it, then the name directories.
  std::vector<unsigned char> root, typeDirectories, nameDirectories;
  directoryHeader(root, namedCount(tree), tree.size() - namedCount(tree));
  std::uint64_t nameDirectoryAt = 16 + 8 * tree.size();
  for (const auto& [type, names] : tree) nameDirectoryAt += 16 + 8 * names.size();
  for (const auto& [type, names] : tree) {
    PutU32(root, keyField(type));
    PutU32(root, static_cast<std::uint32_t>(nextDirectory) | kHighBit);
    nextDirectory += 16 + 8 * names.size();
    directoryHeader(typeDirectories, namedCount(names), names.size() - namedCount(names));
    for (const auto& [name, languages] : names) {
      PutU32(typeDirectories, keyField(name));
      PutU32(typeDirectories, static_cast<std::uint32_t>(nameDirectoryAt) | kHighBit);
      nameDirectoryAt += 16 + 8 * languages.size();
      directoryHeader(nameDirectories, 0, languages.size());
      for (const auto& [language, item] : languages) {
        PutU32(nameDirectories, language);
        PutU32(nameDirectories, static_cast<std::uint32_t>(dataEntriesAt + entries.size()));
        if (item == &archive) {
          archiveEntry = sectionStart + dataEntriesAt + entries.size();
          PutU32(entries, 0);
          PutU32(entries, 0);  // both written by End, once the archive's place and length are known
        } else {
          PutU32(entries, static_cast<std::uint32_t>(sectionRva + dataAt + data.size()));
          PutU32(entries, item->size);
          data.insert(data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(item->offset),
                      bytes.begin() + static_cast<std::ptrdiff_t>(item->offset + item->size));
          data.resize(AlignUp(data.size(), 8));
        }
        PutU32(entries, item->codePage);
        PutU32(entries, 0);
      }
    }
  }
  section.insert(section.end(), root.begin(), root.end());
  section.insert(section.end(), typeDirectories.begin(), typeDirectories.end());
  section.insert(section.end(), nameDirectories.begin(), nameDirectories.end());
  section.insert(section.end(), entries.begin(), entries.end());
  section.insert(section.end(), strings.begin(), strings.end());
  section.resize(static_cast<std::size_t>(dataAt));
  section.insert(section.end(), data.begin(), data.end());
  archiveStart = section.size();
  // The archive's data entry, now that its place is known.
  SetU32(&section[static_cast<std::size_t>(archiveEntry - sectionStart)], static_cast<std::uint32_t>(sectionRva + archiveStart));
  out->Write(section);
  return true;
}

void PeResourcePacker::End(std::uint64_t archiveLength) {
  const std::uint64_t contentSize = archiveStart + archiveLength;
  out->PadTo(image.fileAlignment);
  const std::uint32_t rawSize = static_cast<std::uint32_t>(out->Position() - sectionStart);
  unsigned char size[4];
  SetU32(size, static_cast<std::uint32_t>(archiveLength));
  out->Patch(archiveEntry + 4, size, 4);

  unsigned char* section = &headers[sectionHeader];
  SetU32(section + 8, static_cast<std::uint32_t>(contentSize));
  SetU32(section + 12, sectionRva);
  SetU32(section + 16, rawSize);
  SetU32(section + 20, static_cast<std::uint32_t>(sectionStart));
  SetU32(section + 36, kResourceSectionFlags);
  const std::uint64_t optional = image.optionalHeader;
  // SizeOfInitializedData, SizeOfImage, the resource directory.
  SetU32(&headers[optional + 8], LoadU32(&headers[optional + 8]) - oldRawSize + rawSize);
  std::uint64_t imageEnd = sectionRva + contentSize;
  for (const PeImage::Section& s : image.sections) imageEnd = std::max<std::uint64_t>(imageEnd, s.virtualAddress + std::max(s.virtualSize, s.rawSize));
  if (!appended) imageEnd = sectionRva + contentSize;
  SetU32(&headers[optional + 56], static_cast<std::uint32_t>(AlignUp(imageEnd, image.sectionAlignment)));
  SetU32(&headers[image.dataDirectories + 8 * kResourceDirectory], sectionRva);
  SetU32(&headers[image.dataDirectories + 8 * kResourceDirectory + 4], static_cast<std::uint32_t>(contentSize));
  // A COFF symbol table (of an unstripped launcher) that followed the rebuilt section is gone.
  const std::uint32_t symbols = LoadU32(&headers[image.peHeader + 12]);
  if (!appended && symbols >= sectionStart) {
    SetU32(&headers[image.peHeader + 12], 0);
    SetU32(&headers[image.peHeader + 16], 0);
  }
  out->Patch(0, headers.data(), headers.size());
}

std::uint32_t PeChecksum(const std::vector<unsigned char>& bytes, std::uint64_t checksumOffset) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    if (i == checksumOffset || i == checksumOffset + 2) continue;
    std::uint32_t word = bytes[i];
    if (i + 1 < bytes.size()) word |= std::uint32_t{bytes[i + 1]} << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + bytes.size());
}

}  // namespace orvanezip
