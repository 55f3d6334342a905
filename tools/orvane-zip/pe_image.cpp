// PeImage and PeResourcePacker: the PE/COFF headers, the resource directory tree (three levels:
// type, name, language, then a data entry whose address is an RVA) and its rebuilding.
#include "tools/orvane-zip/pe_image.h"

#include <algorithm>
#include <map>
#include <set>

#include "amzip/little_endian.h"
#include "text/text.h"

namespace orvanezip {

using amzip::LoadU16;
using amzip::LoadU32;

namespace {

constexpr std::uint16_t kPe32Magic = 0x10b;
constexpr std::uint16_t kPe32PlusMagic = 0x20b;
constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint32_t kSecurityDirectory = 4;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kMaxSections = 96;  // the loader's own limit
constexpr std::uint32_t kHighBit = 0x80000000;
// Initialised data, readable: what a linker gives .rsrc.
constexpr std::uint32_t kResourceSectionFlags = 0x40000040;
constexpr std::uint16_t kZipId = 777;
// A launcher has a handful of resources; a tree of more entries than this is not one of ours,
// and a crafted one could otherwise name the same data millions of times.
constexpr std::uint32_t kMaxResourceEntries = 4096;
constexpr std::size_t kCopyBlock = 1u << 20;

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return alignment == 0 ? value : (value + alignment - 1) / alignment * alignment;
}

bool IsPowerOfTwo(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

const ResourceKey& ZipType() {
  static const ResourceKey key{true, 0, u"RT_ZIP"};
  return key;
}

bool Refuse(std::wstring* error, const std::string& what) {
  *error = Utf8ToWide(what);
  return false;
}

// Copies [from, to) of the source to the output in blocks.
bool CopyRange(const ByteSource& source, std::uint64_t from, std::uint64_t to, OutputFile* out) {
  std::vector<unsigned char> block;
  while (from < to) {
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(to - from, kCopyBlock));
    if (!source.ReadVector(from, piece, &block)) return false;
    out->Write(block);
    from += piece;
  }
  return true;
}

}  // namespace

bool ResourceKey::operator<(const ResourceKey& other) const {
  if (named != other.named) return named;
  return named ? name < other.name : id < other.id;
}

bool PeImage::LooksLikePe(const ByteSource& source) {
  unsigned char dos[64], signature[4];
  if (!source.Read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
  return source.Read(LoadU32(dos + 0x3C), signature, 4) && std::equal(signature, signature + 4, "PE\0\0");
}

bool PeImage::RvaToOffset(std::uint32_t rva, std::uint32_t size, std::uint64_t* offset) const {
  for (const Section& section : sections) {
    if (rva >= section.virtualAddress && std::uint64_t{rva} - section.virtualAddress + size <= section.rawSize) {
      *offset = std::uint64_t{section.rawOffset} + (rva - section.virtualAddress);
      return true;  // Parse checked that every section's raw data lies inside the file
    }
  }
  return false;
}

bool PeImage::Parse(const ByteSource& input, std::wstring* error) {
  source = &input;
  sections.clear();
  resources.clear();
  const std::uint64_t fileSize = input.Size();
  if (!LooksLikePe(input)) return Refuse(error, "not a Windows executable (no PE signature)");
  unsigned char dos[64], fileHeader[20];
  input.Read(0, dos, sizeof dos);
  peHeader = LoadU32(dos + 0x3C);
  if (!input.Read(peHeader + 4, fileHeader, sizeof fileHeader)) return Refuse(error, "the PE file header ends past the end of the file");
  const std::uint32_t sectionCount = LoadU16(fileHeader + 2);
  const std::uint32_t optionalSize = LoadU16(fileHeader + 16);
  if (sectionCount == 0 || sectionCount > kMaxSections) {
    return Refuse(error, FormatText("NumberOfSections %u is not from 1 to %u", sectionCount, kMaxSections));
  }
  optionalHeader = peHeader + 24;
  std::vector<unsigned char> optional;
  if (optionalSize < 2 || !input.ReadVector(optionalHeader, optionalSize, &optional)) {
    return Refuse(error, "the optional header ends past the end of the file");
  }
  const std::uint16_t magic = LoadU16(optional.data());
  if (magic != kPe32Magic && magic != kPe32PlusMagic) return Refuse(error, "the optional header is neither PE32 nor PE32+");
  pe32Plus = magic == kPe32PlusMagic;
  const std::uint32_t fixedSize = pe32Plus ? 112 : 96;
  if (optionalSize < fixedSize) {
    return Refuse(error, FormatText("SizeOfOptionalHeader %u is too small for a %s optional header (%u bytes)", optionalSize,
                                    pe32Plus ? "PE32+" : "PE32", fixedSize));
  }
  const unsigned char* o = optional.data();
  sectionAlignment = LoadU32(o + 32);
  fileAlignment = LoadU32(o + 36);
  sizeOfImage = LoadU32(o + 56);
  sizeOfHeaders = LoadU32(o + 60);
  directoryCount = LoadU32(o + fixedSize - 4);
  dataDirectories = optionalHeader + fixedSize;
  if (directoryCount > 16 || fixedSize + 8 * directoryCount > optionalSize) {
    return Refuse(error, FormatText("NumberOfRvaAndSizes %u does not fit the optional header", directoryCount));
  }
  if (!IsPowerOfTwo(fileAlignment) || fileAlignment < 512 || fileAlignment > 65536) {
    return Refuse(error, FormatText("FileAlignment %u is not a power of two from 512 to 65536", fileAlignment));
  }
  if (!IsPowerOfTwo(sectionAlignment) || sectionAlignment < fileAlignment) {
    return Refuse(error, FormatText("SectionAlignment %u is not a power of two of at least FileAlignment", sectionAlignment));
  }
  sectionTable = optionalHeader + optionalSize;
  const std::uint64_t tableEnd = sectionTable + std::uint64_t{sectionCount} * kSectionHeaderSize;
  if (sizeOfHeaders < tableEnd) {
    return Refuse(error, FormatText("SizeOfHeaders %u does not cover the section table, which ends at %llu", sizeOfHeaders,
                                    static_cast<unsigned long long>(tableEnd)));
  }
  if (sizeOfHeaders > fileSize) return Refuse(error, FormatText("SizeOfHeaders %u is larger than the file", sizeOfHeaders));
  std::vector<unsigned char> table;
  input.ReadVector(sectionTable, sectionCount * kSectionHeaderSize, &table);
  // As the loader maps them: each section at a multiple of SectionAlignment, after the end of the
  // one before (in memory and in the file), so none overlaps another.
  std::uint64_t virtualEnd = 0, rawEnd = 0;
  for (std::uint32_t i = 0; i < sectionCount; ++i) {
    const unsigned char* s = table.data() + i * kSectionHeaderSize;
    const Section section{LoadU32(s + 8), LoadU32(s + 12), LoadU32(s + 16), LoadU32(s + 20)};
    if (section.rawSize != 0 && (section.rawOffset < sizeOfHeaders || std::uint64_t{section.rawOffset} + section.rawSize > fileSize)) {
      return Refuse(error, FormatText("section %u's data (%u bytes at %u) lies outside the file or in its headers", i + 1,
                                      section.rawSize, section.rawOffset));
    }
    if (std::uint64_t{section.virtualAddress} + std::max(section.virtualSize, section.rawSize) > sizeOfImage) {
      return Refuse(error, FormatText("section %u lies outside SizeOfImage", i + 1));
    }
    if (section.virtualAddress % sectionAlignment != 0 || section.virtualAddress < virtualEnd ||
        (section.rawSize != 0 && section.rawOffset < rawEnd)) {
      return Refuse(error, FormatText("section %u overlaps the one before it or is not in ascending order at its alignment",
                                      i + 1));
    }
    virtualEnd = AlignUp(std::uint64_t{section.virtualAddress} + std::max(section.virtualSize, section.rawSize), sectionAlignment);
    if (section.rawSize != 0) rawEnd = std::uint64_t{section.rawOffset} + section.rawSize;
    sections.push_back(section);
  }
  for (std::uint32_t i = 0; i < directoryCount; ++i) {
    const std::uint32_t rva = LoadU32(o + fixedSize + 8 * i);
    const std::uint32_t size = LoadU32(o + fixedSize + 8 * i + 4);
    // The certificate table's address is a file offset; every other is an RVA in the image.
    const std::uint64_t limit = i == kSecurityDirectory ? fileSize : sizeOfImage;
    if ((rva != 0 || size != 0) && std::uint64_t{rva} + size > limit) {
      return Refuse(error, FormatText("data directory %u (%u bytes at %u) lies outside the %s", i, size, rva,
                                      i == kSecurityDirectory ? "file" : "image"));
    }
    if (i == kSecurityDirectory) securitySize = size;
    if (i == kResourceDirectory) resourceRva = rva;
  }
  if (directoryCount <= kResourceDirectory) resourceRva = 0;
  if (resourceRva != 0 && !ReadResourceTree(resourceRva, LoadU32(o + fixedSize + 8 * kResourceDirectory + 4), error)) return false;
  error->clear();
  return true;
}

bool PeImage::ReadResourceTree(std::uint32_t rootRva, std::uint32_t rootSize, std::wstring* error) {
  struct Entry {
    ResourceKey key;
    std::uint32_t target;
  };
  std::uint32_t entriesLeft = kMaxResourceEntries;
  std::set<std::uint32_t> visited;
  std::uint64_t totalData = 0;
  // The entries of the directory at `at` (from the root); each directory is read once.
  auto readDirectory = [&](std::uint32_t at, std::vector<Entry>* entries) {
    std::uint64_t offset;
    unsigned char header[16];
    if (!visited.insert(at).second) return Refuse(error, FormatText("the resource directory at %u is reached twice", at));
    if (at > rootSize || !RvaToOffset(rootRva + at, 16, &offset) || !source->Read(offset, header, 16)) {
      return Refuse(error, FormatText("the resource directory at %u lies outside the resource section", at));
    }
    const std::uint32_t count = std::uint32_t{LoadU16(header + 12)} + LoadU16(header + 14);
    if (count > entriesLeft) return Refuse(error, FormatText("the resource tree has more than %u entries", kMaxResourceEntries));
    entriesLeft -= count;
    std::vector<unsigned char> list;
    if (!RvaToOffset(rootRva + at, 16 + count * 8, &offset) || !source->ReadVector(offset + 16, count * 8, &list)) {
      return Refuse(error, FormatText("the resource directory at %u lies outside the resource section", at));
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      const unsigned char* e = list.data() + i * 8;
      Entry entry;
      const std::uint32_t nameField = LoadU32(e);
      entry.target = LoadU32(e + 4);
      if (nameField & kHighBit) {
        const std::uint32_t nameAt = nameField & ~kHighBit;
        unsigned char lengthBytes[2];
        std::vector<unsigned char> units;
        if (!RvaToOffset(rootRva + nameAt, 2, &offset) || !source->Read(offset, lengthBytes, 2) ||
            !RvaToOffset(rootRva + nameAt, 2 + 2 * std::uint32_t{LoadU16(lengthBytes)}, &offset) ||
            !source->ReadVector(offset + 2, 2 * std::size_t{LoadU16(lengthBytes)}, &units)) {
          return Refuse(error, "a resource name lies outside the resource section");
        }
        entry.key.named = true;
        for (std::size_t c = 0; c < units.size(); c += 2) entry.key.name += static_cast<char16_t>(LoadU16(&units[c]));
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
    std::vector<Entry> names;
    if (!(type.target & kHighBit)) return Refuse(error, "a resource type entry is not a directory");
    if (!readDirectory(type.target & ~kHighBit, &names)) return false;
    for (const Entry& name : names) {
      std::vector<Entry> languages;
      if (!(name.target & kHighBit)) return Refuse(error, "a resource name entry is not a directory");
      if (!readDirectory(name.target & ~kHighBit, &languages)) return false;
      for (const Entry& language : languages) {
        std::uint64_t dataEntry;
        unsigned char data[16];
        if (language.target & kHighBit) return Refuse(error, "the resource tree is deeper than three levels");
        if (!visited.insert(language.target).second) return Refuse(error, "a resource data entry is reached twice");
        if (!RvaToOffset(rootRva + language.target, 16, &dataEntry) || !source->Read(dataEntry, data, 16)) {
          return Refuse(error, "a resource data entry lies outside the resource section");
        }
        ResourceItem item;
        item.type = type.key;
        item.name = name.key;
        item.language = language.key.id;
        item.size = LoadU32(data + 4);
        item.codePage = LoadU32(data + 8);
        totalData += item.size;
        if (!RvaToOffset(LoadU32(data), item.size, &item.offset)) return Refuse(error, "a resource's data lies outside the file's sections");
        if (totalData > source->Size()) return Refuse(error, "the resources' data add up to more than the file");
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
  const ByteSource& bytes = *image.source;
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
    virtualEnd = std::max<std::uint64_t>(virtualEnd, std::uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize));
    if (s.rawSize != 0) rawEnd = std::max<std::uint64_t>(rawEnd, std::uint64_t{s.rawOffset} + s.rawSize);
    if (image.resourceRva != 0 && image.resourceRva >= s.virtualAddress &&
        image.resourceRva < std::uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize)) {
      last = i;
    }
  }
  std::size_t index = last;
  if (last != sections.size()) {
    const PeImage::Section& s = sections[last];
    const bool lastInMemory = s.virtualAddress + std::max<std::uint64_t>(s.virtualSize, s.rawSize) == virtualEnd;
    const bool lastInFile = s.rawSize != 0 && std::uint64_t{s.rawOffset} + s.rawSize == rawEnd;
    if (!lastInMemory || !lastInFile) index = sections.size();
  }
  appended = index == sections.size();
  if (!bytes.ReadVector(0, image.sizeOfHeaders, &headers)) {
    *error = L"the launcher cannot be read";
    return false;
  }
  sectionHeader = image.sectionTable + index * kSectionHeaderSize;
  if (appended) {
    std::uint64_t firstRaw = image.sizeOfHeaders;
    for (const PeImage::Section& s : sections) {
      if (s.rawSize != 0) firstRaw = std::min<std::uint64_t>(firstRaw, s.rawOffset);
    }
    if (sectionHeader + kSectionHeaderSize > firstRaw) {
      *error = L"the launcher's headers have no room for another section";
      return false;
    }
    sectionRva = static_cast<std::uint32_t>(AlignUp(virtualEnd, image.sectionAlignment));
    sectionStart = AlignUp(bytes.Size(), image.fileAlignment);
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
  if (!CopyRange(bytes, 0, std::min<std::uint64_t>(sectionStart, bytes.Size()), out)) {
    *error = L"the launcher cannot be read";
    return false;
  }
  out->PadTo(image.fileAlignment);

  // The tree: the resources given, and the new archive.
  std::map<ResourceKey, std::map<ResourceKey, std::map<std::uint16_t, const ResourceItem*>>> tree;
  static const ResourceItem archive{ZipType(), ResourceKey{false, kZipId, u""}, 0, 0, 0, 0, false, {}};
  for (const ResourceItem& item : items) tree[item.type][item.name][item.language] = &item;
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
  std::vector<unsigned char> entries, strings, data, itemBytes;
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
          if (!item->inMemory && !bytes.ReadVector(item->offset, item->size, &itemBytes)) {
            *error = L"the launcher's resources cannot be read";
            return false;
          }
          const std::vector<unsigned char>& content = item->inMemory ? item->content : itemBytes;
          PutU32(entries, static_cast<std::uint32_t>(sectionRva + dataAt + data.size()));
          PutU32(entries, static_cast<std::uint32_t>(content.size()));
          data.insert(data.end(), content.begin(), content.end());
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

bool PeChecksum(const ByteSource& source, std::uint64_t checksumOffset, std::uint32_t* checksum) {
  std::uint64_t sum = 0;
  std::vector<unsigned char> block;
  const std::uint64_t size = source.Size();
  for (std::uint64_t at = 0; at < size; at += kCopyBlock) {  // an even block: words stay whole
    if (!source.ReadVector(at, static_cast<std::size_t>(std::min<std::uint64_t>(kCopyBlock, size - at)), &block)) return false;
    for (std::size_t i = 0; i < block.size(); i += 2) {
      if (at + i == checksumOffset || at + i == checksumOffset + 2) continue;
      std::uint32_t word = block[i];
      if (i + 1 < block.size()) word |= std::uint32_t{block[i + 1]} << 8;
      sum += word;
      sum = (sum & 0xFFFF) + (sum >> 16);
    }
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  *checksum = static_cast<std::uint32_t>(sum + size);
  return true;
}

}  // namespace orvanezip
