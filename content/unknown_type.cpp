#include "content/unknown_type.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace {

using Bytes = std::basic_string_view<unsigned char>;

constexpr std::size_t kResourceHeaderBytes = 1445;

bool IsWhitespaceByte(unsigned char b) { return b == 0x09 || b == 0x0A || b == 0x0C || b == 0x0D || b == 0x20; }

bool IsBinaryDataByte(unsigned char b) {
  return b <= 0x08 || b == 0x0B || (b >= 0x0E && b <= 0x1A) || (b >= 0x1C && b <= 0x1F);
}

// One row of a signature table. In `mask`, 0xFF marks a byte that must be equal and 0x00 one
// that may be anything; a `caseless` row compares its letters in either case (the standard's
// mask 0xDF). A `tagEnd` row also needs a space or ">" right after the pattern; a
// `skipsWhitespace` row may follow leading whitespace.
struct Signature {
  std::string_view pattern;
  std::string_view mask;
  const char* type;
  bool skipsWhitespace = false;
  bool tagEnd = false;
  bool caseless = false;
};

unsigned char UpperAscii(unsigned char b) { return b >= 'a' && b <= 'z' ? static_cast<unsigned char>(b - 0x20) : b; }

bool Matches(Bytes data, const Signature& row) {
  const std::size_t length = row.pattern.size() + (row.tagEnd ? 1 : 0);
  if (data.size() < length) return false;
  std::size_t s = 0;
  if (row.skipsWhitespace) {
    while (s < data.size() && IsWhitespaceByte(data[s])) ++s;
  }
  if (data.size() - s < length) return false;
  for (std::size_t p = 0; p < row.pattern.size(); ++p, ++s) {
    const unsigned char b = row.caseless ? UpperAscii(data[s]) : data[s];
    if ((b & static_cast<unsigned char>(row.mask[p])) != static_cast<unsigned char>(row.pattern[p])) return false;
  }
  return !row.tagEnd || data[s] == 0x20 || data[s] == 0x3E;
}

const char* FirstMatch(Bytes data, const Signature* rows, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (Matches(data, rows[i])) return rows[i].type;
  }
  return nullptr;
}

template <std::size_t N>
const char* FirstMatch(Bytes data, const Signature (&rows)[N]) {
  return FirstMatch(data, rows, N);
}

using namespace std::string_view_literals;
constexpr std::string_view kStrict = "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"sv;

// A row whose pattern is compared whole; an HTML row, after whitespace, letters in any case.
constexpr Signature Exact(std::string_view pattern, const char* type, bool skipsWhitespace = false) {
  return {pattern, kStrict.substr(0, pattern.size()), type, skipsWhitespace};
}
constexpr Signature Tag(std::string_view pattern) {
  return {pattern, kStrict.substr(0, pattern.size()), "text/html", true, true, true};
}

const Signature kScriptable[] = {
    Tag("<!DOCTYPE HTML"), Tag("<HTML"), Tag("<HEAD"), Tag("<SCRIPT"), Tag("<IFRAME"), Tag("<H1"), Tag("<DIV"), Tag("<FONT"),
    Tag("<TABLE"), Tag("<A"), Tag("<STYLE"), Tag("<TITLE"), Tag("<B"), Tag("<BODY"), Tag("<BR"), Tag("<P"),
    Tag("<!--"),
    Exact("<?xml", "text/xml", true),
    Exact("%PDF-", "application/pdf"),
};

const Signature kTextMarks[] = {
    Exact("%!PS-Adobe-", "application/postscript"),
    {"\xFE\xFF\0\0"sv, "\xFF\xFF\0\0"sv, "text/plain"},   // UTF-16BE byte order mark
    {"\xFF\xFE\0\0"sv, "\xFF\xFF\0\0"sv, "text/plain"},   // UTF-16LE byte order mark
    {"\xEF\xBB\xBF\0"sv, "\xFF\xFF\xFF\0"sv, "text/plain"},  // UTF-8 byte order mark
};

const Signature kImages[] = {
    Exact("\0\0\x01\0"sv, "image/x-icon"),
    Exact("\0\0\x02\0"sv, "image/x-icon"),  // a cursor
    Exact("BM", "image/bmp"),
    Exact("GIF87a", "image/gif"),
    Exact("GIF89a", "image/gif"),
    {"RIFF\0\0\0\0WEBPVP"sv, "\xFF\xFF\xFF\xFF\0\0\0\0\xFF\xFF\xFF\xFF\xFF\xFF"sv, "image/webp"},
    Exact("\x89PNG\r\n\x1A\n", "image/png"),
    Exact("\xFF\xD8\xFF", "image/jpeg"),
};

constexpr std::string_view kRiffMask = "\xFF\xFF\xFF\xFF\0\0\0\0\xFF\xFF\xFF\xFF"sv;
const Signature kAudioVideo[] = {
    Exact(".snd", "audio/basic"),
    {"FORM\0\0\0\0AIFF"sv, kRiffMask, "audio/aiff"},
    Exact("ID3", "audio/mpeg"),
    Exact("OggS\0"sv, "application/ogg"),
    Exact("MThd\0\0\0\x06"sv, "audio/midi"),
    {"RIFF\0\0\0\0AVI "sv, kRiffMask, "video/avi"},
    {"RIFF\0\0\0\0WAVE"sv, kRiffMask, "audio/wave"},
};

const Signature kArchives[] = {
    Exact("\x1F\x8B\x08", "application/x-gzip"),
    Exact("PK\x03\x04", "application/zip"),
    Exact("Rar \x1A\x07\0"sv, "application/x-rar-compressed"),  // the standard's pattern, "Rar " and all
};

std::uint32_t BigEndian32(Bytes data, std::size_t at) {
  return static_cast<std::uint32_t>(data[at]) << 24 | static_cast<std::uint32_t>(data[at + 1]) << 16 |
         static_cast<std::uint32_t>(data[at + 2]) << 8 | data[at + 3];
}

// An ISO base media file: an "ftyp" box whose major or a compatible brand starts with "mp4".
bool IsMp4(Bytes data) {
  if (data.size() < 12) return false;
  const std::uint32_t boxSize = BigEndian32(data, 0);
  if (data.size() < boxSize || boxSize % 4 != 0 || data.substr(4, 4) != Bytes(reinterpret_cast<const unsigned char*>("ftyp"), 4))
    return false;
  const Bytes mp4(reinterpret_cast<const unsigned char*>("mp4"), 3);
  if (data.substr(8, 3) == mp4) return true;
  for (std::size_t at = 16; at + 3 <= boxSize; at += 4) {
    if (data.substr(at, 3) == mp4) return true;
  }
  return false;
}

// The length in bytes of the EBML variable-size integer at `at` (its leading zero bits + 1).
std::size_t VintLength(Bytes data, std::size_t at) {
  std::size_t length = 1;
  for (unsigned mask = 0x80; length < 8 && (data[at] & mask) == 0; mask >>= 1) ++length;
  return length;
}

// An EBML header whose DocType element (0x42 0x82), within its first 38 bytes, reads "webm",
// zero bytes allowed before it.
bool IsWebm(Bytes data) {
  if (data.size() < 4 || BigEndian32(data, 0) != 0x1A45DFA3u) return false;
  for (std::size_t at = 4; at + 1 < data.size() && at < 38; ++at) {
    if (data[at] != 0x42 || data[at + 1] != 0x82) continue;
    std::size_t value = at + 2;
    if (value >= data.size()) return false;
    value += VintLength(data, value);
    while (value < data.size() && data[value] == 0) ++value;
    if (value + 4 <= data.size() && data.substr(value, 4) == Bytes(reinterpret_cast<const unsigned char*>("webm"), 4))
      return true;
  }
  return false;
}

// An MPEG audio layer III frame header at `at`; its frame size in `size`.
bool Mp3FrameAt(Bytes data, std::size_t at, std::size_t* size) {
  if (at + 4 > data.size()) return false;
  const unsigned char b1 = data[at + 1], b2 = data[at + 2];
  if (data[at] != 0xFF || (b1 & 0xE0) != 0xE0) return false;
  const unsigned layer = (b1 & 0x06) >> 1, bitrateIndex = (b2 & 0xF0) >> 4, rateIndex = (b2 & 0x0C) >> 2;
  if (layer != 1 || bitrateIndex == 15 || rateIndex == 3) return false;  // layer bits 01: Layer III
  static constexpr unsigned kMp3Rates[15] = {0, 32000, 40000, 48000, 56000, 64000, 80000, 96000,
                                             112000, 128000, 160000, 192000, 224000, 256000, 320000};
  static constexpr unsigned kMp25Rates[15] = {0, 8000, 16000, 24000, 32000, 40000, 48000, 56000,
                                              64000, 80000, 96000, 112000, 128000, 144000, 160000};
  static constexpr unsigned kSampleRates[3] = {44100, 48000, 32000};
  const unsigned version = (b1 & 0x18) >> 3;
  const unsigned bitrate = (version & 1) ? kMp25Rates[bitrateIndex] : kMp3Rates[bitrateIndex];
  const unsigned scale = version == 1 ? 72 : 144;
  *size = bitrate * scale / kSampleRates[rateIndex] + ((b2 & 0x02) ? 1 : 0);
  return true;
}

// Two MPEG audio frame headers in a row from the first byte.
bool IsMp3WithoutId3(Bytes data) {
  std::size_t size = 0, next = 0;
  return Mp3FrameAt(data, 0, &size) && size >= 4 && size <= data.size() && Mp3FrameAt(data, size, &next);
}

}  // namespace

std::string IdentifyUnknownType(const void* bytes, std::size_t length) {
  const Bytes data(static_cast<const unsigned char*>(bytes), std::min(length, kResourceHeaderBytes));
  if (const char* type = FirstMatch(data, kScriptable)) return type;
  if (const char* type = FirstMatch(data, kTextMarks)) return type;
  if (const char* type = FirstMatch(data, kImages)) return type;
  if (const char* type = FirstMatch(data, kAudioVideo)) return type;
  if (IsMp4(data)) return "video/mp4";
  if (IsWebm(data)) return "video/webm";
  if (IsMp3WithoutId3(data)) return "audio/mpeg";
  if (const char* type = FirstMatch(data, kArchives)) return type;
  return std::any_of(data.begin(), data.end(), IsBinaryDataByte) ? "application/octet-stream" : "text/plain";
}
