// Test helper: builds a zip archive in memory with stored entries (or raw data of any method),
// so the same tests run on both builds without outside tools. Names are UTF-8; non-ASCII names get the UTF-8 flag.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint16_t DosDate(int year, int month, int day) {
  return static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}
constexpr std::uint16_t DosTime(int hour, int minute, int second) {
  return static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

class ZipWriter {
 public:
  // Entries are stamped 2024-02-29 23:59:58 local time unless told otherwise; a stamp of 0/0
  // means "no time" to the archive reader.
  void Add(const std::string& name, const std::string& data,
           std::uint16_t dosDate = DosDate(2024, 2, 29), std::uint16_t dosTime = DosTime(23, 59, 58)) {
    AddRaw(name, 0, data, static_cast<std::uint32_t>(data.size()), Crc32(data), dosDate, dosTime);
  }

  // An entry of `method` whose data is `raw` as given and whose directory records
  // `uncompressedSize` (which a damaged archive may get wrong).
  void AddRaw(const std::string& name, std::uint16_t method, const std::string& raw, std::uint32_t uncompressedSize,
              std::uint32_t crc = 0, std::uint16_t dosDate = DosDate(2024, 2, 29),
              std::uint16_t dosTime = DosTime(23, 59, 58)) {
    const bool utf8 = HasNonAscii(name);
    Entry entry{name, static_cast<std::uint32_t>(out_.size()), crc, static_cast<std::uint32_t>(raw.size()),
                uncompressedSize, method, dosDate, dosTime, utf8};
    U32(0x04034b50);
    U16(20);
    U16(utf8 ? 0x0800 : 0);
    U16(method);
    U16(dosTime);
    U16(dosDate);
    U32(crc);
    U32(entry.compressedSize);
    U32(entry.size);
    U16(static_cast<std::uint16_t>(name.size()));
    U16(0);
    out_ += name;
    out_ += raw;
    entries_.push_back(entry);
  }

  // A raw deflate stream of one stored block holding `data` (at most 65,535 bytes): what
  // inflate reads back as `data`, made without a compressor.
  static std::string DeflateStored(const std::string& data) {
    const std::uint16_t length = static_cast<std::uint16_t>(data.size());
    std::string stream(1, '\x01');  // last block, stored
    for (std::uint16_t v : {length, static_cast<std::uint16_t>(~length)}) {
      stream += static_cast<char>(v & 0xFF);
      stream += static_cast<char>(v >> 8);
    }
    return stream + data;
  }

  // The finished archive: central directory and end record (with `comment`) appended to the entries.
  std::string Finish(const std::string& comment = std::string()) {
    std::string archive = out_;
    const std::uint32_t directoryOffset = static_cast<std::uint32_t>(archive.size());
    std::swap(out_, archive);
    for (const Entry& e : entries_) {
      U32(0x02014b50);
      U16(20);
      U16(20);
      U16(e.utf8 ? 0x0800 : 0);
      U16(e.method);
      U16(e.dosTime);
      U16(e.dosDate);
      U32(e.crc);
      U32(e.compressedSize);
      U32(e.size);
      U16(static_cast<std::uint16_t>(e.name.size()));
      U16(0);
      U16(0);
      U16(0);
      U16(0);
      U32(0);
      U32(e.offset);
      out_ += e.name;
    }
    const std::uint32_t directorySize = static_cast<std::uint32_t>(out_.size()) - directoryOffset;
    U32(0x06054b50);
    U16(0);
    U16(0);
    U16(static_cast<std::uint16_t>(entries_.size()));
    U16(static_cast<std::uint16_t>(entries_.size()));
    U32(directorySize);
    U32(directoryOffset);
    U16(static_cast<std::uint16_t>(comment.size()));
    out_ += comment;
    std::string result;
    std::swap(out_, result);
    entries_.clear();
    return result;
  }

  static std::uint32_t Crc32(const std::string& data) {
    static std::uint32_t table[256];
    static bool built = false;
    if (!built) {
      for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
      }
      built = true;
    }
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
  }

 private:
  struct Entry {
    std::string name;
    std::uint32_t offset, crc, compressedSize, size;
    std::uint16_t method, dosDate, dosTime;
    bool utf8;
  };

  static bool HasNonAscii(const std::string& text) {
    for (unsigned char c : text) {
      if (c >= 0x80) return true;
    }
    return false;
  }
  void U16(std::uint16_t v) {
    out_ += static_cast<char>(v & 0xFF);
    out_ += static_cast<char>(v >> 8);
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v & 0xFFFF));
    U16(static_cast<std::uint16_t>(v >> 16));
  }

  std::string out_;
  std::vector<Entry> entries_;
};
